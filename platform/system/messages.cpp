// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/messages.h"

#include <QApplication>
#include <QGuiApplication>
#include <QMessageBox>
#include <QPointer>
#include <QThread>
#include <cstdio>
#include <utility>
#include <vector>

#include "platform/machine.h"

namespace platform {
namespace {

// Set by DismissMessages: nobody is waited for any more.
bool dismissed = false;

// The boxes waiting for the user, innermost last (a box's loop may show another).
std::vector<QPointer<QMessageBox>>& OpenBoxes() {
    static std::vector<QPointer<QMessageBox>> boxes;
    return boxes;
}

// Nobody can press a button on the offscreen or minimal platforms, so a box there would never be
// acknowledged; neither can one be shown without a widget application or off the GUI thread.
bool CanShowBox() {
    if (qobject_cast<QApplication*>(QCoreApplication::instance()) == nullptr) return false;
    if (QThread::currentThread() != QCoreApplication::instance()->thread()) return false;
    const QString platform = QGuiApplication::platformName();
    return platform != QLatin1String("offscreen") && platform != QLatin1String("minimal");
}

void Print(const std::string& text) {
    std::fprintf(stderr, "message: %s\n", text.c_str());
    std::fflush(stderr);
}

void ShowBox(MessageKind kind, const std::string& text) {
    const auto icon =
        kind == MessageKind::ConversionError ? QMessageBox::Critical : QMessageBox::Information;
    QMessageBox box(icon, QGuiApplication::applicationDisplayName(), QString::fromStdString(text),
                    QMessageBox::Ok, QApplication::activeWindow());
    OpenBoxes().emplace_back(&box);
    box.exec();
    OpenBoxes().pop_back();
}

void DefaultReporter(MessageKind kind, const std::string& text) {
    if (Machine().user.messagesToStderr || dismissed || !CanShowBox()) {
        Print(text);
        return;
    }
    ShowBox(kind, text);
}

MessageReporter& Reporter() {
    static MessageReporter reporter = DefaultReporter;
    return reporter;
}

// A copy is called, so a reporter may replace itself while it runs.
void Report(MessageKind kind, const std::string& text) {
    const MessageReporter reporter = Reporter();
    reporter(kind, text);
}

}  // namespace

void ShowMessage(const std::string& text) {
    Report(MessageKind::Information, text);
}

void ShowConversionError(const std::string& value) {
    Report(MessageKind::ConversionError, "'" + value + "' n'est pas une valeur entière correcte");
}

// A box closed unread is printed, so that what it said is not lost.
void DismissMessages() {
    if (dismissed) return;
    dismissed = true;
    for (const QPointer<QMessageBox>& box : OpenBoxes()) {
        if (!box) continue;
        Print(box->text().toStdString());
        box->done(QMessageBox::Ok);
    }
}

MessageReporter SetMessageReporter(MessageReporter reporter) {
    if (!reporter) reporter = DefaultReporter;
    return std::exchange(Reporter(), std::move(reporter));
}

}  // namespace platform
