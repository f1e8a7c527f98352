// SPDX-License-Identifier: GPL-2.0-or-later
// The options panel on a fake machine whose drive X: holds the program's own folder, so that the
// settings file beside it is the real one the panel reads and writes.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "platform/files.h"
#include "settings/settings_file.h"
#include "tests/recording/recording_fixture.h"

namespace {

namespace fs = std::filesystem;

std::string Bytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

QStringList Items(const QComboBox* list) {
    QStringList items;
    for (int i = 0; i < list->count(); ++i) items << list->itemText(i);
    return items;
}

class OptionsPanel : public ::testing::Test {
  protected:
    void SetUp() override {
        fs::remove(SettingsFile());
        Drive('X', DRIVE_FIXED, ExeFolder());
        Drive('T', DRIVE_FIXED, destination.path().toStdString());
        rec.form.show();
        rec.run.boxes.texts.clear();
    }
    void TearDown() override { fs::remove(SettingsFile()); }
    void Drive(char letter, UINT type, const std::string& folder) {
        rec.run.machine.description.drives[letter] = {type, folder};
        platform::SetMachine(rec.run.machine.description);
    }
    std::string ExeFolder() const { return rec.run.folder.path().toStdString(); }
    fs::path SettingsFile() const { return rec.run.SettingsFile(); }
    std::string Line(WORD line) const {
        return ReadSettingLine(SettingsPath(ExeDirectory()), line);
    }

    QTemporaryDir destination;
    recording_test::WindowRecording rec;
    TForm1& form = rec.form;
};

TEST_F(OptionsPanel, DriveListHoldsTheRootsThatAnswerFromCToZAndKeepsItsText) {
    QTemporaryDir folders;
    for (const char* name : {"a", "c", "e", "g", "z"}) QDir(folders.path()).mkdir(name);
    const std::string root = folders.path().toStdString() + "/";
    rec.run.machine.description.drives.clear();
    Drive('X', DRIVE_FIXED, ExeFolder());
    Drive('A', DRIVE_REMOVABLE, root + "a");
    Drive('C', DRIVE_FIXED, root + "c");
    Drive('D', DRIVE_CDROM, root + "d");  // no disc: its folder does not exist
    Drive('E', DRIVE_CDROM, root + "e");
    Drive('G', DRIVE_REMOTE, root + "g");
    Drive('Z', DRIVE_FIXED, root + "z");
    form.ComboBox5->setEditText(QStringLiteral("G:\\films\\"));
    for (int open = 0; open < 2; ++open) {
        form.Button1->click();
        EXPECT_TRUE(form.Panel5->isVisible());
        EXPECT_EQ(Items(form.ComboBox5), (QStringList{"C:\\", "E:\\", "G:\\", "X:\\", "Z:\\"}));
        EXPECT_EQ(form.ComboBox5->currentText(), "G:\\films\\");
    }
}

TEST_F(OptionsPanel, FirstOkSavesTheDefaultsAndTheChoicesComeBackAtTheNextStart) {
    form.Button1->click();
    form.Button10->click();
    EXPECT_FALSE(form.Panel5->isVisible());
    const std::string defaults[] = {"25 Images/sec", "44100 Hz", "St\xE9r\xE9o", "", "24000", "0"};
    std::string expected;
    for (WORD line = 0; line < kNewSettingsFileLines; ++line) {
        expected += (line >= 4 && line <= 9 ? defaults[line - 4] : "") + std::string("\r\n");
    }
    EXPECT_EQ(Bytes(SettingsFile()), expected);
    EXPECT_EQ(form.FrameLimit, 24000);

    // The destination picked from the list, a frame limit typed; line 9 is read only at start.
    form.Button1->click();
    form.ComboBox5->setCurrentIndex(form.ComboBox5->findText(QStringLiteral("T:\\")));
    form.Edit1->setText(QStringLiteral("1200"));
    form.CheckBox1->setChecked(true);
    form.Button10->click();
    form.Edit1->setText(QStringLiteral("99"));
    form.CheckBox1->setChecked(false);
    form.Button1->click();
    EXPECT_EQ(form.Edit1->text(), "1200") << "reopening reloads the saved values";
    EXPECT_FALSE(form.CheckBox1->isChecked());

    rec.run.form.reset();
    TForm1& next = rec.run.Create();
    next.show();
    EXPECT_EQ(next.ComboBox5->currentText(), "T:\\");
    EXPECT_EQ(next.Edit1->text(), "1200");
    EXPECT_TRUE(next.CheckBox1->isChecked());
    EXPECT_TRUE(rec.run.boxes.texts.empty());
}

struct FrameMaxCase {
    const char* typed;
    bool saved;
    std::uint16_t frameLimit;
};

TEST_F(OptionsPanel, OkAppliesTheCaptureOptionsThenTakesTheFrameLimitBeforeSaving) {
    const FrameMaxCase cases[] = {
        {"abc", false, 777}, {"70000", true, 4464}, {" -1", true, 65535}, {"12.5", false, 777}};
    for (const FrameMaxCase& c : cases) {
        SCOPED_TRACE(c.typed);
        fs::remove(SettingsFile());
        rec.run.boxes.texts.clear();
        rec.run.capture.Clear();
        form.FrameLimit = 777;
        form.Button1->click();
        form.Edit1->setText(QString::fromLatin1(c.typed));
        form.Button10->click();
        EXPECT_FALSE(form.Panel5->isVisible());
        EXPECT_EQ(rec.run.capture.Sent(WM_CAP_SET_SEQUENCE_SETUP).size(), 1u);
        EXPECT_EQ(form.FrameLimit, c.frameLimit);
        EXPECT_EQ(rec.run.boxes.texts.size(), c.saved ? 0u : 1u);
        EXPECT_EQ(fs::exists(SettingsFile()), c.saved);
        if (c.saved) {
            EXPECT_EQ(Line(8), c.typed);
        }
    }
}

TEST_F(OptionsPanel, ThePickedDestinationIsWhereTheNextCaptureRecords) {
    form.Button1->click();
    form.ComboBox5->setCurrentIndex(form.ComboBox5->findText(QStringLiteral("T:\\")));
    form.Button10->click();
    EXPECT_EQ(Line(7), "T:\\");
    rec.StartCapture();
    rec.Frames(3);
    rec.Status(IDS_CAP_END);
    ASSERT_EQ(rec.Path().rfind("T:\\VST_", 0), 0u) << rec.Path();
    const QStringList recorded = QDir(destination.path()).entryList({"VST_*.avi"}, QDir::Files);
    EXPECT_EQ(recorded.size(), 1);
}

void Key(QWidget* target, int key, const QString& text = {}) {
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, text);
    QApplication::sendEvent(target, &press);
}

TEST_F(OptionsPanel, DestinationIsChosenWithTheKeysAndTheOtherListsStayAsLoaded) {
    form.Button1->click();
    form.ComboBox5->setEditText({});
    Key(form.ComboBox5, Qt::Key_Down);
    EXPECT_EQ(form.ComboBox5->currentText(), form.ComboBox5->itemText(0));
    Key(form.ComboBox5, Qt::Key_Down);
    EXPECT_EQ(form.ComboBox5->currentText(), form.ComboBox5->itemText(1));
    const int drives = form.ComboBox5->count();
    form.ComboBox5->lineEdit()->end(false);
    Key(form.ComboBox5->lineEdit(), Qt::Key_V, QStringLiteral("v"));
    Key(form.ComboBox5->lineEdit(), Qt::Key_Return);
    EXPECT_EQ(form.ComboBox5->currentText(), form.ComboBox5->itemText(1) + "v");
    EXPECT_EQ(form.ComboBox5->count(), drives) << "typed text is no new item";

    for (QComboBox* list : {form.ComboBox2, form.ComboBox3, form.ComboBox4}) {
        const QString before = list->currentText();
        Key(list, Qt::Key_Down);
        Key(list->lineEdit(), Qt::Key_X, QStringLiteral("x"));
        EXPECT_EQ(list->currentText(), before) << list->objectName().toStdString();
    }
}

}  // namespace
