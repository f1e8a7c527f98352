// SPDX-License-Identifier: GPL-2.0-or-later
// Holds a screenshot of the main window against the skin's rules on the window's own surface:
//   skin_screenshot_check SHOT.png [options]
// The surface is found on a window made here, offscreen on the same machine and resized to the
// screenshot (with the options panel shown when asked): the pixels no control covers.
#include <QApplication>
#include <QImage>
#include <QLabel>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/form1.h"
#include "platform/messages.h"
#include "tests/app/skin_rules.h"

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s SHOT.png [options]\n", argv[0]);
        return 2;
    }
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    platform::SetMessageReporter([](platform::MessageKind, const std::string&) {});
    const QImage shot =
        QImage(QString::fromLocal8Bit(argv[1])).convertToFormat(QImage::Format_RGB32);
    if (shot.isNull()) return 2;
    TForm1 form({QStringLiteral("vistrel")});
    form.resize(shot.size());
    form.Panel5->setVisible(argc > 2 && std::strcmp(argv[2], "options") == 0);
    const QImage tile = skin_rules::Tile();
    long compared = 0, wrong = 0;
    for (int y = 0; y < shot.height(); ++y) {
        for (int x = 0; x < shot.width(); ++x) {
            if (form.childAt(x, y) != nullptr) continue;
            ++compared;
            const auto expected = skin_rules::Pixel(tile, x, y, shot.width(), shot.height());
            if (expected && *expected == shot.pixel(x, y)) continue;
            if (++wrong <= 10) std::printf("pixel %d,%d is %08x\n", x, y, shot.pixel(x, y));
        }
    }
    std::printf("%s: %dx%d, %ld surface pixels compared, %ld differ\n", argv[1], shot.width(),
                shot.height(), compared, wrong);
    return wrong == 0 && compared > 0 ? 0 : 1;
}
