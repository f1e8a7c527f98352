// SPDX-License-Identifier: GPL-2.0-or-later
// The capture log: one block of ten lines per recorded file, kept while the capture runs (the
// window shows each line as it comes) and saved as "CapLog.txt" when it ends.
#include <cstring>
#include <string>
#include <string_view>

#include "platform/codepage.h"
#include "platform/files.h"
#include "platform/locale_clock.h"
#include "recording/recorder.h"

namespace {

constexpr char kLogName[] = "CapLog.txt";

// A list line ends at its first zero character, so that the saved log holds none: readers of
// text files stop or stumble at a zero byte.
std::string AnsiLine(QString line) {
    const qsizetype zero = line.indexOf(QChar(u'\0'));
    if (zero >= 0) line.truncate(zero);
    return platform::Utf8ToAnsi(line.toStdString());
}

std::string LogBytes(const QStringList& lines) {
    std::string bytes;
    for (const QString& line : lines) {
        bytes += AnsiLine(line);
        bytes += "\r\n";
    }
    return bytes;
}

int WriteFile(const std::string& hostPath, std::string_view bytes) {
    if (hostPath.empty()) return kFileNoDrive;
    return platform::OverwriteWholeFile(hostPath, bytes);
}

}  // namespace

void Recorder::AppendLog(const QStringList& lines) {
    log_ += lines;
    events_.LogLines(lines);
}

void Recorder::AppendLogBlock() {
    const RecordingState& s = state_;
    const char* path = s.CurrentFilePath.data();
    AppendLog({
        QString(51, u'-'),
        QStringLiteral("Fichier      : ") +
            QString::fromUtf8(path,
                              static_cast<qsizetype>(strnlen(path, s.CurrentFilePath.size()))),
        QStringLiteral("Heure        : ") + platform::LongTimeNow(),
        QStringLiteral("Cp Video     : ") + QString::number(s.FileVideoFrames),
        QStringLiteral("Cp Audio     : ") + QString::number(s.FileAudioBlocks),
        QStringLiteral("Drop 1       : ") + QString::number(s.DriverDropCount),
        QStringLiteral("Drop 2       : ") + QString::number(s.DropCount),
        QStringLiteral("Insert       : ") + QString::number(s.InsertCount),
        QStringLiteral("Total Defaut : ") + QString::number(s.TotalDefect),
        QStringLiteral("Taille Fic   : ") + QString::number(s.FileBytes / 1024U),
    });
}

// Sound the input lost was recorded as silence. The line follows the last block, and only when
// there was any, so that a reader of ten-line blocks reads every block as before.
void Recorder::AppendSilenceLine(DWORD silenceMs) {
    if (silenceMs > 0) AppendLog({QStringLiteral("Silence      : ") + QString::number(silenceMs)});
}

// A log that cannot be written is said so: the capture's only record of its files' defects
// would otherwise be lost without a word.
void Recorder::SaveCaptureLog() {
    const std::string hostPath = platform::HostPath(kLogName);
    const int error = WriteFile(hostPath, LogBytes(log_));
    if (error == 0) return;
    std::string text =
        std::string("Impossible d'enregistrer le journal de capture \"") + kLogName + '"';
    const std::string reason = platform::FileErrorReason(error);
    if (!reason.empty()) text += " : " + reason;
    events_.Tell(text + " ...", false);
}
