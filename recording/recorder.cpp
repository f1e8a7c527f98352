// SPDX-License-Identifier: GPL-2.0-or-later
// A recording's start and end, and the names of the files it records.
#include "recording/recorder.h"

#include <algorithm>
#include <utility>

#include "platform/files.h"

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

constexpr char kNoDriveHolds[] =
    "Aucun disque ne contient le dossier de destination des fichiers de capture : choisissez un "
    "autre disque de destination dans les Options ...";

// Slashes of the date and colons of the time become hyphens, so that they never split the name;
// a drive letter's colon (the second character) stays.
void Hyphenate(QString& name, qsizetype from) {
    for (qsizetype i = from; i < name.size(); ++i) {
        if (name[i] == u'/' || (name[i] == u':' && i >= 2)) name[i] = u'-';
    }
}

// A destination typed as a drive letter and a folder is hyphenated with the name, as it always
// was; one typed as the system names a folder ("/…" or "~/…") has already been spelled through
// the drives at the start, and its own colons, legal in a Linux name, stay.
QString FileName(const QString& destination, const QString& stamp, std::uint16_t index,
                 bool systemFolder) {
    QString name = destination + QStringLiteral("VST_") + stamp + u'_' + QString::number(index) +
                   QStringLiteral(".avi");
    Hyphenate(name, systemFolder ? destination.size() : 0);
    return name;
}

bool IsSystemFolder(const QString& destination) {
    return destination.startsWith(u'/') || destination.startsWith(QStringLiteral("~/"));
}

// A zero would cut the name short wherever it stands (the file system sees only what comes
// before it), and the other characters no Windows name may hold make a name nobody chose.
bool Forbidden(QChar c) {
    const char16_t code = c.unicode();
    return code < 0x20 || (code >= 0x7F && code <= 0x9F) || QStringView(u"<>\"|?*").contains(c);
}

}  // namespace

Recorder::Recorder(RecorderEvents& events) : events_(events) {}

Recorder::~Recorder() = default;

void Recorder::ResetCounters() {
    state_.ResetForCapture();
}

bool Recorder::Start(RecordingInput input, bool writesFiles) {
    input_ = std::move(input);
    systemFolder_ = IsSystemFolder(input_.destination);
    if (systemFolder_)
        input_.destination =
            QString::fromStdString(platform::WindowsFolder(input_.destination.toStdString()));
    ResetCounters();
    state_.ResetFileNames();
    log_.clear();
    if (writesFiles && !FileNamesFit()) return false;
    BuildFilePath();
    return true;
}

void Recorder::Frame(const VIDEOHDR& frame) {
    RecordFrame(frame);
}

void Recorder::Sound(const WAVEHDR& buffer) {
    RecordAudioBuffer(buffer);
}

void Recorder::Finish(DWORD silenceMs) {
    FinishLastFile(silenceMs);
}

// Every file a capture may come to need must fit CurrentFilePath whole and be named only as the
// program builds it: a name cut short or holding a forbidden character would record under a name
// nobody chose, over whatever file has it, so the start is refused instead.
bool Recorder::FileNamesFit() const {
    if (systemFolder_ && input_.destination.isEmpty()) {
        events_.Tell(kNoDriveHolds, false);
        return false;
    }
    const QString last = FileName(input_.destination, input_.stamp, kLastFileIndex, systemFolder_);
    if (std::any_of(last.cbegin(), last.cend(), Forbidden)) {
        events_.Tell(kForbiddenCharacter, false);
        return false;
    }
    if (last.toUtf8().size() <= kPathCapacity) return true;
    events_.Tell(kPathTooLong, false);
    return false;
}

// A name too long for CurrentFilePath leaves it empty rather than cut: opening the empty name
// fails and says so. Start refuses such captures, so only one that writes no file meets this.
void Recorder::BuildFilePath() {
    const QString name =
        FileName(input_.destination, input_.stamp, state_.FileIndex, systemFolder_);
    const QByteArray bytes = name.toUtf8();
    const qsizetype length = bytes.size() <= kPathCapacity ? bytes.size() : 0;
    std::copy_n(bytes.constData(), length, state_.CurrentFilePath.begin());
    state_.CurrentFilePath[static_cast<std::size_t>(length)] = '\0';
    events_.FileNamed(name);
}

std::string Recorder::FilePathOf(std::uint16_t index) const {
    return FileName(input_.destination, input_.stamp, index, systemFolder_).toStdString();
}

// A file replaced by a roll-over has its log block already, and the file named after it was
// never opened: only an open file is logged at the end. A capture ended by a refused write says
// so once its file is complete and its log saved.
void Recorder::FinishLastFile(DWORD silenceMs) {
    CloseAviOutput();
    state_.FileOpen = false;
    // A file the disk refused before it took anything is removed, one whose folder was deleted
    // is gone: the log names only files that exist.
    const RecordingState::WriteFailure& failed = state_.WriteFailed;
    const bool removed = failed.Met && (failed.Empty || failed.Error == kFileRemoved);
    if (!state_.FullFileWaiting && !removed) AppendLogBlock();
    state_.FullFileWaiting = false;
    AppendSilenceLine(silenceMs);
    SaveCaptureLog();
    ReportWriteFailure();
}
