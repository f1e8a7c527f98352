// SPDX-License-Identifier: GPL-2.0-or-later
// Every text the window shows fits the room its control leaves it at the designed sizes, in the
// font the control really got from the font database.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFontInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>
#include <QStyleOption>

#include "tests/fakes/form_under_test.h"

namespace {

using fakes::FormUnderTest;

// The style options a control paints with, as the control itself fills them.
template <typename Widget>
struct Exposed : Widget {
    using Widget::initStyleOption;
};

template <typename Widget, typename Option>
Option StyleOptionOf(const Widget* widget) {
    void (Widget::*fill)(Option*) const = &Exposed<Widget>::initStyleOption;
    Option option;
    (widget->*fill)(&option);
    return option;
}

// A line edit draws its text inside its frame, its text margins and a fixed 2-pixel margin on
// each side.
int LineEditRoom(const QLineEdit* edit) {
    const auto option = StyleOptionOf<QLineEdit, QStyleOptionFrame>(edit);
    const QRect contents =
        edit->style()->subElementRect(QStyle::SE_LineEditContents, &option, edit);
    return contents.marginsRemoved(edit->textMargins()).width() - 2 * 2;
}

struct Fit {
    QString control;
    QString text;
    QFont font;
    int room;
};

// The texts a control shows and the room for each. An editable list shows its current text, or
// any of its items once picked, in its edit field.
QList<Fit> FitsOf(QWidget* control) {
    const QString name = control->objectName();
    QStyle* style = control->style();
    if (auto* combo = qobject_cast<QComboBox*>(control)) {
        QList<Fit> fits;
        QStringList texts{combo->currentText()};
        for (int item = 0; item < combo->count(); ++item) texts << combo->itemText(item);
        texts.removeDuplicates();
        for (const QString& text : texts) {
            fits.append({name, text, combo->lineEdit()->font(), LineEditRoom(combo->lineEdit())});
        }
        return fits;
    }
    if (auto* edit = qobject_cast<QLineEdit*>(control)) {
        if (qobject_cast<QComboBox*>(edit->parentWidget()) != nullptr) return {};
        return {{name, edit->text(), edit->font(), LineEditRoom(edit)}};
    }
    if (auto* check = qobject_cast<QCheckBox*>(control)) {
        const auto option = StyleOptionOf<QCheckBox, QStyleOptionButton>(check);
        const QRect room = style->subElementRect(QStyle::SE_CheckBoxContents, &option, check);
        return {{name, check->text(), check->font(), room.width()}};
    }
    if (auto* button = qobject_cast<QPushButton*>(control)) {
        const auto option = StyleOptionOf<QPushButton, QStyleOptionButton>(button);
        const QRect room = style->subElementRect(QStyle::SE_PushButtonContents, &option, button);
        return {{name, button->text(), button->font(), room.width()}};
    }
    if (auto* group = qobject_cast<QGroupBox*>(control)) {
        // The title starts where the style puts it and may run to the box's right edge.
        const auto option = StyleOptionOf<QGroupBox, QStyleOptionGroupBox>(group);
        const QRect title =
            style->subControlRect(QStyle::CC_GroupBox, &option, QStyle::SC_GroupBoxLabel, group);
        return {{name, group->title(), group->font(), group->width() - title.left()}};
    }
    if (auto* label = qobject_cast<QLabel*>(control)) {
        const int margins = 2 * label->margin() + 2 * std::max(label->indent(), 0);
        return {{name, label->text(), label->font(), label->contentsRect().width() - margins}};
    }
    return {};
}

QString Describe(const Fit& fit) {
    return QStringLiteral("%1 \"%2\" in %3 %4 px%5: %6 px for %7 px of room")
        .arg(fit.control, fit.text, QFontInfo(fit.font).family())
        .arg(fit.font.pixelSize())
        .arg(fit.font.bold() ? QStringLiteral(" bold") : QString())
        .arg(QFontMetrics(fit.font).horizontalAdvance(fit.text))
        .arg(fit.room);
}

// The window as a user first sees it on the built-in test card, with the options panel open.
TEST(TextFit, EveryShownTextFitsItsControl) {
    FormUnderTest run;
    run.machine.description.drivers[0] = platform::DriverDescription{};
    platform::SetMachine(run.machine.description);
    TForm1& form = run.Create();
    form.show();
    form.Button1->click();
    QApplication::processEvents();

    int checked = 0;
    for (QWidget* control : form.findChildren<QWidget*>()) {
        for (const Fit& fit : FitsOf(control)) {
            if (fit.text.isEmpty()) continue;
            ++checked;
            const int width = QFontMetrics(fit.font).horizontalAdvance(fit.text);
            EXPECT_LE(width, fit.room) << Describe(fit).toStdString();
        }
    }
    // The buttons, labels, titles, edit fields and lists the window shows, the driver's name
    // for the test card among them.
    EXPECT_EQ(form.ComboBox1->currentText(), "Carte de test - 1.0");
    EXPECT_GE(checked, 30);
}

}  // namespace
