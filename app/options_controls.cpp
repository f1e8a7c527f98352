// The options panel: "Options" shows it with the saved values, "Ok" hides it, applies the capture
// options, takes the frame limit and saves lines 4 to 9 of the settings file.
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>

#include "app/form1.h"
#include "settings/options_panel.h"
#include "settings/settings_file.h"

namespace {

OptionFields FieldsOf(const TForm1& form) {
    return {form.ComboBox4, form.ComboBox2, form.ComboBox3, form.ComboBox5, form.Edit1};
}

}  // namespace

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
