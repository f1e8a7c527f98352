// SPDX-License-Identifier: GPL-2.0-or-later
// A destination typed as the system names a folder is that folder: the files go there, named
// through the drives, and only the date and time are hyphenated.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "platform/files.h"
#include "tests/fakes/fake_capture.h"
#include "tests/support/recorder_internals.h"

namespace {

constexpr char kName[] = "VST_06-12-2026_14-03-27_0.avi";

TEST(Destination, AFolderAsTheSystemNamesItIsThatFolder) {
    QTemporaryDir home;
    const QString root = home.path();
    ASSERT_TRUE(QDir(root).mkpath("Vidéos") && QDir(root).mkpath("a:b"));
    const QByteArray previousHome = qgetenv("HOME");
    setenv("HOME", root.toUtf8().constData(), 1);
    fakes::FakeMachine machine;
    machine.description.drives['Z'] = {DRIVE_FIXED, "/"};
    platform::SetMachine(machine.description);
    const struct {
        QString typed;
        QString folder;  // where the file lands; empty when the start is refused
    } cases[] = {
        {root + "/Vidéos/", root + "/Vidéos"},
        {root + "/Vidéos", root + "/Vidéos"},
        {QStringLiteral("~/Vidéos/"), root + "/Vidéos"},
        {root + "/a:b/", root + "/a:b"},  // a colon is legal in a Linux name
        {root + "/back\\slash/", {}},     // no Windows spelling
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.typed.toStdString());
        support::RememberedEvents events;
        Recorder recorder(events);
        RecordingInput input;
        input.destination = c.typed;
        input.stamp = QStringLiteral("06/12/2026_14:03:27");
        const bool started = recorder.Start(input);
        EXPECT_EQ(started, !c.folder.isEmpty());
        if (!started) {
            EXPECT_EQ(events.texts.size(), 1u);
            continue;
        }
        const std::string path = recorder.State().CurrentFilePath.data();
        EXPECT_EQ(platform::HostPath(path), (c.folder + '/' + kName).toStdString());
        EXPECT_TRUE(events.texts.empty());
    }
    setenv("HOME", previousHome.constData(), 1);
}

}  // namespace
