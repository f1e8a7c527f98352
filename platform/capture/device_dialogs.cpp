// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/capture/device_dialogs.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QSlider>
#include <QSpinBox>
#include <QVBoxLayout>
#include <cstdio>

#include "platform/machine.h"

namespace platform {
namespace {

QString Q(const std::string& text) {
    return QString::fromStdString(text);
}

QDialogButtonBox* OkCancel(QDialog* dialog) {
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, dialog);
    buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("OK"));
    buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("Annuler"));
    QObject::connect(buttons, &QDialogButtonBox::accepted, dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
    return buttons;
}

QComboBox* Combo(const char* name, QWidget* parent) {
    auto* combo = new QComboBox(parent);
    combo->setObjectName(QLatin1String(name));
    return combo;
}

int Clamped(std::int64_t value) {
    return static_cast<int>(std::clamp<std::int64_t>(value, INT32_MIN, INT32_MAX));
}

QWidget* IntegerControl(const ControlInfo& c, DeviceSetup& setup, QWidget* parent) {
    auto* box = new QWidget(parent);
    auto* row = new QHBoxLayout(box);
    row->setContentsMargins(0, 0, 0, 0);
    auto* slider = new QSlider(Qt::Horizontal, box);
    auto* spin = new QSpinBox(box);
    slider->setRange(Clamped(c.minimum), Clamped(c.maximum));
    slider->setSingleStep(Clamped(c.step));
    spin->setRange(Clamped(c.minimum), Clamped(c.maximum));
    spin->setSingleStep(Clamped(c.step));
    slider->setValue(Clamped(c.value));
    spin->setValue(Clamped(c.value));
    QObject::connect(slider, &QSlider::valueChanged, spin, &QSpinBox::setValue);
    QObject::connect(spin, &QSpinBox::valueChanged, slider, &QSlider::setValue);
    QObject::connect(spin, &QSpinBox::valueChanged,
                     [&setup, id = c.id](int value) { setup.SetControl(id, value); });
    spin->setObjectName(QStringLiteral("control%1").arg(c.id, 0, 16));
    row->addWidget(slider, 1);
    row->addWidget(spin);
    return box;
}

QWidget* MenuControl(const ControlInfo& c, DeviceSetup& setup, QWidget* parent) {
    auto* combo = new QComboBox(parent);
    for (const auto& [value, name] : c.menu) {
        combo->addItem(Q(name), QVariant::fromValue<qlonglong>(value));
        if (value == c.value) combo->setCurrentIndex(combo->count() - 1);
    }
    QObject::connect(combo, &QComboBox::currentIndexChanged, [&setup, combo, id = c.id](int) {
        setup.SetControl(id, combo->currentData().toLongLong());
    });
    combo->setObjectName(QStringLiteral("control%1").arg(c.id, 0, 16));
    return combo;
}

QWidget* ControlWidget(const ControlInfo& c, DeviceSetup& setup, QWidget* parent) {
    switch (c.kind) {
        case ControlInfo::Kind::Integer:
            return IntegerControl(c, setup, parent);
        case ControlInfo::Kind::Menu:
            return MenuControl(c, setup, parent);
        case ControlInfo::Kind::Boolean: {
            auto* check = new QCheckBox(parent);
            check->setChecked(c.value != 0);
            QObject::connect(check, &QCheckBox::toggled,
                             [&setup, id = c.id](bool on) { setup.SetControl(id, on ? 1 : 0); });
            check->setObjectName(QStringLiteral("control%1").arg(c.id, 0, 16));
            return check;
        }
        case ControlInfo::Kind::Button: {
            auto* button = new QPushButton(QStringLiteral("Exécuter"), parent);
            QObject::connect(button, &QPushButton::clicked,
                             [&setup, id = c.id] { setup.SetControl(id, 1); });
            return button;
        }
    }
    return nullptr;
}

QString FormatText(const BITMAPINFOHEADER& f) {
    const QString kind = f.biCompression == BI_RGB
                             ? QStringLiteral("RGB24")
                             : QString::fromStdString(FourCCText(f.biCompression));
    return QStringLiteral("%1 %2 × %3").arg(kind).arg(f.biWidth).arg(f.biHeight);
}

void Print(const QString& title, const QStringList& lines) {
    std::fprintf(stderr, "dialog: %s: %s\n", title.toUtf8().constData(),
                 lines.join(QStringLiteral("; ")).toUtf8().constData());
}

QString Listed(const std::vector<std::string>& names, int index) {
    if (index < 0 || static_cast<std::size_t>(index) >= names.size())
        return QStringLiteral("aucune");
    return Q(names[static_cast<std::size_t>(index)]);
}

}  // namespace

QString ModeText(const NativeMode& mode) {
    QString text = QStringLiteral("%1 %2 × %3")
                       .arg(QString::fromStdString(FourCCText(mode.pixelFormat)))
                       .arg(mode.width)
                       .arg(mode.height);
    if (mode.fastestFps > 0)
        text += QStringLiteral(" — %1 im/s").arg(QString::number(mode.fastestFps, 'g', 4));
    return text;
}

SourceDialog::SourceDialog(DeviceSetup& setup, QWidget* owner) : QDialog(owner), setup_(setup) {
    setObjectName(QStringLiteral("sourceDialog"));
    setWindowTitle(Q(setup.deviceName()) + QStringLiteral(" — Source vidéo"));
    before_ = {setup.Input(), setup.Standard(), setup.SoundInput(), {}};
    for (const ControlInfo& c : setup.Controls())
        if (c.kind != ControlInfo::Kind::Button) before_.controls[c.id] = c.value;

    auto* layout = new QVBoxLayout(this);
    auto* form = new QFormLayout;
    inputs_ = Combo("input", this);
    for (const std::string& name : setup.Inputs()) inputs_->addItem(Q(name));
    inputs_->setCurrentIndex(before_.input);
    inputs_->setEnabled(inputs_->count() > 1);
    standards_ = Combo("standard", this);
    FillStandards();
    sound_ = Combo("soundInput", this);
    for (const SoundInputName& s : setup.SoundInputs())
        sound_->addItem(Q(s.description.empty() ? s.pcm : s.description), Q(s.pcm));
    sound_->setCurrentIndex(sound_->findData(Q(before_.sound)));
    form->addRow(QStringLiteral("Entrée vidéo :"), inputs_);
    form->addRow(QStringLiteral("Norme TV :"), standards_);
    form->addRow(QStringLiteral("Entrée son :"), sound_);
    layout->addLayout(form);

    auto* group = new QGroupBox(QStringLiteral("Réglages de l'image"), this);
    auto* scroll = new QScrollArea(group);
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    controlsLayout_ = new QVBoxLayout(group);
    controlsLayout_->addWidget(scroll);
    controls_ = new QWidget(scroll);
    scroll->setWidget(controls_);
    FillControls();
    auto* defaults = new QPushButton(QStringLiteral("Valeurs par défaut"), group);
    defaults->setObjectName(QStringLiteral("defaults"));
    controlsLayout_->addWidget(defaults, 0, Qt::AlignLeft);
    layout->addWidget(group, 1);
    layout->addWidget(OkCancel(this));
    resize(460, 520);

    connect(inputs_, &QComboBox::currentIndexChanged, this, &SourceDialog::ChooseInput);
    connect(standards_, &QComboBox::currentIndexChanged, this,
            [this](int index) { setup_.SelectStandard(index); });
    connect(sound_, &QComboBox::currentIndexChanged, this, [this](int) {
        setup_.SelectSoundInput(sound_->currentData().toString().toStdString());
    });
    connect(defaults, &QPushButton::clicked, this, [this] {
        for (const ControlInfo& c : setup_.Controls())
            if (c.kind != ControlInfo::Kind::Button) setup_.SetControl(c.id, c.defaultValue);
        FillControls();
    });
}

void SourceDialog::FillStandards() {
    const QSignalBlocker quiet(standards_);
    standards_->clear();
    for (const std::string& name : setup_.Standards()) standards_->addItem(Q(name));
    standards_->setCurrentIndex(setup_.Standard());
    standards_->setEnabled(standards_->count() > 0);
    if (standards_->count() == 0) standards_->setPlaceholderText(QStringLiteral("aucune"));
}

// Rebuilt whole: another input may have other controls, and the defaults button changes them.
void SourceDialog::FillControls() {
    delete controls_->layout();
    for (QWidget* child : controls_->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
        delete child;
    auto* form = new QFormLayout(controls_);
    std::string group;
    for (const ControlInfo& c : setup_.Controls()) {
        if (c.group != group && !c.group.empty()) {
            auto* heading =
                new QLabel(QStringLiteral("<b>%1</b>").arg(Q(c.group).toHtmlEscaped()), controls_);
            form->addRow(heading);
        }
        group = c.group;
        QWidget* widget = ControlWidget(c, setup_, controls_);
        widget->setEnabled(!c.inactive);
        form->addRow(Q(c.name) + QLatin1Char(':'), widget);
    }
    if (form->rowCount() == 0)
        form->addRow(new QLabel(QStringLiteral("Ce périphérique n'a pas de réglage."), controls_));
}

void SourceDialog::ChooseInput(int index) {
    setup_.SelectInput(index);
    FillStandards();
    FillControls();
}

void SourceDialog::Restore() {
    if (setup_.Input() != before_.input && before_.input >= 0) setup_.SelectInput(before_.input);
    if (setup_.Standard() != before_.standard && before_.standard >= 0)
        setup_.SelectStandard(before_.standard);
    for (const ControlInfo& c : setup_.Controls()) {
        const auto was = before_.controls.find(c.id);
        if (was != before_.controls.end() && was->second != c.value)
            setup_.SetControl(c.id, was->second);
    }
    setup_.SelectSoundInput(before_.sound);
}

void SourceDialog::done(int result) {
    if (result == QDialog::Accepted)
        setup_.Remember();
    else
        Restore();
    QDialog::done(result);
}

FormatDialog::FormatDialog(DeviceSetup& setup, const BITMAPINFOHEADER& format, QWidget* owner)
    : QDialog(owner), setup_(setup) {
    setObjectName(QStringLiteral("formatDialog"));
    setWindowTitle(Q(setup.deviceName()) + QStringLiteral(" — Format vidéo"));
    auto* layout = new QVBoxLayout(this);
    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("Image demandée :"), new QLabel(FormatText(format), this));
    const std::optional<NativeMode> inUse = setup.ModeInUse();
    form->addRow(QStringLiteral("Mode en usage :"),
                 new QLabel(inUse ? ModeText(*inUse) : QStringLiteral("inconnu"), this));
    modes_ = Combo("mode", this);
    modes_->addItem(QStringLiteral("Automatique (le moins coûteux pour cette image)"));
    const std::optional<NativeMode> preferred = setup.PreferredMode();
    for (const NativeMode& mode : setup.Modes()) {
        modes_->addItem(ModeText(mode));
        if (preferred && *preferred == mode) modes_->setCurrentIndex(modes_->count() - 1);
    }
    form->addRow(QStringLiteral("Mode du périphérique :"), modes_);
    layout->addLayout(form);
    auto* note = new QLabel(QStringLiteral("L'image du mode choisi est mise à la taille demandée. "
                                           "Un mode qui ne peut pas la donner est ignoré."),
                            this);
    note->setWordWrap(true);
    layout->addWidget(note);
    layout->addWidget(OkCancel(this));
}

void FormatDialog::done(int result) {
    if (result == QDialog::Accepted) {
        const std::vector<NativeMode> modes = setup_.Modes();
        const int index = modes_->currentIndex() - 1;
        std::optional<NativeMode> chosen;
        if (index >= 0 && static_cast<std::size_t>(index) < modes.size())
            chosen = modes[static_cast<std::size_t>(index)];
        setup_.PreferMode(chosen);
        setup_.Remember();
    }
    QDialog::done(result);
}

void RunSourceDialog(DeviceSetup& setup, QWidget* owner) {
    if (Machine().user.messagesToStderr) {
        const auto controls = setup.Controls();
        Print(Q(setup.deviceName()) + QStringLiteral(" — Source vidéo"),
              {QStringLiteral("Entrée vidéo : ") + Listed(setup.Inputs(), setup.Input()),
               QStringLiteral("Norme TV : ") + Listed(setup.Standards(), setup.Standard()),
               QStringLiteral("Entrée son : ") + Q(setup.SoundInput()),
               QStringLiteral("Réglages : %1").arg(controls.size())});
        return;
    }
    SourceDialog dialog(setup, owner);
    dialog.exec();
}

void RunFormatDialog(DeviceSetup& setup, const BITMAPINFOHEADER& format, QWidget* owner) {
    if (Machine().user.messagesToStderr) {
        const std::optional<NativeMode> inUse = setup.ModeInUse();
        const std::optional<NativeMode> preferred = setup.PreferredMode();
        Print(Q(setup.deviceName()) + QStringLiteral(" — Format vidéo"),
              {QStringLiteral("Image demandée : ") + FormatText(format),
               QStringLiteral("Mode en usage : ") +
                   (inUse ? ModeText(*inUse) : QStringLiteral("inconnu")),
               QStringLiteral("Mode choisi : ") +
                   (preferred ? ModeText(*preferred) : QStringLiteral("automatique")),
               QStringLiteral("Modes : %1").arg(setup.Modes().size())});
        return;
    }
    FormatDialog dialog(setup, format, owner);
    dialog.exec();
}

}  // namespace platform
