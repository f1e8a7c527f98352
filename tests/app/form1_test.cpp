// SPDX-License-Identifier: GPL-2.0-or-later
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QTimer>

#include "tests/fakes/form_under_test.h"

namespace {

using fakes::FormUnderTest;

QString TextOf(QWidget* w) {
    if (auto* label = qobject_cast<QLabel*>(w)) return label->text();
    if (auto* button = qobject_cast<QAbstractButton*>(w)) return button->text();
    if (auto* combo = qobject_cast<QComboBox*>(w)) return combo->currentText();
    if (auto* edit = qobject_cast<QLineEdit*>(w)) return edit->text();
    if (auto* group = qobject_cast<QGroupBox*>(w)) return group->title();
    return {};
}

struct ControlCase {
    const char* name;
    const char* parent;
    QRect place;
    const char* text;
    const char* hint;
    bool shown;
};

// Controls whose place the start-up layout leaves as designed.
const ControlCase kControls[] = {
    {"Image2", "Panel3", QRect(240, 8, 65, 65), "", "", false},
    {"Label4", "Panel2", QRect(48, 45, 39, 13), "Label4", "", true},
    {"Button1", "Panel2", QRect(424, 64, 89, 25), "Options", "* Fenetre des Options", true},
    {"Button4", "Panel2", QRect(40, 64, 89, 25), "Overlay",
     "* Inscrustation de l'image en mode Overlay (Fluide)", true},
    {"Button3", "Panel2", QRect(56, 96, 89, 25), "Preview",
     "* Inscrustation de l'image en mode Preview (Image par Image)", true},
    {"Button2", "Panel2", QRect(136, 64, 89, 25), "Vidéo Format",
     "* Appel de la fenetre \"Format\" de votre driver vidéo.", true},
    {"Button5", "Panel2", QRect(152, 96, 89, 25), "Vidéo Source",
     "* Appel de la fenetre \"Source\" de votre driver vidéo.", true},
    {"Button6", "Panel2", QRect(232, 64, 89, 25), "Vidéo Display",
     "* Appel de la fenetre \"Display\" de votre driver vidéo.", true},
    {"Button7", "Panel2", QRect(248, 96, 89, 25), "Vidéo Comprime",
     "* Appel de la fenetre \"Compression\" de votre driver vidéo.", true},
    {"ComboBox1", "Panel2", QRect(424, 16, 113, 21), "Carte 0 - 1.0",
     "* Choix de votre driver de capture vidéo.", true},
    {"Panel4", "Panel2", QRect(16, 14, 401, 25), "Vistrel - Ver 3.01", "* Reduire le logiciel.",
     true},
    {"Button8", "Panel2", QRect(328, 64, 89, 25), "Capture",
     "* Démarrage de la capture - Arret de la capture en appuyant sur la touche \"Echap\".", true},
    {"Button9", "Panel2", QRect(344, 96, 89, 25), "Stop",
     "* Arreter la capture ou en appuyant sur la touche \"Echap\".", true},
    {"Button11", "Panel2", QRect(440, 96, 89, 25), "Quitter",
     "* Arreter la capture ou en appuyant sur la touche \"Echap\".", true},
    {"Edit2", "Panel2", QRect(424, 40, 57, 21), "bi_RGB", "", true},
    {"Edit3", "Panel2", QRect(480, 40, 57, 21), "MJPG", "", true},
    {"ListBox1", "Form1", QRect(328, 8, 121, 105), "", "", false},
    {"Panel5", "Form1", QRect(20, 15, 553, 241), "", "", false},
    {"GroupBox1", "Panel5", QRect(8, 8, 537, 225), "Options", "", true},
    {"GroupBox2", "GroupBox1", QRect(16, 32, 145, 177), "Vidéo", "", true},
    {"Label3", "GroupBox2", QRect(8, 24, 90, 16), "Images/sec :", "", true},
    {"ComboBox4", "GroupBox2", QRect(8, 48, 129, 24), "ComboBox4",
     "* Choisir la vitesse de capture.", true},
    {"CheckBox1", "GroupBox2", QRect(8, 120, 129, 17), "Cache Capture", "", false},
    {"GroupBox3", "GroupBox1", QRect(168, 32, 145, 177), "Audio", "", true},
    {"Label1", "GroupBox3", QRect(8, 24, 83, 16), "Fréquence :", "", true},
    {"Label2", "GroupBox3", QRect(8, 80, 49, 16), "Canal :", "", true},
    {"ComboBox2", "GroupBox3", QRect(8, 48, 129, 24), "ComboBox2",
     "* Choisir la fréquence audio de capture.", true},
    {"ComboBox3", "GroupBox3", QRect(8, 104, 129, 24), "ComboBox3",
     "* Choisir le nombre de canaux de capture.", true},
    {"GroupBox4", "GroupBox1", QRect(320, 32, 121, 177), "Options", "", true},
    {"Label5", "GroupBox4", QRect(8, 24, 85, 16), "Frame Max :", "", true},
    {"Label6", "GroupBox4", QRect(8, 88, 50, 16), "Disque", "", true},
    {"Edit1", "GroupBox4", QRect(8, 48, 105, 24), "24000",
     "* Choisir le nombre maximal d'image à capturer.", true},
    {"ComboBox5", "GroupBox4", QRect(8, 112, 105, 24), "", "", true},
    {"Button10", "GroupBox1", QRect(448, 104, 75, 25), "Ok", "* Fermer la fenetre Options.", true},
    {"Panel7", "Form1", QRect(456, 56, 33, 33), "", "", false},
};

TEST(TForm1Controls, EachHasItsNameParentPlaceTextHintAndVisibility) {
    FormUnderTest run;
    TForm1& form = run.Create();
    for (const ControlCase& c : kControls) {
        SCOPED_TRACE(c.name);
        auto* control = form.findChild<QWidget*>(QString::fromLatin1(c.name));
        ASSERT_NE(control, nullptr);
        EXPECT_EQ(control->parentWidget()->objectName(), QString::fromLatin1(c.parent));
        EXPECT_EQ(control->geometry(), c.place);
        EXPECT_EQ(TextOf(control), QString::fromUtf8(c.text));
        EXPECT_EQ(control->toolTip(), QString::fromUtf8(c.hint));
        EXPECT_EQ(!control->isHidden(), c.shown);
    }
}

TEST(TForm1Controls, WindowIsBorderlessWithItsCaption) {
    FormUnderTest run;
    TForm1& form = run.Create();
    EXPECT_EQ(form.objectName(), "Form1");
    EXPECT_TRUE(form.windowFlags().testFlag(Qt::FramelessWindowHint));
    EXPECT_EQ(form.windowTitle(), " Vistrel - Ver 3.00");
    EXPECT_EQ(form.pos(), QPoint(214, 15))
        << "with nothing saved: top 15, centred; the windowed layout changes only the size";
    EXPECT_FALSE(form.windowIcon().isNull());
    for (const char* name : {"Timer1", "Timer2"}) {
        auto* timer = form.findChild<QTimer*>(QString::fromLatin1(name));
        ASSERT_NE(timer, nullptr) << name;
        EXPECT_FALSE(timer->isActive());
        EXPECT_EQ(timer->interval(), 1000);
    }
    EXPECT_TRUE(form.Edit2->isReadOnly());
    EXPECT_TRUE(form.Edit3->isReadOnly());
    for (QWidget* disabled : {form.ComboBox2, form.ComboBox3, form.ComboBox4}) {
        EXPECT_FALSE(disabled->isEnabled()) << disabled->objectName().toStdString();
    }
}

QStringList ChildOrder(QWidget* parent) {
    QStringList names;
    for (QObject* child : parent->children()) {
        if (child->isWidgetType() && !child->objectName().isEmpty() &&
            !child->objectName().startsWith(QLatin1String("qt_"))) {
            names << child->objectName();
        }
    }
    return names;
}

TEST(TForm1Controls, LaterControlsLieAboveEarlierOnes) {
    FormUnderTest run;
    TForm1& form = run.Create();
    EXPECT_EQ(ChildOrder(&form), (QStringList{"Panel3", "Panel1", "Panel2", "ListBox1", "Panel6",
                                              "Panel5", "Panel7"}));
    EXPECT_EQ(ChildOrder(form.Panel2),
              (QStringList{"Label4", "Button1", "Button4", "Button3", "Button2", "Button5",
                           "Button6", "Button7", "ComboBox1", "Panel4", "Button8", "Button9",
                           "Button11", "Edit2", "Edit3"}));
    EXPECT_EQ(ChildOrder(form.GroupBox1),
              (QStringList{"GroupBox2", "GroupBox3", "GroupBox4", "Button10"}));
}

struct FontCase {
    const char* name;
    int pixels;
    bool bold, underline;
    QColor colour;
};

TEST(TForm1Controls, FontsAndColours) {
    const QColor red(255, 0, 0), lime(0, 255, 0), blue(0, 0, 255), black(0, 0, 0);
    FormUnderTest run;
    TForm1& form = run.Create();
    const FontCase cases[] = {
        {"Panel3", 24, true, false, lime},
        {"Label4", 11, true, false, red},
        {"Panel4", 11, true, false, red},
        {"Panel6", 11, false, false, red},
        {"GroupBox1", 13, true, true, blue},
        {"Label1", 13, true, true, blue},
        {"CheckBox1", 13, true, true, blue},
        {"ComboBox4", 13, true, false, red},
        {"ComboBox5", 13, true, false, red},
        {"Edit1", 13, true, false, red},
        {"Button10", 13, false, false, black},
        {"Button4", 11, false, false, form.palette().color(QPalette::WindowText)},
    };
    for (const FontCase& c : cases) {
        SCOPED_TRACE(c.name);
        auto* control = form.findChild<QWidget*>(QString::fromLatin1(c.name));
        ASSERT_NE(control, nullptr);
        EXPECT_EQ(control->font().pixelSize(), c.pixels);
        EXPECT_EQ(control->font().bold(), c.bold);
        EXPECT_EQ(control->font().underline(), c.underline);
        EXPECT_EQ(control->font().families().value(0), "FreeSans");
        EXPECT_EQ(control->font().styleHint(), QFont::SansSerif);
        EXPECT_EQ(control->palette().color(QPalette::WindowText), c.colour);
    }
    EXPECT_EQ(form.Panel3->palette().color(QPalette::Window), red);
    EXPECT_EQ(form.Panel6->palette().color(QPalette::Window), black);
    EXPECT_EQ(form.palette().color(QPalette::Window), QPalette().color(QPalette::Button));
}

struct BevelCase {
    const char* name;
    int width;
};

TEST(TForm1Controls, PanelsHaveRaisedBevels) {
    FormUnderTest run;
    TForm1& form = run.Create();
    const BevelCase cases[] = {{"Panel3", 4}, {"Panel2", 4}, {"Panel4", 4}, {"Panel5", 4},
                               {"Panel7", 4}, {"Panel1", 1}, {"Panel6", 1}};
    for (const BevelCase& c : cases) {
        auto* panel = form.findChild<QLabel*>(QString::fromLatin1(c.name));
        ASSERT_NE(panel, nullptr) << c.name;
        EXPECT_EQ(panel->frameShadow(), QFrame::Raised) << c.name;
        EXPECT_EQ(panel->lineWidth(), c.width) << c.name;
    }
}

}  // namespace
