// SPDX-License-Identifier: GPL-2.0-or-later
// Starting and stopping a capture from the window, and what the recording tells the window.
#include <QComboBox>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPointer>
#include <QPushButton>
#include <algorithm>
#include <array>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <vector>

#include "app/form1.h"
#include "capture/capture_parameters.h"
#include "capture/dialogs.h"
#include "capture/video_display.h"
#include "platform/avifile.h"
#include "platform/conversions.h"
#include "platform/files.h"
#include "platform/locale_clock.h"
#include "platform/messages.h"

namespace {

// While a capture runs the window keeps handling events, so that "Stop" and "Quitter" work: what
// would change the driver, its formats, the options or start a second capture is disabled until
// it ends. Only what was enabled is, and is given back.
std::vector<QPointer<QWidget>> DisableDuringCapture(TForm1& form) {
    std::vector<QPointer<QWidget>> disabled;
    for (QWidget* w : std::initializer_list<QWidget*>{
             form.Button1, form.Button2, form.Button3, form.Button4, form.Button5, form.Button6,
             form.Button7, form.Button8, form.ComboBox1, form.Panel5}) {
        if (w == nullptr || !w->isEnabled()) continue;
        w->setEnabled(false);
        disabled.emplace_back(w);
    }
    return disabled;
}

// The capture runs inside the sequence request; the status handler may close the window in it.
// A window still open when a capture ended on the system's request closes now, as it closes
// every other way, once the file is complete and the log saved.
void RunSequence(TForm1& form) {
    const QPointer<TForm1> alive(&form);
    form.Capturing = true;
    const std::vector<QPointer<QWidget>> disabled = DisableDuringCapture(form);
    form.StartSequence();
    if (!alive) return;
    form.Capturing = false;
    for (const QPointer<QWidget>& w : disabled)
        if (w) w->setEnabled(true);
    if (form.CloseAfterCapture && form.isVisible()) form.close();
}

// Taken once: a roll-over names its file from what was checked here, whatever is typed since.
RecordingInput TakeRecordingInput(const TForm1& form) {
    const auto size = std::min<std::size_t>(form.CaptureFormatSize, form.CaptureFormat.size());
    RecordingInput input;
    input.destination = form.ComboBox5->currentText();
    input.stamp = platform::ShortDateNow() + u'_' + platform::LongTimeNow();
    input.storedAsDelivered = form.DeliversMotionJpeg();
    input.format.assign(form.CaptureFormat.begin(), form.CaptureFormat.begin() + long(size));
    input.compressor = form.CompressorFourCC;
    const CaptureRates rates = ReadCaptureRates(form.CaptureWindow);
    input.framePeriodUs = rates.framePeriodUs;
    input.soundBytesPerSecond = rates.soundBytesPerSecond;
    return input;
}

}  // namespace

bool TForm1::TakeFrameLimit() {
    const std::optional<std::int32_t> number = platform::StrToInt(Edit1->text());
    if (!number) return false;
    FrameLimit = static_cast<std::uint16_t>(*number);
    return true;
}

// The capture service keeps handling the buttons while it captures: a second start inside a
// capture would reset the running capture's state and open a file over the one still open.
// TV mode shows the card and writes nothing: no name of its can be wrong.
void TForm1::StartCapture() {
    if (Capturing) return;
    Panel6->show();
    SetOverlay(false);
    Recording.ResetCounters();
    if (!TakeFrameLimit()) return;
    ListBox1->clear();
    if (!Recording.Start(TakeRecordingInput(*this), Mode != RunMode::TV)) return;
    DeleteFileIfPresent(QStringLiteral("CapLog.txt"));
    RunSequence(*this);
}

void TForm1::StopCapture() {
    StopSequence();
}

void TForm1::EndOnSignal() {
    if (!Capturing) {
        close();
        return;
    }
    CloseAfterCapture = true;
    StopCapture();
}

void TForm1::Button8Click() {
    StartCapture();
}

void TForm1::Button9Click() {
    StopCapture();
}

bool TForm1::ProbeCompressor(char c1, char c2, char c3, char c4) {
    LastResult = ::ProbeCompressor(MAKEFOURCC(c1, c2, c3, c4));
    return LastResult == AVIERR_OK;
}

// The label shows the name as the recording builds it; its tooltip, the folder the file goes to
// as the system knows it, which a drive letter or a relative name does not tell.
void TForm1::FileNamed(const QString& path) {
    const std::string host = platform::HostPath(path.toStdString());
    Label4->setToolTip(host.empty() ? QString()
                                    : QFileInfo(QString::fromStdString(host)).absolutePath());
    Label4->setText(path);
    Label4->adjustSize();  // the label sizes itself to the name, as the layout's labels do
    Label4->repaint();
}

void TForm1::LogLines(const QStringList& lines) {
    ListBox1->addItems(lines);
}

void TForm1::Tell(const std::string& text, bool warning) {
    if (warning) {
        ReportError(QString::fromStdString(text));
    } else {
        platform::ShowMessage(text);
    }
}

QString TForm1::FormatElapsed(std::uint32_t milliseconds) {
    std::array<char, kElapsedTextSize> text{};
    const std::size_t length = FormatElapsedInto(milliseconds, text.data(), text.size());
    return QString::fromLatin1(text.data(), static_cast<qsizetype>(length));
}

bool TForm1::DeleteFileIfPresent(const QString& name) {
    return DeleteFileA(name.toUtf8().constData()) != FALSE;
}
