// Starting and stopping a capture, and the names of the files it records.
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPointer>
#include <QPushButton>
#include <algorithm>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <vector>

#include "app/form1.h"
#include "platform/conversions.h"
#include "platform/locale_clock.h"
#include "platform/messages.h"

namespace {

// CurrentFilePath's characters before its terminating zero.
constexpr qsizetype kPathCapacity = 255;
// The highest file number a capture can reach: FileIndex is 16 bits wide.
constexpr std::uint16_t kLastFileIndex = 65535;

constexpr char kPathTooLong[] =
    "Le chemin des fichiers de capture dépasserait 255 caractères : choisissez un disque de "
    "destination plus court dans les Options ...";
constexpr char kForbiddenCharacter[] =
    "Le disque de destination des fichiers de capture contient un caractère qu'un nom de fichier "
    "ne peut pas contenir : choisissez un autre disque de destination dans les Options ...";

// Slashes of the date and colons of the time become hyphens; a drive letter's colon (the second
// character) stays.
QString FileName(const QString& destination, const QString& stamp, std::uint16_t index) {
    QString name = destination + QStringLiteral("VST_") + stamp + u'_' + QString::number(index) +
                   QStringLiteral(".avi");
    for (qsizetype i = 0; i < name.size(); ++i) {
        if (name[i] == u'/' || (name[i] == u':' && i >= 2)) name[i] = u'-';
    }
    return name;
}

// A zero would cut the name short wherever it stands (the file system sees only what comes
// before it), and the other characters no Windows name may hold make a name nobody chose.
bool Forbidden(QChar c) {
    const char16_t code = c.unicode();
    return code < 0x20 || (code >= 0x7F && code <= 0x9F) || QStringView(u"<>\"|?*").contains(c);
}

// Every file a capture may come to need must fit CurrentFilePath whole and be named only as the
// program builds it: a name cut short or holding a forbidden character would record under a name
// nobody chose, over whatever file has it, so the start is refused instead.
bool FileNamesFit(const TForm1& form) {
    const QString last = FileName(form.CaptureDestination, form.CaptureStamp, kLastFileIndex);
    if (std::any_of(last.cbegin(), last.cend(), Forbidden)) {
        platform::ShowMessage(kForbiddenCharacter);
        return false;
    }
    if (last.toUtf8().size() <= kPathCapacity) return true;
    platform::ShowMessage(kPathTooLong);
    return false;
}

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

}  // namespace

bool TForm1::TakeFrameLimit() {
    const std::optional<std::int32_t> number = platform::StrToInt(Edit1->text());
    if (!number) return false;
    FrameLimit = static_cast<std::uint16_t>(*number);
    return true;
}

// The capture service keeps handling the buttons while it captures: a second start inside a
// capture would reset the running capture's state and open a file over the one still open.
void TForm1::StartCapture() {
    if (Capturing) return;
    Panel6->show();
    SetOverlay(false);
    ResetForCapture();
    if (!TakeFrameLimit()) return;
    ResetFileNames();
    ListBox1->clear();
    CaptureStamp = platform::ShortDateNow() + u'_' + platform::LongTimeNow();
    // Taken once: a roll-over names its file from what was checked here, whatever is typed since.
    CaptureDestination = ComboBox5->currentText();
    TakeCaptureRates();
    // TV mode shows the card and writes nothing: no name of its can be wrong.
    if (Mode != RunMode::TV && !FileNamesFit(*this)) return;
    BuildFilePath();
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

// A name too long for CurrentFilePath leaves it empty rather than cut: opening the empty name
// fails and says so. StartCapture refuses such captures, so only a direct call meets this.
void TForm1::BuildFilePath() {
    const QString name = FileName(CaptureDestination, CaptureStamp, FileIndex);
    const QByteArray bytes = name.toUtf8();
    const qsizetype length = bytes.size() <= kPathCapacity ? bytes.size() : 0;
    std::copy_n(bytes.constData(), length, CurrentFilePath.begin());
    CurrentFilePath[static_cast<std::size_t>(length)] = '\0';
    Label4->setText(name);
    Label4->adjustSize();  // the label sizes itself to the name, as the layout's labels do
    Label4->repaint();
}

std::string TForm1::FilePathOf(std::uint16_t index) const {
    return FileName(CaptureDestination, CaptureStamp, index).toStdString();
}

void TForm1::Button8Click() {
    StartCapture();
}

void TForm1::Button9Click() {
    StopCapture();
}
