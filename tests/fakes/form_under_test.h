// SPDX-License-Identifier: GPL-2.0-or-later
// A main window created on a fake machine with a fake capture service, its messages recorded.
// The program lies in a folder of its own (drive C:), so its settings file is the test's alone.
#pragma once

#include <QCoreApplication>
#include <QEvent>
#include <QTemporaryDir>
#include <memory>

#include "app/form1.h"
#include "platform/files.h"
#include "tests/fakes/fake_capture.h"

namespace fakes {

struct FormUnderTest {
    explicit FormUnderTest(std::set<int> drivers = {0}, int width = 1024, int height = 768)
        : machine(drivers, width, height) {
        // The drivers the machine has are the ones that connect.
        capture.connectable = {drivers.begin(), drivers.end()};
        machine.description.drives['C'] = {DRIVE_FIXED, folder.path().toStdString()};
        platform::SetMachine(machine.description);
        previousExecutable_ = platform::SetExecutablePath(folder.filePath("vistrel").toStdString());
    }
    ~FormUnderTest() {
        form.reset();
        platform::SetExecutablePath(previousExecutable_);
    }
    FormUnderTest(const FormUnderTest&) = delete;
    FormUnderTest& operator=(const FormUnderTest&) = delete;

    // The host path of the settings file beside the program.
    std::string SettingsFile() const { return folder.filePath("Vistrel.ini").toStdString(); }

    // Creates the window (its creation steps run now) with the run mode given, if any.
    TForm1& Create(const QString& runMode = {}) {
        QStringList arguments{QStringLiteral("vistrel")};
        if (!runMode.isNull()) arguments << runMode;
        form = std::make_unique<TForm1>(arguments);
        return *form;
    }

    // Lets the windows the program let go of be deleted.
    static void DeleteDropped() {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    QTemporaryDir folder;
    FakeMachine machine;
    MessageRecorder boxes;
    FakeCaptureService capture;
    std::unique_ptr<TForm1> form;

  private:
    std::string previousExecutable_;
};

}  // namespace fakes
