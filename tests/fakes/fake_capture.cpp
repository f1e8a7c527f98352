// SPDX-License-Identifier: GPL-2.0-or-later
#include "tests/fakes/fake_capture.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "platform/display.h"

namespace fakes {

FakeCaptureService::FakeCaptureService() {
    format.biSize = sizeof(BITMAPINFOHEADER);
    format.biWidth = 384;
    format.biHeight = 288;
    format.biPlanes = 1;
    format.biBitCount = 24;
    format.biCompression = BI_RGB;
    format.biSizeImage = 384 * 288 * 3;
    previous_ =
        platform::SetMessageHook([this](HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
            return Answer(window, message, wParam, lParam);
        });
}

FakeCaptureService::~FakeCaptureService() {
    platform::SetMessageHook(previous_);
}

std::vector<UINT> FakeCaptureService::MessageIds() const {
    std::vector<UINT> ids;
    for (const SentMessage& m : messages) ids.push_back(m.message);
    return ids;
}

std::vector<SentMessage> FakeCaptureService::Sent(UINT message) const {
    std::vector<SentMessage> found;
    std::copy_if(messages.begin(), messages.end(), std::back_inserter(found),
                 [message](const SentMessage& m) { return m.message == message; });
    return found;
}

void FakeCaptureService::Clear() {
    messages.clear();
    offeredFormats.clear();
}

LRESULT FakeCaptureService::AnswerFormat(WPARAM wParam, LPARAM lParam) const {
    if (wParam == 0) return formatSize;
    const std::size_t size = std::min<std::size_t>(wParam, sizeof(format));
    std::memcpy(reinterpret_cast<void*>(lParam), &format, size);
    return static_cast<LRESULT>(size);
}

std::optional<LRESULT> FakeCaptureService::Answer(HWND window, UINT message, WPARAM wParam,
                                                  LPARAM lParam) {
    messages.push_back({window, message, wParam, lParam});
    if (window == nullptr) return 0;  // as the service answers for no window
    switch (message) {
        case WM_CAP_DRIVER_CONNECT:
            return connectable.count(wParam) ? 1 : 0;
        case WM_CAP_GET_STATUS: {
            CAPSTATUS status{};
            status.uiImageWidth = statusWidth;
            status.uiImageHeight = statusHeight;
            std::memcpy(reinterpret_cast<void*>(lParam), &status,
                        std::min<std::size_t>(wParam, sizeof(status)));
            return 1;
        }
        case WM_CAP_GET_VIDEOFORMAT:
            return AnswerFormat(wParam, lParam);
        case WM_CAP_SET_VIDEOFORMAT: {
            BITMAPINFOHEADER offered;
            std::memcpy(&offered, reinterpret_cast<const void*>(lParam), sizeof(offered));
            offeredFormats.push_back(offered);
            if (!accepts(offered)) return 0;
            // As a driver does, the accepted format becomes the one it reports and delivers.
            format = offered;
            format.biBitCount = 24;
            format.biSizeImage = static_cast<DWORD>((offered.biWidth * 24 + 31) / 32 * 4 *
                                                    std::abs(offered.biHeight));
            return 1;
        }
        case WM_CAP_SET_OVERLAY:
            return overlayAnswer;
        case WM_CAP_GET_CONNECT_FAILURE:
            if (connectFailure.empty()) return 0;
            if (lParam != 0)
                std::memcpy(reinterpret_cast<char*>(lParam), connectFailure.c_str(),
                            std::min<std::size_t>(wParam, connectFailure.size() + 1));
            return static_cast<LRESULT>(connectFailure.size() + 1);
        default:
            return 1;
    }
}

MessageRecorder::MessageRecorder() {
    previous_ = platform::SetMessageReporter(
        [this](platform::MessageKind, const std::string& text) { texts.push_back(text); });
}

MessageRecorder::~MessageRecorder() {
    platform::SetMessageReporter(previous_);
}

FakeMachine::FakeMachine(std::set<int> driverIndexes, int width, int height) {
    description.codecs = {{"MJPG", true}};
    for (int index : driverIndexes) {
        platform::DriverDescription driver;
        driver.name = "Carte " + std::to_string(index);
        driver.version = "1." + std::to_string(index);
        description.drivers.at(static_cast<std::size_t>(index)) = driver;
    }
    description.display.backend = platform::DisplayDescription::Backend::Machine;
    description.display.size = {width, height};
    description.display.modes = {{800, 600}, {width, height}};
    previous_ = platform::SetMachine(description);
}

// The display service keeps its state while the description's display stays the same; touching it
// under the previous description makes the next test's display start afresh.
FakeMachine::~FakeMachine() {
    platform::SetMachine(previous_);
    GetSystemMetrics(SM_CXSCREEN);
}

void FakeMachine::SetDisplay(const platform::DisplayDescription& display) {
    description.display = display;
    platform::SetMachine(description);
}

}  // namespace fakes
