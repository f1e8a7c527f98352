// File names, the capture log's block and file, and the elapsed-time text.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QListWidget>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <clocale>
#include <cstring>
#include <string>

#include "tests/fakes/form_under_test.h"
#include "tests/support/recorder_internals.h"

namespace {

using fakes::FormUnderTest;

// The log lands in the working directory: each test gets an empty one of its own.
class InTemporaryDirectory {
  public:
    InTemporaryDirectory() : previous_(QDir::currentPath()) { QDir::setCurrent(directory_.path()); }
    ~InTemporaryDirectory() { QDir::setCurrent(previous_); }
    InTemporaryDirectory(const InTemporaryDirectory&) = delete;
    InTemporaryDirectory& operator=(const InTemporaryDirectory&) = delete;
    QString Path(const QString& name) const { return directory_.filePath(name); }

  private:
    QTemporaryDir directory_;
    QString previous_;
};

// A Recorder with its state and input in reach, and what it told.
struct Bare {
    fakes::FakeMachine machine;
    support::RememberedEvents events;
    Recorder recorder{events};
    RecordingState& state = RecorderInternals::State(recorder);
    RecordingInput& input = RecorderInternals::Input(recorder);
    QStringList& log = RecorderInternals::Log(recorder);

    std::string Path() const {
        const auto& path = state.CurrentFilePath;
        return std::string(path.data(), strnlen(path.data(), path.size()));
    }
    void BuildFilePath() { RecorderInternals::BuildFilePath(recorder); }
    void AppendLogBlock() { RecorderInternals::AppendLogBlock(recorder); }
    void SaveCaptureLog() { RecorderInternals::SaveCaptureLog(recorder); }
};

QByteArray ReadAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

TEST(FormatElapsed, HoursMinutesSecondsWithHoursUnbounded) {
    const struct {
        std::uint32_t milliseconds;
        const char* text;
    } cases[] = {
        {0, "00:00:00"},          {999, "00:00:00"},          {1000, "00:00:01"},
        {59'999, "00:00:59"},     {3'599'999, "00:59:59"},    {3'600'000, "01:00:00"},
        {90'061'000, "25:01:01"}, {360'000'000, "100:00:00"}, {4'294'967'295u, "1193:02:47"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(TForm1::FormatElapsed(c.milliseconds), QString::fromLatin1(c.text))
            << c.milliseconds;
    }
}

TEST(BuildFilePath, ReplacesSlashesAndEveryColonButTheDrives) {
    const struct {
        const char* destination;
        const char* stamp;
        std::uint16_t index;
        const char* name;
    } cases[] = {
        {"C:\\", "06/12/2026_14:03:27", 1, "C:\\VST_06-12-2026_14-03-27_1.avi"},
        {"D:\\", "06/12/2026_19:19:01", 2, "D:\\VST_06-12-2026_19-19-01_2.avi"},
        {"C:\\", "06.12.2026_14:03:27", 0, "C:\\VST_06.12.2026_14-03-27_0.avi"},
        {"", "12/06/26_14:03:27", 65535, "VST_12-06-26_14-03-27_65535.avi"},
        {"C:", "12/06/26_14:03:27", 0, "C:VST_12-06-26_14-03-27_0.avi"},
        {"C::\\", "1/2/26_9:03:27", 0, "C:-\\VST_1-2-26_9-03-27_0.avi"},
        {"E:\\Vidéos/a:b\\", "06/12/2026_14:03:27", 3,
         "E:\\Vidéos-a-b\\VST_06-12-2026_14-03-27_3.avi"},
    };
    Bare r;
    for (const auto& c : cases) {
        r.state.CurrentFilePath.fill('Z');  // a longer name left behind must not show through
        r.input.destination = QString::fromUtf8(c.destination);
        r.input.stamp = QString::fromUtf8(c.stamp);
        r.state.FileIndex = c.index;
        r.BuildFilePath();
        EXPECT_EQ(r.Path(), c.name);
        EXPECT_EQ(r.events.names.back(), QString::fromUtf8(c.name));
    }
}

// The buffer takes 255 bytes of UTF-8 and a zero; a longer name is refused, never cut.
TEST(BuildFilePath, NameLongerThanTheBufferIsRefusedNotCut) {
    const QString stamp = QStringLiteral("06/12/2026_14:03:27");  // the name adds 29 characters
    const struct {
        QString destination;
        bool fits;
    } cases[] = {
        {QString(226, u'x'), true},
        {QString(227, u'x'), false},
        {QString(113, u'é'), true},  // two bytes each
        {QString(113, u'é') + u'x', false},
    };
    Bare r;
    for (const auto& c : cases) {
        r.state.CurrentFilePath.fill('Z');
        r.input.destination = c.destination;
        r.input.stamp = stamp;
        r.BuildFilePath();
        const QString name = c.destination + QStringLiteral("VST_06-12-2026_14-03-27_0.avi");
        EXPECT_EQ(r.Path(), c.fits ? name.toStdString() : std::string());
        EXPECT_EQ(r.events.names.back(), name);
    }
}

TEST(AppendLogBlock, TenLinesAppendedWithTheVariablesAsTheyStand) {
    std::setlocale(LC_TIME, "C");
    Bare r;
    r.log << QStringLiteral("earlier block");
    std::strcpy(r.state.CurrentFilePath.data(), "C:\\VST_06-12-2026_14-03-27_0.avi");
    r.state.FileVideoFrames = 18125;
    r.state.FileAudioBlocks = -3;
    r.state.DriverDropCount = 0;
    r.state.DropCount = 4'294'967'295u;
    r.state.InsertCount = 1;
    r.state.TotalDefect = -12;
    r.state.FileBytes = 2'099'200'000u;
    r.AppendLogBlock();
    const QStringList lines = r.log;
    EXPECT_EQ(r.events.log, lines.mid(1)) << "the window is told the new lines";
    ASSERT_EQ(lines.size(), 11);
    EXPECT_EQ(lines[0], QStringLiteral("earlier block"));
    EXPECT_EQ(lines[1], QString(51, u'-'));
    EXPECT_EQ(lines[2], QStringLiteral("Fichier      : C:\\VST_06-12-2026_14-03-27_0.avi"));
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^Heure        : \\d\\d:\\d\\d:\\d\\d$"))
                    .match(lines[3])
                    .hasMatch())
        << lines[3].toStdString();
    EXPECT_EQ(lines.mid(4), (QStringList{
                                QStringLiteral("Cp Video     : 18125"),
                                QStringLiteral("Cp Audio     : -3"),
                                QStringLiteral("Drop 1       : 0"),
                                QStringLiteral("Drop 2       : 4294967295"),
                                QStringLiteral("Insert       : 1"),
                                QStringLiteral("Total Defaut : -12"),
                                QStringLiteral("Taille Fic   : 2050000"),
                            }));
}

TEST(AppendLogBlock, FileSizeInWholeKibibytes) {
    const struct {
        std::uint32_t bytes;
        const char* line;
    } cases[] = {
        {0, "Taille Fic   : 0"},
        {1023, "Taille Fic   : 0"},
        {1024, "Taille Fic   : 1"},
        {2'099'199'999u, "Taille Fic   : 2049999"},
        {4'294'967'295u, "Taille Fic   : 4194303"},
    };
    Bare r;
    for (const auto& c : cases) {
        r.log.clear();
        r.state.FileBytes = c.bytes;
        r.AppendLogBlock();
        EXPECT_EQ(r.log.value(9), QString::fromLatin1(c.line));
    }
}

TEST(SaveCaptureLog, WindowsTextWithCrLfAfterEveryLine) {
    const struct {
        QStringList lines;
        QByteArray bytes;
    } cases[] = {
        {{}, ""},
        {{QStringLiteral("abc")}, "abc\r\n"},
        {{QStringLiteral("Fichier      : C:\\Vidéos\\VST_0.avi"), QString()},
         "Fichier      : C:\\Vid\xe9os\\VST_0.avi\r\n\r\n"},
        {{QStringLiteral("cut") + QChar(u'\0') + QStringLiteral("tail"), QStringLiteral("€")},
         "cut\r\n\x80\r\n"},
    };
    InTemporaryDirectory directory;
    Bare r;
    for (const auto& c : cases) {
        r.log = c.lines;
        r.SaveCaptureLog();
        EXPECT_EQ(ReadAll(directory.Path(QStringLiteral("CapLog.txt"))), c.bytes);
    }
    EXPECT_TRUE(r.events.texts.empty());
}

TEST(SaveCaptureLog, FailureIsReported) {
    InTemporaryDirectory directory;
    ASSERT_TRUE(QDir(directory.Path({})).mkdir(QStringLiteral("CapLog.txt")));
    Bare r;
    r.log << QStringLiteral("line");
    r.SaveCaptureLog();
    EXPECT_EQ(r.events.texts,
              std::vector<std::string>{"Impossible d'enregistrer le journal de capture "
                                       "\"CapLog.txt\" : ce n'est pas un fichier ..."});
}

TEST(DeleteFileIfPresent, TrueOnlyWhenAFileWasDeleted) {
    enum class Present { File, Nothing, Folder };
    const struct {
        Present present;
        bool result;
    } cases[] = {{Present::File, true}, {Present::Nothing, false}, {Present::Folder, false}};
    for (const auto& c : cases) {
        InTemporaryDirectory directory;
        const QString path = directory.Path(QStringLiteral("CapLog.txt"));
        if (c.present == Present::File) {
            QFile file(path);
            ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        }
        if (c.present == Present::Folder) {
            ASSERT_TRUE(QDir().mkdir(path));
        }
        EXPECT_EQ(TForm1::DeleteFileIfPresent(QStringLiteral("CapLog.txt")), c.result);
        EXPECT_EQ(QFile::exists(path), c.present == Present::Folder);
    }
}

}  // namespace
