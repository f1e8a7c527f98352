// The options panel: "Options" shows it with the saved values, "Ok" hides it, applies the capture
// options, takes the frame limit and saves lines 4 to 9 of the settings file.
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>

#include "app/form1.h"
#include "platform/files.h"
#include "settings/settings_file.h"

namespace {

// The options the panel shows, in the order they are read and saved.
struct OptionLine {
    WORD line;
    QComboBox* TForm1::*list;  // null for Edit1
};

constexpr OptionLine kOptionLines[] = {
    {kFrameRateLine, &TForm1::ComboBox4},
    {kAudioRateLine, &TForm1::ComboBox2},
    {kAudioChannelsLine, &TForm1::ComboBox3},
    {kDestinationLine, &TForm1::ComboBox5},
    {kFrameLimitLine, nullptr},
};

}  // namespace

// A line left empty keeps the control's text.
void TForm1::LoadSavedOptions() {
    const std::string path = SettingsPath(ExeDirectory());
    for (const OptionLine& option : kOptionLines) {
        const QString text = QString::fromStdString(ReadSettingLine(path, option.line));
        if (text.isEmpty()) continue;
        if (option.list != nullptr) {
            (this->*option.list)->setEditText(text);
        } else {
            Edit1->setText(text);
        }
    }
}

// Pressing "Options" again while the panel is open reloads the saved values over typed ones.
void TForm1::Button1Click() {
    FillDriveList(ComboBox5);
    Panel5->show();
    LoadSavedOptions();
}

// A and B are diskette letters: asking for them would wake the drive.
void TForm1::FillDriveList(QComboBox* list) {
    const QString text = list->currentText();
    list->clear();
    for (char letter = 'C'; letter <= 'Z'; ++letter) {
        const char root[] = {letter, ':', '\\', '\0'};
        if (GetDriveTypeA(root) != DRIVE_NO_ROOT_DIR) list->addItem(QString::fromLatin1(root));
    }
    // Adding to an empty list selects the first item; the text stays what it was.
    list->setCurrentIndex(-1);
    list->setEditText(text);
}

// A frame limit that is no whole number stops here, after its conversion message: the panel is
// already closed and the capture options applied, and nothing is saved.
void TForm1::Button10Click() {
    Panel5->hide();
    ApplyCaptureParameters();
    if (!TakeFrameLimit()) return;
    const std::string path = SettingsPath(ExeDirectory());
    for (const OptionLine& option : kOptionLines) {
        const QString text =
            option.list != nullptr ? (this->*option.list)->currentText() : Edit1->text();
        WriteSettingLine(path, text.toStdString(), option.line);
    }
    WriteSettingLine(path, CheckBox1->isChecked() ? "1" : "0", kCaptureCacheLine);
}
