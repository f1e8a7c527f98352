// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/messages.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "platform/machine.h"

namespace platform {
namespace {

using Shown = std::vector<std::pair<MessageKind, std::string>>;

class Messages : public testing::Test {
  protected:
    void SetUp() override {
        machineBefore_ = SetMachine(DefaultMachineDescription());  // dialogs, not stderr
        previous_ = SetMessageReporter(
            [this](MessageKind kind, const std::string& text) { shown_.emplace_back(kind, text); });
    }
    void TearDown() override {
        SetMessageReporter(previous_);
        SetMachine(machineBefore_);
    }

    Shown shown_;
    MessageReporter previous_;
    MachineDescription machineBefore_;
};

TEST_F(Messages, ReporterReceivesEveryBoxInOrder) {
    ShowMessage("Pas de pilote de capture.");
    ShowConversionError("12a");
    ShowConversionError("");
    EXPECT_EQ(
        shown_,
        (Shown{{MessageKind::Information, "Pas de pilote de capture."},
               {MessageKind::ConversionError, "'12a' n'est pas une valeur enti\xC3\xA8re correcte"},
               {MessageKind::ConversionError, "'' n'est pas une valeur enti\xC3\xA8re correcte"}}));
}

TEST_F(Messages, SetMessageReporterReturnsThePreviousOne) {
    Shown other;
    MessageReporter mine = SetMessageReporter(
        [&other](MessageKind kind, const std::string& text) { other.emplace_back(kind, text); });
    ASSERT_TRUE(mine);
    mine(MessageKind::Information, "via the returned one");
    ShowMessage("to the new one");
    EXPECT_EQ(shown_, (Shown{{MessageKind::Information, "via the returned one"}}));
    EXPECT_EQ(other, (Shown{{MessageKind::Information, "to the new one"}}));
}

TEST_F(Messages, AReporterMayReplaceItselfWhileItRuns) {
    int calls = 0;
    SetMessageReporter([&calls, this](MessageKind, const std::string&) {
        ++calls;
        SetMessageReporter(
            [this](MessageKind kind, const std::string& text) { shown_.emplace_back(kind, text); });
    });
    ShowMessage("first");
    ShowMessage("second");
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(shown_, (Shown{{MessageKind::Information, "second"}}));
}

// The default reporter never blocks where nobody can answer a box: offscreen, it prints.
TEST_F(Messages, DefaultReporterPrintsWhereNoBoxCanBeAnswered) {
    SetMessageReporter({});
    testing::internal::CaptureStderr();
    ShowMessage("Fichier créé.");
    ShowConversionError("x");
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "message: Fichier créé.\n"
              "message: 'x' n'est pas une valeur entière correcte\n");
}

TEST_F(Messages, ScriptedUserAsksForStandardError) {
    MachineDescription machine = DefaultMachineDescription();
    machine.user.messagesToStderr = true;
    SetMachine(machine);
    SetMessageReporter({});
    testing::internal::CaptureStderr();
    ShowMessage("Capture terminée");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "message: Capture terminée\n");
}

}  // namespace
}  // namespace platform
