#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <array>

#include "app/form1.h"
#include "platform/messages.h"
#include "platform/window_handles.h"

namespace {

constexpr int kDescriptionSize = 81;
constexpr std::uint8_t kHighestListedDriver = 5;
constexpr int kDriverIndexRole = Qt::UserRole;
constexpr std::uint8_t kNoSelection = static_cast<std::uint8_t>(-1);

// Name and version of the driver at `index` as "name - version"; empty when there is none.
QString DriverDescription(std::uint8_t index) {
    std::array<char, kDescriptionSize> name{};
    std::array<char, kDescriptionSize> version{};
    if (!capGetDriverDescriptionA(index, name.data(), kDescriptionSize, version.data(),
                                  kDescriptionSize)) {
        return {};
    }
    name.back() = '\0';
    version.back() = '\0';
    return QString::fromUtf8(name.data()) + QStringLiteral(" - ") +
           QString::fromUtf8(version.data());
}

}  // namespace

void TForm1::ListDrivers() {
    const QString first = DriverDescription(0);
    if (!first.isEmpty()) {
        ComboBox1->setEditText(first);
        ComboBox1->lineEdit()->setCursorPosition(0);
    }
    if (ComboBox1->currentText().isEmpty()) {
        platform::ShowMessage("Aucune carte d'acquisition n'a été détectée ...");
        StartupFailed = true;
        close();
    }
    for (std::uint8_t index = 0; index <= kHighestListedDriver; ++index) {
        const QString description = DriverDescription(index);
        if (!description.isEmpty()) AddDriverItem(index, description);
    }
}

// Each item keeps its driver index beside it, so a list with gaps still connects the driver the
// user picked. Adding items leaves the list without a selection and its text unchanged.
void TForm1::AddDriverItem(std::uint8_t index, const QString& description) {
    const QString text = ComboBox1->currentText();
    const int selected = ComboBox1->currentIndex();
    ComboBox1->addItem(description, QVariant::fromValue<uint>(index));
    ComboBox1->setCurrentIndex(selected);
    ComboBox1->setEditText(text);
    ComboBox1->lineEdit()->setCursorPosition(0);
}

// The index of the driver behind the selected item. With no item selected, or its text edited
// away, the list's index -1 is cut to 8 bits: 255, which no driver has.
std::uint8_t TForm1::SelectedDriverIndex() const {
    const int item = ComboBox1->currentIndex();
    if (item < 0 || ComboBox1->currentText() != ComboBox1->itemText(item)) return kNoSelection;
    return static_cast<std::uint8_t>(ComboBox1->itemData(item, kDriverIndexRole).toUInt());
}

HWND TForm1::CreateCaptureWindow() {
    return capCreateCaptureWindowA("fenetre video", WS_CHILD | WS_VISIBLE, 0, 0, Panel1->width(),
                                   Panel1->height(), platform::HandleOf(Panel1), 1);
}

void TForm1::ConnectDriver(std::uint8_t index) {
    if (CaptureWindow != nullptr) return;
    CaptureWindow = CreateCaptureWindow();
    if (SendMessageA(CaptureWindow, WM_CAP_DRIVER_CONNECT, index, 0) == 0) {
        platform::ShowMessage("Connection au driver d'acquisition video impossible ...");
        StartupFailed = true;
        Layout->LayoutWindowed();
        DropCaptureWindow(CaptureWindow);
        CaptureWindow = nullptr;
        return;
    }
    CAPSTATUS status{};
    SendMessageA(CaptureWindow, WM_CAP_GET_STATUS, sizeof(CAPSTATUS),
                 reinterpret_cast<LPARAM>(&status));
    ImageWidth = LOWORD(status.uiImageWidth);
    ImageHeight = LOWORD(status.uiImageHeight);
    // The first window only told the picture size; the second one gets the laid-out panel's.
    DisconnectDriver(index);
    if (FillsTheScreen(Mode)) {
        Layout->LayoutFullScreen();
    } else {
        Layout->LayoutWindowed();
    }
    CaptureWindow = CreateCaptureWindow();
    SendMessageA(CaptureWindow, WM_CAP_DRIVER_CONNECT, index, 0);
}

void TForm1::DisconnectDriver(std::uint8_t index) {
    if (CaptureWindow == nullptr) return;
    SendMessageA(CaptureWindow, WM_CAP_DRIVER_DISCONNECT, index, 0);
    DropCaptureWindow(CaptureWindow);
    CaptureWindow = nullptr;
}

// A window whose handle the program lets go of would otherwise linger in Panel1 under the live
// picture; it is hidden now and deleted once control is back in the event loop, since the
// capture service may still be inside one of its own messages.
void TForm1::DropCaptureWindow(HWND window) {
    if (QWidget* widget = platform::WidgetOf(window)) {
        widget->hide();
        widget->deleteLater();
    }
}

// The old card's decompressor goes with it, whatever the new one turns out to deliver.
// A driver change during a capture would take the capture's own driver away from it.
void TForm1::ComboBox1Change() {
    if (Capturing) return;
    if (DeliversMotionJpeg()) ReleaseDecompressor();
    if (CaptureWindow != nullptr) DisconnectDriver(DriverIndex);
    DriverIndex = SelectedDriverIndex();
    ConnectDriver(DriverIndex);
    if (CaptureWindow == nullptr) return;
    RepeatStartupStepsForNewDriver();
}

// The handlers are kept, so that a driver change can register them with the new window.
void TForm1::RegisterHandlers(CAPSTATUSCALLBACK status, CAPVIDEOCALLBACK video,
                              CAPWAVECALLBACK audio) {
    RegisteredStatusHandler = status;
    RegisteredVideoHandler = video;
    RegisteredAudioHandler = audio;
    SendMessageA(CaptureWindow, WM_CAP_SET_CALLBACK_STATUSA, 0, reinterpret_cast<LPARAM>(status));
    SendMessageA(CaptureWindow, WM_CAP_SET_CALLBACK_VIDEOSTREAM, 0,
                 reinterpret_cast<LPARAM>(video));
    if (Mode != RunMode::TV) {
        SendMessageA(CaptureWindow, WM_CAP_SET_CALLBACK_WAVESTREAM, 0,
                     reinterpret_cast<LPARAM>(audio));
    }
}

// A new driver gets what start-up gave the first one, so that a capture after the change is
// recorded: the same handlers, its own format read, named and negotiated, then live display, its
// decompressor when it delivers Motion-JPEG and a frame bitmap of its size.
// Its window starts from the service's own capture parameters (another frame period, mouse
// clicks that stop a capture), so the options go to it again even when its format was refused.
void TForm1::RepeatStartupStepsForNewDriver() {
    RegisterHandlers(RegisteredStatusHandler, RegisteredVideoHandler, RegisteredAudioHandler);
    ReadVideoFormat();
    NameCompression();
    const bool negotiated = NegotiateVideoFormat();
    ApplyCaptureParameters();
    if (!negotiated) return;
    TakeImageSizeFromFormat();
    Layout->FitToCaptureFormat();
    StartLiveDisplay();
    if (DeliversMotionJpeg()) PrepareDecompressor();
    CloseDisplayObjects();
    OpenDisplayObjects();
}
