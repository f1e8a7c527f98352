// SPDX-License-Identifier: GPL-2.0-or-later
// The options panel: "Options" shows it with the saved values, "Ok" hides it, applies the capture
// options, takes the frame limit and saves lines 4 to 9 of the settings file. The capture
// parameters its lists give go to the capture window here, as the frequency and channel lists
// send the sound format when the user changes them.
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>

#include "app/form1.h"
#include "capture/capture_parameters.h"
#include "settings/options_panel.h"
#include "settings/settings_file.h"

namespace {

OptionFields FieldsOf(const TForm1& form) {
    return {form.ComboBox4, form.ComboBox2, form.ComboBox3, form.ComboBox5, form.Edit1};
}

}  // namespace

void TForm1::ApplyCaptureParameters() {
    SendCaptureParameters(CaptureWindow, {ComboBox4->currentText(), ComboBox3->currentText(),
                                          ComboBox2->currentText()});
}

void TForm1::SetAudioFormat(std::int16_t channels, std::uint16_t rate) {
    SendAudioFormat(CaptureWindow, channels, rate);
}

// A text that is no rate leaves the rate as it was.
void TForm1::ComboBox2Change() {
    AudioRate = AudioRateOf(ComboBox2->currentText()).value_or(AudioRate);
    SetAudioFormat(AudioChannels, AudioRate);
}

void TForm1::ComboBox3Change() {
    const int item = ComboBox3->currentIndex();
    if (item == 0) AudioChannels = 1;
    if (item == 1) AudioChannels = 2;
    SetAudioFormat(AudioChannels, AudioRate);
}

// A line left empty keeps the control's text.
void TForm1::LoadSavedOptions() {
    LoadOptionLines(SettingsPath(ExeDirectory()), FieldsOf(*this));
}

// Pressing "Options" again while the panel is open reloads the saved values over typed ones.
void TForm1::Button1Click() {
    FillDriveList(ComboBox5);
    Panel5->show();
    LoadSavedOptions();
}

void TForm1::FillDriveList(QComboBox* list) {
    ListDriveRoots(list);
}

// A frame limit that is no whole number stops here, after its conversion message: the panel is
// already closed and the capture options applied, and nothing is saved.
void TForm1::Button10Click() {
    Panel5->hide();
    ApplyCaptureParameters();
    if (!TakeFrameLimit()) return;
    SaveOptionLines(SettingsPath(ExeDirectory()), FieldsOf(*this), CheckBox1->isChecked());
}
