// SPDX-License-Identifier: GPL-2.0-or-later
// Renders the main window headless to a PNG, as it stands after start-up on the machine in
// force (by default the test card): vistrel_render_window OUT.png [RUN_MODE]
#include <QApplication>
#include <QElapsedTimer>
#include <QPixmap>
#include <cstdio>
#include <cstdlib>

#include "app/form1.h"
#include "platform/messages.h"

namespace {

// Lets the live picture paint a few frames before the window is grabbed.
void RunEventsFor(int milliseconds) {
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < milliseconds) QApplication::processEvents(QEventLoop::AllEvents, 20);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2 || argc > 3) {
        std::fprintf(stderr, "usage: %s OUT.png [RUN_MODE]\n", argv[0]);
        return 2;
    }
    if (std::getenv("QT_QPA_PLATFORM") == nullptr) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    platform::SetMessageReporter([](platform::MessageKind, const std::string& text) {
        std::fprintf(stderr, "message: %s\n", text.c_str());
    });
    const QString output = QString::fromLocal8Bit(argv[1]);
    QStringList arguments{QStringLiteral("vistrel")};
    if (argc == 3) arguments << QString::fromLocal8Bit(argv[2]);
    TForm1 form(arguments);
    form.show();
    RunEventsFor(800);
    const bool saved = form.grab().save(output, "PNG");
    std::fprintf(stderr, "%s: %dx%d\n", argv[1], form.width(), form.height());
    form.close();
    return saved ? 0 : 1;
}
