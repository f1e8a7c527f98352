// SPDX-License-Identifier: GPL-2.0-or-later
// The main window: every control, every handler and all program-wide state of Vistrel.
#pragma once

#include <QString>
#include <QStringList>
#include <QWidget>
#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "capture/decompressor.h"
#include "capture/driver.h"
#include "capture/run_mode.h"
#include "capture/video_display.h"
#include "platform/vfw.h"
#include "recording/recorder.h"

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPainter;
class QPushButton;
class QTimer;

// The window is what a recording tells of itself: the file's name in Label4, the log's lines in
// ListBox1, its messages, and the stop of a capture that can write nothing more.
class TForm1 : public QWidget, public RecorderEvents {
    Q_OBJECT

  public:
    // `arguments` is the command line, program name first; its second word is the run mode.
    explicit TForm1(const QStringList& arguments, QWidget* parent = nullptr);
    ~TForm1() override;

    // ---- app/: controls, in stacking order within each parent (later above earlier) ----
    QLabel* Panel3;
    QLabel* Image2;
    QLabel* Panel1;
    QLabel* Panel2;
    QLabel* Label4;
    QPushButton* Button1;
    QPushButton* Button4;
    QPushButton* Button3;
    QPushButton* Button2;
    QPushButton* Button5;
    QPushButton* Button6;
    QPushButton* Button7;
    QComboBox* ComboBox1;
    QLabel* Panel4;
    QPushButton* Button8;
    QPushButton* Button9;
    QPushButton* Button11;
    QLineEdit* Edit2;
    QLineEdit* Edit3;
    QListWidget* ListBox1;
    QLabel* Panel6;
    QLabel* Image1;
    QLabel* Panel5;
    QGroupBox* GroupBox1;
    QGroupBox* GroupBox2;
    QLabel* Label3;
    QComboBox* ComboBox4;
    QCheckBox* CheckBox1;
    QGroupBox* GroupBox3;
    QLabel* Label1;
    QLabel* Label2;
    QComboBox* ComboBox2;
    QComboBox* ComboBox3;
    QGroupBox* GroupBox4;
    QLabel* Label5;
    QLabel* Label6;
    QLineEdit* Edit1;
    QComboBox* ComboBox5;
    QPushButton* Button10;
    QLabel* Panel7;
    QTimer* Timer1;
    QTimer* Timer2;

    // ---- app/: run mode and geometry ----
    RunMode Mode = RunMode::Window;  // from the first argument, read once at creation
    bool StartupFailed = false;
    std::uint16_t ScreenWidth = 0;
    std::uint16_t ScreenHeight = 0;
    std::uint16_t TargetWidth = 800;
    std::uint16_t TargetHeight = 600;
    std::uint16_t ImageWidth = 0;
    std::uint16_t ImageHeight = 0;

    // ---- app/: start-up and close (startup.cpp) ----
    std::string AppDirectory;  // the executable's folder, Windows-style, with its separator
    // Creation has returned: from now on a close request ends the program.
    bool Created = false;
    // The start-up resolution has been given back; it is given back once per run.
    bool DisplayRestored = false;

    void FormCreate();
    // Brings the window whole onto the monitor holding most of it (or the nearest one).
    void KeepWindowOnScreen();
    void FormCloseQuery();
    bool IsFullScreenMode() const;
    // Capture, Time and TV: runs that start their capture themselves and end with it.
    bool IsAutomaticMode() const;
    // An automatic run whose capture cannot start has nobody at a window to end it: it closes a
    // second later, its messages acknowledged. Interactive runs stay, for the user to fix it.
    void EndRunThatCannotCapture();
    void Button11Click();

    // ---- app/: window layout (layout.cpp) ----
    static std::uint16_t Percent(long value, long double percent);
    void LayoutWindowed();
    void LayoutFullScreen();
    void FitToCaptureFormat();
    void ShowTimeTile();
    void PlaceTimeWindow();

    // ---- app/: display mode (display_mode.cpp) ----
    LONG SetDisplayResolution(int width, int height, int bitsPerPixel);
    void SwitchDisplayForRunMode();

    // ---- app/: driver, capture window and capture format (driver_controls.cpp) ----
    HWND CaptureWindow = nullptr;
    std::uint8_t DriverIndex = 0;
    std::vector<BYTE> CaptureFormat;
    std::uint16_t CaptureFormatSize = 0;
    // The handlers handed to RegisterHandlers at start-up, registered again after a driver change.
    CaptureHandlers RegisteredHandlers;

    void ListDrivers();
    void ConnectDriver(std::uint8_t index);
    void DisconnectDriver(std::uint8_t index);
    void RegisterHandlers(CAPSTATUSCALLBACK status, CAPVIDEOCALLBACK video, CAPWAVECALLBACK audio);
    void ReadVideoFormat();
    void NameCompression();
    // The capture format's name as Edit2 shows it ("MJPG", "bi_RGB", "Pas de format").
    QString FormatName() const;
    // Frames that come as Motion-JPEG are stored as they come and decompressed to be shown.
    bool DeliversMotionJpeg() const;
    bool NegotiateVideoFormat();
    BITMAPINFOHEADER CaptureFormatHeader() const;
    // Synchronous, so each button's own action follows the click.
    void PlayClick();

    void Button2Click();
    void Button5Click();
    void Button6Click();
    void Button7Click();
    void ComboBox1Change();

    // ---- app/: live picture and sequence capture (picture_controls.cpp) ----
    void SetPreview(bool on);
    bool SetOverlay(bool on);
    void StartLiveDisplay();
    void StartSequence();
    void StopSequence();
    void Button3Click();
    void Button4Click();

    // ---- app/: capture parameters (options_controls.cpp) ----
    // The audio format the two change handlers hand to the capture window.
    std::int16_t AudioChannels = 2;
    std::uint16_t AudioRate = 44100;

    void ApplyCaptureParameters();
    void SetAudioFormat(std::int16_t channels, std::uint16_t rate);
    void ComboBox2Change();
    void ComboBox3Change();

    // ---- app/: the recording (capture_controls.cpp) ----
    Recorder Recording{*this};
    // The compressor the files are written with, found at start-up.
    bool CodecAvailable = false;
    QString CompressorFourCC = QStringLiteral("DIVX");
    std::int32_t LastResult = 0;
    // Edit1's number, read as a capture starts.
    std::uint16_t FrameLimit = 0;

    bool ProbeCompressor(char c1, char c2, char c3, char c4);
    void FileNamed(const QString& path) override;
    void LogLines(const QStringList& lines) override;
    void Tell(const std::string& text, bool warning) override;

    // ---- app/: each frame drawn as the run mode shows it (picture_controls.cpp) ----
    // Its drawing objects are made at start-up and released at close.
    FrameDisplay Display;
    // The recording's tests look at the pictures and the overlay on the window.
    QImage& FrameBitmap = Display.FrameBitmap;
    QImage& Image1Picture = Display.Image1Picture;
    QFont& OverlayFont = Display.OverlayFont;
    QString& OverlayText = Display.OverlayText;

    void OpenDisplayObjects();
    void CloseDisplayObjects();

    // ---- app/: decompressor kept open for a Motion-JPEG card (picture_controls.cpp) ----
    // Prepared at start-up, released at close; no frame is ever sent to it.
    Decompressor DisplayDecompressor;

    void PrepareDecompressor();
    void ReleaseDecompressor();

    // ---- app/: capture run (capture_controls.cpp) ----
    // ListBox1 shows the capture log's lines as they come.
    void StartCapture();
    void StopCapture() override;
    static QString FormatElapsed(std::uint32_t milliseconds);
    static bool DeleteFileIfPresent(const QString& name);
    void Button8Click();
    void Button9Click();
    // FrameLimit from Edit1's text; false (after the conversion error) when it is no whole number.
    bool TakeFrameLimit();
    // Start-up's activation and the start timer (app/startup.cpp).
    void FormActivate();
    void Timer1Timer();
    void Timer2Timer();
    // Set while StartCapture is inside the capture: the service keeps the buttons alive then.
    bool Capturing = false;
    // The system asked the program to end (a signal): a running capture ends as the abort key
    // ends it and the window closes after it; without one it closes at once.
    void EndOnSignal();
    bool CloseAfterCapture = false;

    // ---- app/: options panel (options_controls.cpp) ----
    // Lines 4 to 8 of the settings file into the options they hold.
    void LoadSavedOptions();
    void Button1Click();
    void Button10Click();
    void FillDriveList(QComboBox* list);

    // ---- app/: window skin (skin.cpp) ----
    // Where a drag started: the cursor's screen position and the window's place then. A cursor
    // x of -1 is "no drag under way" (X11 screen positions are never negative).
    struct DragStartValues {
        std::int32_t cursorX = -1;
        std::int32_t cursorY = -1;
        std::int32_t left = 0;
        std::int32_t top = 0;
    };
    DragStartValues DragAnchor;
    // The background tile: decoded once from the resource, then drawn at every paint.
    static const QPixmap& SkinTile();
    // Tiles `tile` from (7, 7) over a canvas of `size`, then draws the bevelled frame unless
    // `tileOnly`.
    static void PaintSkin(QPainter& canvas, QSize size, const QPixmap& tile, bool tileOnly = false);
    void FormPaint();
    void FormMouseDown();
    void FormMouseMove();
    void FormMouseUp();
    void DragStart();
    void DragMove();
    void DragStop();
    void Panel4Click();

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    // app/skin.cpp
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

  private:
    QStringList Arguments;

    // form1.cpp: construction of the controls
    void CreateVideoArea();
    void CreateControlPanel();
    void CreateControlButtons();
    void CreateControlFields();
    void CreateOptionsPanel();
    void CreateVideoOptions();
    void CreateAudioOptions();
    void CreateOtherOptions();
    void CreateTimeTileAndTimers();
    void ConnectHandlers();
    void WatchTitleStrip();  // app/skin.cpp: Panel4's click
    void RaiseInTableOrder();

    // startup.cpp
    bool PlaceWindowFromSettings();
    void RunCreationSteps();
    void RestoreDisplay();
    void PrepareDisplayForRunMode();
    bool PrepareCaptureFormat();
    void ShowLivePicture();
    void ReleaseCaptureWindow();

    // layout.cpp: client alignment of Image1 inside Panel6's bevel
    void FitImage1ToPanel6();

    // driver_controls.cpp
    void RefuseDriver();
    // The click, then the driver's dialog for `message` (a WM_CAP_DLG_ message).
    void OpenDriverDialog(UINT message);
    void RepeatStartupStepsForNewDriver();
    bool RequestVideoFormat(LONG width, LONG height);
    void TakeImageSizeFromFormat();
};

// The program's single main window, reached by the capture service's plain-function callbacks;
// null before it is created and after it is destroyed.
extern TForm1* Form1;
