// SPDX-License-Identifier: GPL-2.0-or-later
// The video capture service's entry points: driver descriptions, capture window creation and the
// message dispatch, with the hook that tests use to watch and steer it.
#include <QWidget>
#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <utility>

#include "platform/capture/capture_sequence.h"
#include "platform/capture/capture_window.h"
#include "platform/machine.h"
#include "platform/vfw.h"
#include "platform/window_handles.h"

namespace platform {
namespace {

// Shared, so that a hook replaced from inside itself stays alive until it returns.
std::shared_ptr<const MessageHook>& InstalledHook() {
    static std::shared_ptr<const MessageHook> hook;
    return hook;
}

// Cuts on a character boundary, so a long UTF-8 name never ends in half a character.
void CopyText(const std::string& text, LPSTR out, int size) {
    if (out == nullptr || size <= 0) return;
    std::size_t n = std::min(text.size(), static_cast<std::size_t>(size - 1));
    while (n > 0 && n < text.size() && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80) --n;
    std::memcpy(out, text.data(), n);
    out[n] = '\0';
}

LRESULT Answer(bool ok) {
    return ok ? TRUE : FALSE;
}

// Copies a record out to the caller's buffer of `room` bytes; a smaller buffer gets the start.
bool CopyOut(const void* record, std::size_t size, WPARAM room, LPARAM destination) {
    if (destination == 0 || room == 0) return false;
    std::memcpy(reinterpret_cast<void*>(destination), record, std::min<std::size_t>(room, size));
    return true;
}

// Reads a record in from the caller; fields beyond `room` bytes stay zero.
template <typename Record>
Record CopyIn(WPARAM room, LPARAM source) {
    Record record{};
    std::memcpy(&record, reinterpret_cast<const void*>(source),
                std::min<std::size_t>(room, sizeof(Record)));
    return record;
}

LRESULT GetStatus(CaptureWindow& w, WPARAM room, LPARAM out) {
    const CAPSTATUS status = w.Status();
    return Answer(CopyOut(&status, sizeof status, room, out));
}

// With no buffer the answer is the size a caller must provide.
LRESULT GetVideoFormat(CaptureWindow& w, WPARAM room, LPARAM out) {
    if (!w.connected()) return 0;
    CopyOut(&w.videoFormat(), sizeof(BITMAPINFOHEADER), room, out);
    return sizeof(BITMAPINFOHEADER);
}

LRESULT SetVideoFormat(CaptureWindow& w, WPARAM size, LPARAM in) {
    if (in == 0 || size < sizeof(BITMAPINFOHEADER)) return FALSE;
    return Answer(w.SetVideoFormat(CopyIn<BITMAPINFOHEADER>(size, in)));
}

// The text with its zero, cut to the room given; the answer is the room a caller must provide.
LRESULT GetConnectFailure(CaptureWindow& w, WPARAM room, LPARAM out) {
    const std::string& text = w.connectFailure();
    if (text.empty()) return 0;
    if (out != 0 && room > 0) {
        const std::size_t kept = std::min<std::size_t>(room - 1, text.size());
        std::memcpy(reinterpret_cast<char*>(out), text.data(), kept);
        reinterpret_cast<char*>(out)[kept] = '\0';
    }
    return static_cast<LRESULT>(text.size() + 1);
}

LRESULT GetAudioFormat(CaptureWindow& w, WPARAM room, LPARAM out) {
    CopyOut(&w.audioFormat(), sizeof(WAVEFORMATEX), room, out);
    return sizeof(WAVEFORMATEX);
}

// 16 bytes is the PCM record without cbSize, which PCM does not use.
LRESULT SetAudioFormat(CaptureWindow& w, WPARAM size, LPARAM in) {
    if (in == 0 || size < offsetof(WAVEFORMATEX, cbSize)) return FALSE;
    return Answer(w.SetAudioFormat(CopyIn<WAVEFORMATEX>(size, in)));
}

LRESULT GetSequenceSetup(CaptureWindow& w, WPARAM room, LPARAM out) {
    return Answer(CopyOut(&w.sequenceSetup(), sizeof(CAPTUREPARMS), room, out));
}

LRESULT SetSequenceSetup(CaptureWindow& w, WPARAM size, LPARAM in) {
    return Answer(w.SetSequenceSetup(reinterpret_cast<const void*>(in), size));
}

template <DriverDialog Which>
LRESULT ShowDialog(CaptureWindow& w, WPARAM, LPARAM) {
    return Answer(w.ShowDriverDialog(Which));
}

using Handler = LRESULT (*)(CaptureWindow&, WPARAM, LPARAM);

struct Route {
    UINT message;
    Handler handler;
};

const std::array kRoutes{
    Route{WM_CAP_SET_CALLBACK_STATUSA,
          [](CaptureWindow& w, WPARAM, LPARAM l) -> LRESULT {
              w.SetStatusCallback(reinterpret_cast<CAPSTATUSCALLBACK>(l));
              return TRUE;
          }},
    Route{WM_CAP_SET_CALLBACK_VIDEOSTREAM,
          [](CaptureWindow& w, WPARAM, LPARAM l) -> LRESULT {
              w.SetVideoCallback(reinterpret_cast<CAPVIDEOCALLBACK>(l));
              return TRUE;
          }},
    Route{WM_CAP_SET_CALLBACK_WAVESTREAM,
          [](CaptureWindow& w, WPARAM, LPARAM l) -> LRESULT {
              w.SetWaveCallback(reinterpret_cast<CAPWAVECALLBACK>(l));
              return TRUE;
          }},
    Route{WM_CAP_DRIVER_CONNECT,
          [](CaptureWindow& w, WPARAM index, LPARAM) { return Answer(w.Connect(index)); }},
    Route{WM_CAP_GET_CONNECT_FAILURE, GetConnectFailure},
    Route{WM_CAP_DRIVER_DISCONNECT,
          [](CaptureWindow& w, WPARAM, LPARAM) { return Answer(w.Disconnect()); }},
    Route{WM_CAP_SET_AUDIOFORMAT, SetAudioFormat},
    Route{WM_CAP_GET_AUDIOFORMAT, GetAudioFormat},
    Route{WM_CAP_DLG_VIDEOFORMAT, ShowDialog<DriverDialog::Format>},
    Route{WM_CAP_DLG_VIDEOSOURCE, ShowDialog<DriverDialog::Source>},
    Route{WM_CAP_DLG_VIDEODISPLAY, ShowDialog<DriverDialog::Display>},
    Route{WM_CAP_GET_VIDEOFORMAT, GetVideoFormat},
    Route{WM_CAP_SET_VIDEOFORMAT, SetVideoFormat},
    Route{WM_CAP_DLG_VIDEOCOMPRESSION, ShowDialog<DriverDialog::Compression>},
    Route{WM_CAP_SET_PREVIEW,
          [](CaptureWindow& w, WPARAM on, LPARAM) { return Answer(w.SetPreview(on != 0)); }},
    Route{WM_CAP_SET_OVERLAY,
          [](CaptureWindow& w, WPARAM on, LPARAM) { return Answer(w.SetOverlay(on != 0)); }},
    Route{WM_CAP_SET_PREVIEWRATE,
          [](CaptureWindow& w, WPARAM ms, LPARAM) { return Answer(w.SetPreviewRate(ms)); }},
    Route{WM_CAP_GET_STATUS, GetStatus},
    Route{WM_CAP_SEQUENCE_NOFILE, [](CaptureWindow& w, WPARAM, LPARAM) { return RunSequence(w); }},
    Route{WM_CAP_SET_SEQUENCE_SETUP, SetSequenceSetup},
    Route{WM_CAP_GET_SEQUENCE_SETUP, GetSequenceSetup},
    Route{WM_CAP_STOP,
          [](CaptureWindow& w, WPARAM, LPARAM) { return Answer(w.EndSequence(false)); }},
    Route{WM_CAP_ABORT,
          [](CaptureWindow& w, WPARAM, LPARAM) { return Answer(w.EndSequence(true)); }},
};

}  // namespace

DWORD CaptureSilenceMs(HWND captureWindow) {
    const CaptureWindow* window = CaptureWindowOf(captureWindow);
    return window == nullptr ? 0 : window->progress().silenceMs;
}

MessageHook SetMessageHook(MessageHook hook) {
    std::shared_ptr<const MessageHook> previous = std::move(InstalledHook());
    InstalledHook() = hook ? std::make_shared<const MessageHook>(std::move(hook)) : nullptr;
    return previous ? *previous : MessageHook{};
}

}  // namespace platform

BOOL capGetDriverDescriptionA(WORD index, LPSTR name, int nameSize, LPSTR version,
                              int versionSize) {
    const auto& drivers = platform::Machine().drivers;
    if (index >= drivers.size() || !drivers[index]) return FALSE;
    platform::CopyText(drivers[index]->name, name, nameSize);
    platform::CopyText(drivers[index]->version, version, versionSize);
    return TRUE;
}

HWND capCreateCaptureWindowA(LPCSTR windowName, DWORD style, int x, int y, int width, int height,
                             HWND parent, int id) {
    QWidget* parentWidget = platform::WidgetOf(parent);
    if (parentWidget == nullptr) return nullptr;
    auto* window = new platform::CaptureWindow(parentWidget);
    const QString name = QString::fromUtf8(windowName != nullptr ? windowName : "");
    window->setObjectName(name);
    window->setWindowTitle(name);
    window->setProperty("platform.id", id);
    window->setGeometry(x, y, std::max(width, 0), std::max(height, 0));
    window->setVisible((style & WS_VISIBLE) != 0);
    return platform::HandleOf(window);
}

LRESULT SendMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (const std::shared_ptr<const platform::MessageHook> hook = platform::InstalledHook()) {
        if (const std::optional<LRESULT> answer = (*hook)(window, message, wParam, lParam))
            return *answer;
    }
    platform::CaptureWindow* target = platform::CaptureWindowOf(window);
    if (target == nullptr) return 0;
    for (const platform::Route& route : platform::kRoutes)
        if (route.message == message) return route.handler(*target, wParam, lParam);
    return 0;
}
