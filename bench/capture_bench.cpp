// SPDX-License-Identifier: GPL-2.0-or-later
// Wall time of sequence captures on the virtual clock, and of the test card's frames alone.
// Goal: 60 virtual seconds at 25 fps, 384 x 288, in well under 2 s.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QWidget>
#include <cstdlib>
#include <memory>

#include "platform/capture/capture_window.h"
#include "platform/capture/testcard.h"
#include "platform/machine.h"
#include "platform/vfw.h"
#include "platform/window_handles.h"

namespace {

LRESULT OnStatus(HWND, int, LPCSTR) {
    return 1;
}
LRESULT OnFrame(HWND, LPVIDEOHDR header) {
    benchmark::DoNotOptimize(header->lpData[0]);
    return 1;
}
LRESULT OnAudio(HWND, LPWAVEHDR header) {
    benchmark::DoNotOptimize(header->lpData[0]);
    return 1;
}

void CaptureSixtySeconds(benchmark::State& state, DWORD compression, int width, int height) {
    platform::MachineDescription machine;
    machine.drivers[0] = platform::DriverDescription{};
    machine.drivers[0]->compression = compression;
    machine.drivers[0]->size = {width, height};
    machine.user.virtualClock = true;
    const platform::MachineDescription previous = platform::SetMachine(machine);
    auto parent = std::make_unique<QWidget>();
    const HWND w = capCreateCaptureWindowA("fenetre video", WS_CHILD | WS_VISIBLE, 0, 0, width,
                                           height, platform::HandleOf(parent.get()), 1);
    SendMessageA(w, WM_CAP_DRIVER_CONNECT, 0, 0);
    SendMessageA(w, WM_CAP_SET_CALLBACK_STATUSA, 0, reinterpret_cast<LPARAM>(&OnStatus));
    SendMessageA(w, WM_CAP_SET_CALLBACK_VIDEOSTREAM, 0, reinterpret_cast<LPARAM>(&OnFrame));
    SendMessageA(w, WM_CAP_SET_CALLBACK_WAVESTREAM, 0, reinterpret_cast<LPARAM>(&OnAudio));
    CAPTUREPARMS p{};
    SendMessageA(w, WM_CAP_GET_SEQUENCE_SETUP, sizeof p, reinterpret_cast<LPARAM>(&p));
    p.dwRequestMicroSecPerFrame = 40000;
    p.fLimitEnabled = TRUE;
    p.wTimeLimit = 60;
    SendMessageA(w, WM_CAP_SET_SEQUENCE_SETUP, sizeof p, reinterpret_cast<LPARAM>(&p));
    for (auto _ : state) SendMessageA(w, WM_CAP_SEQUENCE_NOFILE, 0, 0);
    state.counters["frames"] = platform::CaptureWindowOf(w)->progress().frames;
    parent.reset();
    platform::SetMachine(previous);
}

void BM_CaptureSixtyVirtualSecondsRgb384(benchmark::State& state) {
    CaptureSixtySeconds(state, BI_RGB, 384, 288);
}
BENCHMARK(BM_CaptureSixtyVirtualSecondsRgb384)->Unit(benchmark::kMillisecond)->Iterations(5);

void BM_CaptureSixtyVirtualSecondsMjpg640(benchmark::State& state) {
    CaptureSixtySeconds(state, platform::kFourCCMjpg, 640, 480);
}
BENCHMARK(BM_CaptureSixtyVirtualSecondsMjpg640)->Unit(benchmark::kMillisecond)->Iterations(2);

void BM_RenderFrame(benchmark::State& state) {
    platform::TestCardVideo card({384, 288, state.range(0) != 0, static_cast<int>(state.range(1))});
    std::uint32_t n = 0;
    for (auto _ : state) benchmark::DoNotOptimize(card.Render(++n, false).data());
}
BENCHMARK(BM_RenderFrame)
    ->ArgNames({"mjpg", "noise"})
    ->Args({0, 0})
    ->Args({0, 30})
    ->Args({1, 0})
    ->Args({1, 30})
    ->Unit(benchmark::kMicrosecond);

}  // namespace
