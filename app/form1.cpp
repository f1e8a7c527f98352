// SPDX-License-Identifier: GPL-2.0-or-later
#include "app/form1.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPixmap>
#include <QPushButton>
#include <QTimer>

#include "resources/resources.h"

namespace {

const QColor kRed(255, 0, 0);
const QColor kLime(0, 255, 0);
const QColor kBlue(0, 0, 255);
const QColor kBlack(0, 0, 0);

// Point sizes 8, 10 and 18 at 96 dots per inch. Fonts are sized in pixels so that the text keeps
// fitting the controls' fixed pixel sizes whatever resolution the screen reports.
constexpr int k8Points = 11;
constexpr int k10Points = 13;
constexpr int k18Points = 24;

// The controls were sized to their texts in a narrow bitmap sans serif that Linux does not have;
// fontconfig's usual stand-in for it is wider and clips them. FreeSans (the package depends on
// fonts-freefont-ttf) is the free face whose widths fit every text at these sizes, the test
// card's driver name included. Without it, the Helvetica-width faces come closest (only that
// name runs two pixels over its field), then whatever sans serif the desktop prefers.
QFont ProgramFont(int pixels, bool bold = false, bool underline = false) {
    QFont font;
    font.setFamilies({QStringLiteral("FreeSans"), QStringLiteral("Liberation Sans"),
                      QStringLiteral("Arimo"), QStringLiteral("Nimbus Sans")});
    font.setStyleHint(QFont::SansSerif);
    // Full hinting rounds each letter's advance and widens a line by a pixel or two; the light
    // hinting most desktops use keeps the widths the controls were fitted to, whatever the
    // desktop asks for.
    font.setHintingPreference(QFont::PreferVerticalHinting);
    font.setPixelSize(pixels);
    font.setBold(bold);
    font.setUnderline(underline);
    return font;
}

void SetFont(QWidget* widget, const QFont& font, const QColor& colour) {
    widget->setFont(font);
    QPalette palette = widget->palette();
    for (auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText}) {
        palette.setColor(role, colour);
    }
    widget->setPalette(palette);
}

// SetFont gives a colour to every state: the window's own text takes the desktop's disabled
// colour back, so that what a capture disables looks it.
void GreyWhenDisabled(QWidget* widget) {
    QPalette palette = widget->palette();
    for (auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText}) {
        palette.setColor(QPalette::Disabled, role,
                         QApplication::palette().color(QPalette::Disabled, role));
    }
    widget->setPalette(palette);
}

void SetColour(QWidget* widget, const QColor& colour) {
    QPalette palette = widget->palette();
    palette.setColor(QPalette::Window, colour);
    widget->setPalette(palette);
    widget->setAutoFillBackground(true);
}

template <typename Widget>
Widget* Make(QWidget* parent, const char* name, QRect place) {
    auto* widget = new Widget(parent);
    widget->setObjectName(QString::fromLatin1(name));
    widget->setGeometry(place);
    return widget;
}

QLabel* MakePanel(QWidget* parent, const char* name, QRect place, int bevel) {
    auto* panel = Make<QLabel>(parent, name, place);
    panel->setFrameStyle(QFrame::Panel | QFrame::Raised);
    panel->setLineWidth(bevel);
    panel->setAlignment(Qt::AlignCenter);
    // Panels are opaque in the window's colour unless given their own: the skin's tiles show
    // only on the window's free surface.
    panel->setAutoFillBackground(true);
    return panel;
}

QPushButton* MakeButton(QWidget* parent, const char* name, QPoint at, const char* caption,
                        const char* hint) {
    auto* button = Make<QPushButton>(parent, name, QRect(at, QSize(89, 25)));
    button->setText(QString::fromUtf8(caption));
    button->setToolTip(QString::fromUtf8(hint));
    return button;
}

QComboBox* MakeComboBox(QWidget* parent, const char* name, QRect place, const char* text,
                        const char* hint) {
    auto* combo = Make<QComboBox>(parent, name, place);
    combo->setEditable(true);
    combo->setInsertPolicy(QComboBox::NoInsert);
    combo->setEditText(QString::fromUtf8(text));
    if (hint != nullptr) combo->setToolTip(QString::fromUtf8(hint));
    return combo;
}

QLineEdit* MakeEdit(QWidget* parent, const char* name, QRect place, const char* text) {
    auto* edit = Make<QLineEdit>(parent, name, place);
    edit->setText(QString::fromUtf8(text));
    edit->setCursorPosition(0);
    return edit;
}

QLabel* MakeLabel(QWidget* parent, const char* name, QRect place, const char* text) {
    auto* label = Make<QLabel>(parent, name, place);
    label->setText(QString::fromUtf8(text));
    return label;
}

QGroupBox* MakeGroupBox(QWidget* parent, const char* name, QRect place, const char* title) {
    auto* group = Make<QGroupBox>(parent, name, place);
    group->setTitle(QString::fromUtf8(title));
    return group;
}

QTimer* MakeTimer(QObject* parent, const char* name) {
    auto* timer = new QTimer(parent);
    timer->setObjectName(QString::fromLatin1(name));
    timer->setInterval(1000);
    return timer;
}

}  // namespace

TForm1::TForm1(const QStringList& arguments, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint), Arguments(arguments) {
    setObjectName(QStringLiteral("Form1"));
    // The capture callbacks are plain functions: they find the window through this pointer.
    if (Form1 == nullptr) Form1 = this;
    setWindowTitle(QStringLiteral(" Vistrel - Ver 3.00"));
    setWindowIcon(QIcon(QPixmap::fromImage(resources::Icon())));
    setGeometry(345, 37, 595, 545);
    SetColour(this, QApplication::palette().color(QPalette::Button));
    SetFont(this, ProgramFont(k8Points), QApplication::palette().color(QPalette::WindowText));
    GreyWhenDisabled(this);
    CreateVideoArea();
    CreateControlPanel();
    CreateOptionsPanel();
    CreateTimeTileAndTimers();
    RaiseInTableOrder();
    Display.ShowOn(this, Image1, Panel7, &CaptureFormat);
    ConnectHandlers();
    FormCreate();
}

TForm1::~TForm1() {
    if (Form1 == this) Form1 = nullptr;
}

void TForm1::CreateVideoArea() {
    Panel3 = MakePanel(this, "Panel3", QRect(8, 8, 313, 105), 4);
    SetColour(Panel3, kRed);
    SetFont(Panel3, ProgramFont(k18Points, true), kLime);
    Image2 = Make<QLabel>(Panel3, "Image2", QRect(240, 8, 65, 65));
    Image2->setScaledContents(true);
    Image2->hide();
    Panel1 = MakePanel(this, "Panel1", QRect(16, 16, 89, 89), 1);
}

void TForm1::CreateControlPanel() {
    Panel2 = MakePanel(this, "Panel2", QRect(16, 400, 553, 137), 4);
    Label4 = MakeLabel(Panel2, "Label4", QRect(48, 45, 39, 13), "Label4");
    SetFont(Label4, ProgramFont(k8Points, true), kRed);
    CreateControlButtons();
    CreateControlFields();
}

void TForm1::CreateControlButtons() {
    Button1 = MakeButton(Panel2, "Button1", {424, 64}, "Options", "* Fenetre des Options");
    Button4 = MakeButton(Panel2, "Button4", {40, 64}, "Overlay",
                         "* Inscrustation de l'image en mode Overlay (Fluide)");
    Button3 = MakeButton(Panel2, "Button3", {56, 96}, "Preview",
                         "* Inscrustation de l'image en mode Preview (Image par Image)");
    Button2 = MakeButton(Panel2, "Button2", {136, 64}, "Vidéo Format",
                         "* Appel de la fenetre \"Format\" de votre driver vidéo.");
    Button5 = MakeButton(Panel2, "Button5", {152, 96}, "Vidéo Source",
                         "* Appel de la fenetre \"Source\" de votre driver vidéo.");
    Button6 = MakeButton(Panel2, "Button6", {232, 64}, "Vidéo Display",
                         "* Appel de la fenetre \"Display\" de votre driver vidéo.");
    Button7 = MakeButton(Panel2, "Button7", {248, 96}, "Vidéo Comprime",
                         "* Appel de la fenetre \"Compression\" de votre driver vidéo.");
}

void TForm1::CreateControlFields() {
    ComboBox1 = MakeComboBox(Panel2, "ComboBox1", QRect(424, 16, 113, 21), "ComboBox1",
                             "* Choix de votre driver de capture vidéo.");
    Panel4 = MakePanel(Panel2, "Panel4", QRect(16, 14, 401, 25), 4);
    Panel4->setText(QStringLiteral("Vistrel - Ver 3.01"));
    Panel4->setToolTip(QStringLiteral("* Reduire le logiciel."));
    SetFont(Panel4, ProgramFont(k8Points, true), kRed);
    Button8 = MakeButton(
        Panel2, "Button8", {328, 64}, "Capture",
        "* Démarrage de la capture - Arret de la capture en appuyant sur la touche \"Echap\".");
    const char* stopHint = "* Arreter la capture ou en appuyant sur la touche \"Echap\".";
    Button9 = MakeButton(Panel2, "Button9", {344, 96}, "Stop", stopHint);
    Button11 = MakeButton(Panel2, "Button11", {440, 96}, "Quitter", stopHint);
    Edit2 = MakeEdit(Panel2, "Edit2", QRect(424, 40, 57, 21), "Pas de format");
    Edit2->setReadOnly(true);
    Edit3 = MakeEdit(Panel2, "Edit3", QRect(480, 40, 57, 21), "Pas de format");
    Edit3->setReadOnly(true);
    ListBox1 = Make<QListWidget>(this, "ListBox1", QRect(328, 8, 121, 105));
    ListBox1->hide();
    Panel6 = MakePanel(this, "Panel6", QRect(112, 16, 97, 89), 1);
    SetColour(Panel6, kBlack);
    SetFont(Panel6, ProgramFont(k8Points), kRed);
    Image1 = Make<QLabel>(Panel6, "Image1", Panel6->contentsRect());
    Image1->setScaledContents(true);
    Image1->setPixmap(QPixmap::fromImage(resources::StartupPicture()));
    Panel6->installEventFilter(this);
}

void TForm1::CreateOptionsPanel() {
    Panel5 = MakePanel(this, "Panel5", QRect(16, 160, 553, 241), 4);
    Panel5->hide();
    GroupBox1 = MakeGroupBox(Panel5, "GroupBox1", QRect(8, 8, 537, 225), "Options");
    SetFont(GroupBox1, ProgramFont(k10Points, true, true), kBlue);
    CreateVideoOptions();
    CreateAudioOptions();
    CreateOtherOptions();
}

void TForm1::CreateVideoOptions() {
    GroupBox2 = MakeGroupBox(GroupBox1, "GroupBox2", QRect(16, 32, 145, 177), "Vidéo");
    Label3 = MakeLabel(GroupBox2, "Label3", QRect(8, 24, 90, 16), "Images/sec :");
    ComboBox4 = MakeComboBox(GroupBox2, "ComboBox4", QRect(8, 48, 129, 24), "ComboBox4",
                             "* Choisir la vitesse de capture.");
    ComboBox4->setEnabled(false);
    SetFont(ComboBox4, ProgramFont(k10Points, true), kRed);
    CheckBox1 = Make<QCheckBox>(GroupBox2, "CheckBox1", QRect(8, 120, 129, 17));
    CheckBox1->setText(QStringLiteral("Cache Capture"));
    CheckBox1->hide();
}

void TForm1::CreateAudioOptions() {
    GroupBox3 = MakeGroupBox(GroupBox1, "GroupBox3", QRect(168, 32, 145, 177), "Audio");
    Label1 = MakeLabel(GroupBox3, "Label1", QRect(8, 24, 83, 16), "Fréquence :");
    Label2 = MakeLabel(GroupBox3, "Label2", QRect(8, 80, 49, 16), "Canal :");
    ComboBox2 = MakeComboBox(GroupBox3, "ComboBox2", QRect(8, 48, 129, 24), "ComboBox2",
                             "* Choisir la fréquence audio de capture.");
    ComboBox3 = MakeComboBox(GroupBox3, "ComboBox3", QRect(8, 104, 129, 24), "ComboBox3",
                             "* Choisir le nombre de canaux de capture.");
    for (QComboBox* combo : {ComboBox2, ComboBox3}) {
        combo->setEnabled(false);
        SetFont(combo, ProgramFont(k10Points, true), kRed);
    }
}

void TForm1::CreateOtherOptions() {
    GroupBox4 = MakeGroupBox(GroupBox1, "GroupBox4", QRect(320, 32, 121, 177), "Options");
    Label5 = MakeLabel(GroupBox4, "Label5", QRect(8, 24, 85, 16), "Frame Max :");
    Label6 = MakeLabel(GroupBox4, "Label6", QRect(8, 88, 50, 16), "Disque");
    Edit1 = MakeEdit(GroupBox4, "Edit1", QRect(8, 48, 105, 24), "24000");
    Edit1->setToolTip(QStringLiteral("* Choisir le nombre maximal d'image à capturer."));
    ComboBox5 = MakeComboBox(GroupBox4, "ComboBox5", QRect(8, 112, 105, 24), "", nullptr);
    for (QWidget* field : std::initializer_list<QWidget*>{Edit1, ComboBox5}) {
        SetFont(field, ProgramFont(k10Points, true), kRed);
    }
    Button10 = Make<QPushButton>(GroupBox1, "Button10", QRect(448, 104, 75, 25));
    Button10->setText(QStringLiteral("Ok"));
    Button10->setToolTip(QStringLiteral("* Fermer la fenetre Options."));
    SetFont(Button10, ProgramFont(k10Points), kBlack);
}

void TForm1::CreateTimeTileAndTimers() {
    Panel7 = MakePanel(this, "Panel7", QRect(456, 56, 33, 33), 4);
    Panel7->hide();
    Timer1 = MakeTimer(this, "Timer1");
    Timer2 = MakeTimer(this, "Timer2");
}

// Creation order already stacks siblings; raising each in table order states it outright.
void TForm1::RaiseInTableOrder() {
    for (QWidget* control : std::initializer_list<QWidget*>{
             Panel3,    Image2,    Panel1,    Panel2,    Label4,    Button1,   Button4,  Button3,
             Button2,   Button5,   Button6,   Button7,   ComboBox1, Panel4,    Button8,  Button9,
             Button11,  Edit2,     Edit3,     ListBox1,  Panel6,    Image1,    Panel5,   GroupBox1,
             GroupBox2, Label3,    ComboBox4, CheckBox1, GroupBox3, Label1,    Label2,   ComboBox2,
             ComboBox3, GroupBox4, Label5,    Label6,    Edit1,     ComboBox5, Button10, Panel7}) {
        control->raise();
    }
}

void TForm1::ConnectHandlers() {
    connect(Button1, &QPushButton::clicked, this, &TForm1::Button1Click);
    connect(Button10, &QPushButton::clicked, this, &TForm1::Button10Click);
    WatchTitleStrip();
    connect(Button2, &QPushButton::clicked, this, &TForm1::Button2Click);
    connect(Button3, &QPushButton::clicked, this, &TForm1::Button3Click);
    connect(Button4, &QPushButton::clicked, this, &TForm1::Button4Click);
    connect(Button5, &QPushButton::clicked, this, &TForm1::Button5Click);
    connect(Button6, &QPushButton::clicked, this, &TForm1::Button6Click);
    connect(Button7, &QPushButton::clicked, this, &TForm1::Button7Click);
    connect(Button8, &QPushButton::clicked, this, &TForm1::Button8Click);
    connect(Button9, &QPushButton::clicked, this, &TForm1::Button9Click);
    connect(Button11, &QPushButton::clicked, this, &TForm1::Button11Click);
    connect(Timer1, &QTimer::timeout, this, &TForm1::Timer1Timer);
    connect(Timer2, &QTimer::timeout, this, &TForm1::Timer2Timer);
    // The user either picks a driver from the list or types into its edit field.
    connect(ComboBox1, &QComboBox::activated, this, &TForm1::ComboBox1Change);
    connect(ComboBox1->lineEdit(), &QLineEdit::textEdited, this, &TForm1::ComboBox1Change);
    // Only what the user does counts as a change: filling the lists and loading their saved
    // texts stays silent.
    connect(ComboBox2, &QComboBox::activated, this, &TForm1::ComboBox2Change);
    connect(ComboBox2->lineEdit(), &QLineEdit::textEdited, this, &TForm1::ComboBox2Change);
    connect(ComboBox3, &QComboBox::activated, this, &TForm1::ComboBox3Change);
    connect(ComboBox3->lineEdit(), &QLineEdit::textEdited, this, &TForm1::ComboBox3Change);
}
