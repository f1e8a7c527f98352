// SPDX-License-Identifier: GPL-2.0-or-later
// The files' names, the capture log's blocks and file, and the window's elapsed-time text and
// removal of the last log.
#include <QRegularExpression>

#include "tests/recording/recording_fixture.h"

namespace {

using recording_test::ReadAll;
using recording_test::Recording;

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

// Slashes of the date and colons of the time become hyphens; a drive letter's colon stays.
TEST(BuildFilePath, TheDestinationTheStampAndTheNumber) {
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
    Recording rec;
    for (const auto& c : cases) {
        rec.input.destination = QString::fromUtf8(c.destination);
        rec.input.stamp = QString::fromUtf8(c.stamp);
        ASSERT_TRUE(rec.Start()) << c.name;
        EXPECT_EQ(rec.recorder.FilePathOf(c.index), c.name);
        // The first file's name, as the window is told it and as it is opened.
        EXPECT_EQ(rec.events.names.back().toStdString(), rec.recorder.FilePathOf(0));
        EXPECT_EQ(rec.Path(), rec.recorder.FilePathOf(0));
    }
}

// A name holds 255 bytes of UTF-8 and a zero. A capture that writes files is refused at its start
// when its last possible name (number 65535) would not fit; one that writes none (TV) starts, and
// a first name that would not fit is left empty, never cut.
TEST(BuildFilePath, ANameTooLongIsRefusedNeverCut) {
    const struct {
        QString destination;  // the name adds 29 bytes to it, 33 for number 65535
        bool writesFiles;
        bool starts;
        bool named;
    } cases[] = {
        {QString(222, u'x'), true, true, true},          {QString(223, u'x'), true, false, false},
        {QString(111, u'é'), true, true, true},  // two bytes each
        {QString(111, u'é') + u'x', true, false, false}, {QString(226, u'x'), false, true, true},
        {QString(227, u'x'), false, true, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.destination.toStdString());
        Recording rec;
        rec.input.destination = c.destination;
        EXPECT_EQ(rec.recorder.Start(rec.input, c.writesFiles), c.starts);
        EXPECT_EQ(rec.events.texts.size(), c.starts ? 0u : 1u);
        EXPECT_EQ(rec.Path(), c.named ? rec.recorder.FilePathOf(0) : std::string());
    }
}

// A block of ten lines for each file, with its counters as it ends, and the silence the sound
// input put in after the last block; every line is shown in the window as it comes. The log is
// saved as Windows text (Windows-1252, CR LF after every line).
TEST(SaveCaptureLog, ABlockForEachFileSavedAsWindowsText) {
    Recording rec;
    ASSERT_TRUE(QDir().mkdir(QStringLiteral("Vidéos €")));
    rec.input.destination = QStringLiteral("C:\\Vidéos €\\");
    rec.input.framePeriodUs = 40'000;
    rec.Start();
    for (const DWORD t : {0, 40, 120}) rec.Frame(t);  // 80 missed
    rec.Sound(7056);
    rec.Sound(7056);
    rec.Finish(1200);

    const QString heure = rec.Log().value(2);
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^Heure        : \\d\\d:\\d\\d:\\d\\d$"))
                    .match(heure)
                    .hasMatch())
        << heure.toStdString();
    EXPECT_EQ(rec.Log().value(1),
              QStringLiteral("Fichier      : C:\\Vidéos €\\VST_06-12-2026_14-03-27_0.avi"));
    EXPECT_EQ(rec.events.log, rec.Log());
    const QByteArray size = QByteArray::number((4 * rec.picture.size() + 2 * 7056) / 1024);
    const QList<QByteArray> saved = {
        QByteArray(51, '-'),  "Fichier      : C:\\Vid\xe9os \x80\\VST_06-12-2026_14-03-27_0.avi",
        heure.toLatin1(),     "Cp Video     : 4",
        "Cp Audio     : 2",   "Drop 1       : 0",
        "Drop 2       : 0",   "Insert       : 1",
        "Total Defaut : 0",   "Taille Fic   : " + size,
        "Silence      : 1200"};
    EXPECT_EQ(ReadAll(QStringLiteral("CapLog.txt")), saved.join("\r\n") + "\r\n");
    EXPECT_TRUE(rec.events.texts.empty());
}

TEST(SaveCaptureLog, ALogThatCannotBeWrittenIsSaidSo) {
    Recording rec;
    ASSERT_TRUE(QDir().mkdir(QStringLiteral("CapLog.txt")));
    rec.Start();
    rec.Frame();
    rec.Finish();
    EXPECT_EQ(rec.events.texts,
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
        recording_test::WorkingDirectory directory;
        const QString path = QStringLiteral("CapLog.txt");
        if (c.present == Present::File) {
            QFile file(path);
            ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        }
        if (c.present == Present::Folder) {
            ASSERT_TRUE(QDir().mkdir(path));
        }
        EXPECT_EQ(TForm1::DeleteFileIfPresent(path), c.result);
        EXPECT_EQ(QFile::exists(path), c.present == Present::Folder);
    }
}

}  // namespace
