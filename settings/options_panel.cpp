// SPDX-License-Identifier: GPL-2.0-or-later
#include "settings/options_panel.h"

#include <QComboBox>
#include <QLineEdit>
#include <array>

#include "platform/files.h"
#include "settings/settings_file.h"

namespace {

// A field of the panel by its line: a list, or the frame limit's edit when `list` is null.
struct OptionLine {
    WORD line;
    QComboBox* list;
};

std::array<OptionLine, 5> LinesOf(const OptionFields& fields) {
    return {{{kFrameRateLine, fields.frameRate},
             {kAudioRateLine, fields.audioRate},
             {kAudioChannelsLine, fields.channels},
             {kDestinationLine, fields.destination},
             {kFrameLimitLine, nullptr}}};
}

}  // namespace

void LoadOptionLines(const std::string& path, const OptionFields& fields) {
    for (const OptionLine& option : LinesOf(fields)) {
        const QString text = QString::fromStdString(ReadSettingLine(path, option.line));
        if (text.isEmpty()) continue;
        if (option.list != nullptr) {
            option.list->setEditText(text);
        } else {
            fields.frameLimit->setText(text);
        }
    }
}

void SaveOptionLines(const std::string& path, const OptionFields& fields, bool cache) {
    for (const OptionLine& option : LinesOf(fields)) {
        const QString text =
            option.list != nullptr ? option.list->currentText() : fields.frameLimit->text();
        WriteSettingLine(path, text.toStdString(), option.line);
    }
    WriteSettingLine(path, cache ? "1" : "0", kCaptureCacheLine);
}

// A and B are diskette letters: asking for them would wake the drive.
void ListDriveRoots(QComboBox* list) {
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
