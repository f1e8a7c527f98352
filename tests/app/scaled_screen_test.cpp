// SPDX-License-Identifier: GPL-2.0-or-later
// The window on a desktop scaled to 100, 150 and 200 %. The toolkit reads its scale once, when it
// starts, so each row runs this program again with QT_SCALE_FACTOR set, on an offscreen screen of
// the described desktop's 1920 x 1080 device pixels; the run prints the window's frame and the
// screen's available geometry, and this test holds one inside the other.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QFile>
#include <QGuiApplication>
#include <QProcess>
#include <QRect>
#include <QScreen>
#include <QTemporaryDir>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "tests/fakes/form_under_test.h"

namespace {

constexpr const char* kRowVariable = "VISTREL_SCALED_ROW";

struct Situation {
    const char* name;
    const char* runMode;   // empty: the interactive window
    const char* settings;  // the settings file beside the program, or none
    bool fillsScreen;
};

const Situation kSituations[] = {
    {"nothing saved", "", nullptr, false},
    {"saved far off screen", "", "\r\n\r\n-3000\r\n5000\r\n", false},
    {"saved across the bottom right corner", "", "\r\n\r\n700\r\n1500\r\n", false},
    // Where a Time run at 200 % put its tile before the window counted in the toolkit's pixels.
    {"saved by a Time run", "", "\r\n\r\n1020\r\n921\r\n", false},
    {"Time", "Time", nullptr, false},
    {"TV", "TV", nullptr, true},
    // The display has no 800 x 600 mode at any scale here: the picture fills the screen as it is.
    {"Capture", "Capture", nullptr, true},
};

QString Text(const QRect& r) {
    return QStringLiteral("%1 %2 %3 %4").arg(r.x()).arg(r.y()).arg(r.width()).arg(r.height());
}

// In the rerun: the window made, shown (activated) and measured: "measured SCREEN AVAILABLE FRAME".
int MeasureRow(const std::string& row) {
    const Situation& situation = kSituations[std::stoi(row)];
    fakes::FormUnderTest run({0}, 1920, 1080);
    platform::DisplayDescription display = run.machine.description.display;
    display.modes = {{1920, 1080}};
    run.machine.SetDisplay(display);
    if (situation.settings != nullptr) {
        QFile file(QString::fromStdString(run.SettingsFile()));
        if (!file.open(QIODevice::WriteOnly)) return 2;
        file.write(situation.settings);
    }
    TForm1& form =
        run.Create(*situation.runMode ? QString::fromLatin1(situation.runMode) : QString());
    form.show();
    const QScreen* screen = QGuiApplication::primaryScreen();
    std::printf("measured %s %s %s\n", qPrintable(Text(screen->geometry())),
                qPrintable(Text(screen->availableGeometry())),
                qPrintable(Text(form.frameGeometry())));
    std::fflush(stdout);
    return 0;
}

// Set up before any test runs, so that a rerun measures and ends there.
class RowRerun : public ::testing::Environment {
  public:
    void SetUp() override {
        if (const char* row = std::getenv(kRowVariable)) std::_Exit(MeasureRow(row));
    }
};
[[maybe_unused]] ::testing::Environment* const kRowRerun =
    ::testing::AddGlobalTestEnvironment(new RowRerun);

TEST(ScaledScreen, TheWindowOpensInsideTheScreensAvailableGeometry) {
    QTemporaryDir folder;
    QFile screens(folder.filePath(QStringLiteral("screens.json")));
    ASSERT_TRUE(screens.open(QIODevice::WriteOnly));
    screens.write(R"({"screens": [{"name": "s", "x": 0, "y": 0, "width": 1920, "height": 1080}]})");
    screens.close();
    for (const char* factor : {"1", "1.5", "2"}) {
        for (std::size_t row = 0; row < std::size(kSituations); ++row) {
            SCOPED_TRACE(std::string(kSituations[row].name) + " at " + factor);
            QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
            environment.insert(QString::fromLatin1(kRowVariable), QString::number(row));
            environment.insert(QStringLiteral("QT_SCALE_FACTOR"), QString::fromLatin1(factor));
            environment.insert(QStringLiteral("QT_QPA_PLATFORM"),
                               QStringLiteral("offscreen:configfile=") + screens.fileName());
            QProcess rerun;
            rerun.setProcessEnvironment(environment);
            rerun.start(QCoreApplication::applicationFilePath(),
                        {QStringLiteral("--gtest_filter=ScaledScreen.*")});
            ASSERT_TRUE(rerun.waitForFinished(30000));
            const QString out = QString::fromLatin1(rerun.readAllStandardOutput());
            const QStringList n = out.mid(out.indexOf(QStringLiteral("measured ")))
                                      .simplified()
                                      .split(QLatin1Char(' '));
            ASSERT_GE(n.size(), 13)
                << out.toStdString() << rerun.readAllStandardError().toStdString();
            const auto rect = [&n](int i) {
                return QRect(n[i].toInt(), n[i + 1].toInt(), n[i + 2].toInt(), n[i + 3].toInt());
            };
            const QRect screen = rect(1), available = rect(5), frame = rect(9);
            EXPECT_TRUE(available.contains(frame))
                << Text(frame).toStdString() << " in " << Text(available).toStdString();
            // In the screen's own pixels, as the toolkit rounds the place and the size apart.
            const double f = std::stod(factor);
            const QRect device(qRound(frame.x() * f), qRound(frame.y() * f),
                               qRound(frame.width() * f), qRound(frame.height() * f));
            EXPECT_TRUE(QRect(0, 0, 1920, 1080).contains(device)) << Text(device).toStdString();
            if (kSituations[row].fillsScreen) {
                EXPECT_EQ(Text(frame).toStdString(), Text(screen).toStdString());
            }
        }
    }
}

}  // namespace
