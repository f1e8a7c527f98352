// The capture log: one block of ten lines per recorded file, kept in the hidden ListBox1 while
// the capture runs and saved as "CapLog.txt" when it ends.
#include <QListWidget>
#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "app/form1.h"
#include "capture/video_display.h"
#include "platform/codepage.h"
#include "platform/files.h"
#include "platform/locale_clock.h"
#include "platform/messages.h"
#include "platform/vfw.h"

namespace {

constexpr char kLogName[] = "CapLog.txt";

// A list line ends at its first zero character, so that the saved log holds none: readers of
// text files stop or stumble at a zero byte.
std::string AnsiLine(QString line) {
    const qsizetype zero = line.indexOf(QChar(u'\0'));
    if (zero >= 0) line.truncate(zero);
    return platform::Utf8ToAnsi(line.toStdString());
}

std::string LogBytes(const QListWidget& list) {
    std::string bytes;
    for (int row = 0; row < list.count(); ++row) {
        bytes += AnsiLine(list.item(row)->text());
        bytes += "\r\n";
    }
    return bytes;
}

int WriteFile(const std::string& hostPath, std::string_view bytes) {
    if (hostPath.empty()) return kFileNoDrive;
    return platform::OverwriteWholeFile(hostPath, bytes);
}

}  // namespace

void TForm1::AppendLogBlock() {
    const char* path = CurrentFilePath.data();
    ListBox1->addItems({
        QString(51, u'-'),
        QStringLiteral("Fichier      : ") +
            QString::fromUtf8(path, static_cast<qsizetype>(strnlen(path, CurrentFilePath.size()))),
        QStringLiteral("Heure        : ") + platform::LongTimeNow(),
        QStringLiteral("Cp Video     : ") + QString::number(FileVideoFrames),
        QStringLiteral("Cp Audio     : ") + QString::number(FileAudioBlocks),
        QStringLiteral("Drop 1       : ") + QString::number(DriverDropCount),
        QStringLiteral("Drop 2       : ") + QString::number(DropCount),
        QStringLiteral("Insert       : ") + QString::number(InsertCount),
        QStringLiteral("Total Defaut : ") + QString::number(TotalDefect),
        QStringLiteral("Taille Fic   : ") + QString::number(FileBytes / 1024U),
    });
}

// Sound the input lost was recorded as silence. The line follows the last block, and only when
// there was any, so that a reader of ten-line blocks reads every block as before.
void TForm1::AppendSilenceLine() {
    const DWORD silenceMs = platform::CaptureSilenceMs(CaptureWindow);
    if (silenceMs > 0)
        ListBox1->addItem(QStringLiteral("Silence      : ") + QString::number(silenceMs));
}

QString TForm1::FormatElapsed(std::uint32_t milliseconds) {
    std::array<char, kElapsedTextSize> text{};
    const std::size_t length = FormatElapsedInto(milliseconds, text.data(), text.size());
    return QString::fromLatin1(text.data(), static_cast<qsizetype>(length));
}

bool TForm1::DeleteFileIfPresent(const QString& name) {
    return DeleteFileA(name.toUtf8().constData()) != FALSE;
}

// A log that cannot be written is said so: the capture's only record of its files' defects
// would otherwise be lost without a word.
void TForm1::SaveCaptureLog() {
    const std::string hostPath = platform::HostPath(kLogName);
    const int error = WriteFile(hostPath, LogBytes(*ListBox1));
    if (error == 0) return;
    std::string text =
        std::string("Impossible d'enregistrer le journal de capture \"") + kLogName + '"';
    const std::string reason = platform::FileErrorReason(error);
    if (!reason.empty()) text += " : " + reason;
    platform::ShowMessage(text + " ...");
}
