// SPDX-License-Identifier: GPL-2.0-or-later
// The video stream handler as a whole (show, status line, record) in the Capture mode at 800 x 600
// full screen, on test-card frames of 384 x 288: CPU per frame and heap allocations per frame
// after the first, with the display alone and the TV mode's for comparison. Figures are in
// bench/README.md.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <QApplication>
#include <QTimer>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "app/form1.h"
#include "app/stream_handlers.h"
#include "bench/scratch_folder.h"
#include "capture/video_display.h"
#include "platform/capture/testcard.h"
#include "platform/files.h"
#include "platform/machine.h"
#include "tests/support/alloc_counter.h"

namespace {

constexpr std::uint32_t kNewFileAt = 1'500'000'000;

// The window of a run mode on a screen of the given size, shown, as the program makes it.
std::unique_ptr<TForm1> MakeForm(const char* mode, int width, int height) {
    platform::MachineDescription machine = platform::DefaultMachineDescription();
    machine.display.backend = platform::DisplayDescription::Backend::Machine;
    machine.display.size = {width, height};
    machine.drives['C'] = {3, TheScratch().folder};
    machine.user.messagesToStderr = true;
    platform::SetMachine(machine);
    std::filesystem::current_path(TheScratch().folder);
    auto form = std::make_unique<TForm1>(QStringList{"vistrel", mode});
    form->show();
    QApplication::processEvents();
    form->Timer1->stop();  // the bench hands the frames in itself: no capture of the run mode
    return form;
}

// A capture's recording as the start routine leaves it, its first file not yet opened.
void StartRecording(TForm1& form) {
    RecordingInput input;
    input.destination = QString::fromStdString(platform::WindowsPath(TheScratch().folder)) + '\\';
    input.stamp = QStringLiteral("bench");
    input.storedAsDelivered = form.DeliversMotionJpeg();
    input.format.assign(form.CaptureFormat.begin(),
                        form.CaptureFormat.begin() + form.CaptureFormatSize);
    input.compressor = form.CompressorFourCC;
    form.Recording.Start(input);
}

// Eight frames, handled in turn, so the encoder never sees the same picture twice in a row.
std::vector<std::vector<BYTE>> CardFrames(int noise) {
    platform::TestCardVideo card({384, 288, false, noise});
    std::vector<std::vector<BYTE>> frames;
    for (std::uint32_t n = 0; n < 8; ++n) {
        const std::span<BYTE> bytes = card.Render(n, false);
        frames.emplace_back(bytes.begin(), bytes.end());
    }
    return frames;
}

VIDEOHDR Header(std::vector<BYTE>& frame, std::size_t n) {
    const auto size = static_cast<DWORD>(frame.size());
    return {frame.data(), size, size, static_cast<DWORD>(n * 40), 0, 0, {}};
}

void Count(benchmark::State& state, long mallocsBefore, long newsBefore) {
    const auto frames = static_cast<double>(state.iterations());
    state.counters["mallocs_per_frame"] =
        static_cast<double>(alloc_counter::Mallocs() - mallocsBefore) / frames;
    state.counters["news_per_frame"] =
        static_cast<double>(alloc_counter::Allocations() - newsBefore) / frames;
    state.SetItemsProcessed(state.iterations());
}

// VideoStreamHandler in the Capture mode: status line, the picture stretched to 800 x 600,
// the frame compressed at quality 100 and written to disk. Arg: the test card's noise.
void BM_CaptureModeFrame(benchmark::State& state) {
    auto frames = CardFrames(static_cast<int>(state.range(0)));
    auto form = MakeForm("Capture", 800, 600);
    StartRecording(*form);
    std::size_t n = 0;
    VIDEOHDR first = Header(frames[0], n);
    VideoStreamHandler(form->CaptureWindow, &first);  // opens the file, sizes the pictures
    const long mallocsBefore = alloc_counter::Mallocs(), newsBefore = alloc_counter::Allocations();
    for (auto _ : state) {
        ++n;
        VIDEOHDR header = Header(frames[n % frames.size()], n);
        VideoStreamHandler(form->CaptureWindow, &header);
        if (form->Recording.State().FileBytes > kNewFileAt) {
            state.PauseTiming();
            form->Recording.CloseAviOutput();
            StartRecording(*form);
            state.ResumeTiming();
        }
    }
    Count(state, mallocsBefore, newsBefore);
    form->Recording.CloseAviOutput();
}
BENCHMARK(BM_CaptureModeFrame)->Arg(0)->Arg(30)->Unit(benchmark::kMicrosecond);

// The display half alone: 0 for the Capture mode at 800 x 600, 1 for the TV mode at 1024 x 768.
void BM_ShowFrame(benchmark::State& state) {
    const bool tv = state.range(0) == 1;
    auto frames = CardFrames(0);
    auto form = tv ? MakeForm("TV", 1024, 768) : MakeForm("Capture", 800, 600);
    std::size_t n = 0;
    const auto show = [&] {
        ++n;
        VIDEOHDR header = Header(frames[n % frames.size()], n);
        tv ? ShowTVFrame(form->Display, header, 0) : ShowStatusFrame(form->Display, header, {});
    };
    show();
    const long mallocsBefore = alloc_counter::Mallocs(), newsBefore = alloc_counter::Allocations();
    for (auto _ : state) show();
    Count(state, mallocsBefore, newsBefore);
}
BENCHMARK(BM_ShowFrame)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

}  // namespace

// The main window needs the toolkit: it is started here, offscreen unless told.
