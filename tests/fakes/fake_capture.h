// SPDX-License-Identifier: GPL-2.0-or-later
// A capture service for component tests: it sees every message the program sends to a capture
// window (through the platform's message hook), records them in order and answers them as a test
// steers it, so that no driver behind the windows is ever reached.
#pragma once

#include <functional>
#include <set>
#include <string>
#include <vector>

#include "platform/machine.h"
#include "platform/messages.h"
#include "platform/vfw.h"

namespace fakes {

struct SentMessage {
    HWND window;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
};

class FakeCaptureService {
  public:
    FakeCaptureService();
    ~FakeCaptureService();
    FakeCaptureService(const FakeCaptureService&) = delete;
    FakeCaptureService& operator=(const FakeCaptureService&) = delete;

    // Steering. Defaults: driver 0 connects, 384 x 288 RGB24 reported and accepted, overlay on.
    std::set<WPARAM> connectable{0};
    UINT statusWidth = 384;
    UINT statusHeight = 288;
    BITMAPINFOHEADER format{};
    LRESULT formatSize = sizeof(BITMAPINFOHEADER);  // the answer to the size query
    std::function<bool(const BITMAPINFOHEADER&)> accepts = [](const BITMAPINFOHEADER&) {
        return true;
    };
    LRESULT overlayAnswer = 1;
    std::string connectFailure;  // why a refused connection was refused

    // What was sent, in order.
    std::vector<SentMessage> messages;
    std::vector<UINT> MessageIds() const;
    std::vector<SentMessage> Sent(UINT message) const;
    // The formats offered with WM_CAP_SET_VIDEOFORMAT, as they were when sent.
    std::vector<BITMAPINFOHEADER> offeredFormats;
    void Clear();

  private:
    std::optional<LRESULT> Answer(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT AnswerFormat(WPARAM wParam, LPARAM lParam) const;
    platform::MessageHook previous_;
};

// Records the texts of the message boxes instead of showing them.
class MessageRecorder {
  public:
    MessageRecorder();
    ~MessageRecorder();
    MessageRecorder(const MessageRecorder&) = delete;
    MessageRecorder& operator=(const MessageRecorder&) = delete;
    std::vector<std::string> texts;

  private:
    platform::MessageReporter previous_;
};

// A machine with test-card drivers at the given indexes ("Carte N" version "1.N") and a display
// of the given size on the machine backend, where 800 x 600 and that size can be set; restored
// when it goes out of scope.
class FakeMachine {
  public:
    explicit FakeMachine(std::set<int> driverIndexes = {0}, int width = 1024, int height = 768);
    ~FakeMachine();
    FakeMachine(const FakeMachine&) = delete;
    FakeMachine& operator=(const FakeMachine&) = delete;
    // Changes the display description in force (modes answering restart, failed...).
    void SetDisplay(const platform::DisplayDescription& display);
    platform::MachineDescription description;

  private:
    platform::MachineDescription previous_;
};

}  // namespace fakes
