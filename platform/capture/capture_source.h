// SPDX-License-Identifier: GPL-2.0-or-later
// What stands behind a capture driver: a video source, an audio source and the clock a capture
// runs on. The test card is one kind, a V4L2 device with an ALSA sound input the other; the
// capture window and the capture loop see only these interfaces.
#pragma once

#include <QImage>
#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "platform/capture/device_setup.h"
#include "platform/machine.h"
#include "platform/vfw.h"

namespace platform {

struct SequenceControl;

// 24-bit bottom-up DIB of this size, and the header of a Motion-JPEG stream of it.
BITMAPINFOHEADER RgbFormat(int width, int height);
BITMAPINFOHEADER MjpgFormat(int width, int height);

// The pictures of a driver: its formats, the frames of a capture on the requested grid, and the
// live picture.
class VideoSource {
  public:
    virtual ~VideoSource() = default;

    // The format the source delivers without being asked, and the one in force.
    virtual BITMAPINFOHEADER NativeFormat() const = 0;
    virtual const BITMAPINFOHEADER& format() const = 0;
    // Switches to 24-bit BI_RGB at exactly this size, or back to the native format; false =
    // refused, and the format in force stays.
    virtual bool UseRgb(int width, int height) = 0;
    virtual bool UseNative() = 0;

    // Starts a capture of `periodUs` per frame at the format in force; false (or an exception)
    // when the source cannot deliver.
    virtual bool Start(DWORD periodUs) = 0;
    // The bytes of grid frame `number` (flash: the test card's white frame); they stay valid
    // until the next call. Empty once the device is gone. `monotonicUs` is when, on the system's
    // monotonic clock, the sound of this grid point was recorded: a device hands out the picture
    // it took nearest to that moment.
    virtual std::span<BYTE> Frame(std::uint64_t number, bool flash, std::int64_t monotonicUs) = 0;
    virtual void Stop() = 0;
    // Room of the buffer Frame hands out.
    virtual DWORD capacity() const = 0;

    // The live picture at live frame `number`, a 24-bit DIB with rows bottom-up (draw it
    // flipped); during a capture, the capture's latest picture. Null when there is none.
    virtual const QImage* Live(std::uint32_t number) = 0;
    // The live display stopped: a device may stop streaming.
    virtual void StopLive() {}

    // Grid points that got the previous frame again, and device frames never delivered.
    virtual std::uint64_t repeated() const { return 0; }
    virtual std::uint64_t dropped() const { return 0; }
    // Set once the device stopped answering (unplugged): the capture ends.
    virtual bool lost() const { return false; }
    // A source with only the few buffers of a card misses grid points the loop came to late; a
    // device that keeps its own buffers is asked for every grid point, so the picture keeps the
    // sound's length.
    virtual bool missesLateFrames() const { return true; }
    // The device as the user knows it, for the message after a loss.
    virtual std::string deviceName() const { return {}; }
    // What the device's own Source and Format dialogs change; none for a source without them.
    virtual std::unique_ptr<DeviceSetup> Setup() { return nullptr; }
};

// Time during a capture, in microseconds from its start.
class CaptureClock {
  public:
    virtual ~CaptureClock() = default;
    virtual void Start() = 0;
    // A virtual clock jumps from event to event; late frames are never dropped on it.
    virtual bool isVirtual() const = 0;
    virtual std::int64_t Now() const = 0;
    // Returns at `time`, or earlier once the capture has ended; Qt events keep being handled.
    virtual void WaitUntil(std::int64_t time, const SequenceControl& control) = 0;
    // When capture time `time` was recorded, in microseconds of the system's monotonic clock
    // (CLOCK_MONOTONIC, the clock V4L2 stamps its buffers with).
    virtual std::int64_t MonotonicAt(std::int64_t time) const = 0;
};

// What became of the sound input during a capture: silence stood in for what it lost or never
// gave. `input` names it; `missing` when it never opened, `lost` when it stopped mid-capture.
struct SoundLoss {
    std::string input;
    bool missing = false;
    bool lost = false;
    std::uint64_t silencedSamples = 0;
};

// Sound in the capture's PCM format, sample by sample from the start.
class AudioSource {
  public:
    virtual ~AudioSource() = default;
    // Writes samples [first, first + count) into `out`, count × nBlockAlign bytes; they have
    // been recorded by the time the clock reached them.
    virtual void Fill(std::uint64_t first, std::uint32_t count, BYTE* out) = 0;
    // Read once the capture has ended.
    virtual SoundLoss loss() const { return {}; }
};

// The source of the driver a window connects to; nullptr when it cannot be opened (missing,
// busy, or in no format we can deliver), which refuses the connection. `error` then holds the
// system's reason, or 0 when there is none to tell.
std::unique_ptr<VideoSource> OpenVideoSource(const DriverDescription& driver, int* error = nullptr);

// A device that opened but offers no picture in a format we can deliver.
constexpr int kNoDeliverablePicture = -1;

// Why a device refused to open, as its user reads it; empty when there is nothing to tell.
std::string DeviceErrorReason(int error);

// The sound and the clock of one capture. A test card brings its own beeps on the scripted
// user's clock; a real device records from the machine's sound input, whose samples are the
// clock, or silence on the system clock (one warning) when there is none.
struct CaptureTiming {
    std::shared_ptr<AudioSource> audio;
    std::shared_ptr<CaptureClock> clock;  // may be the same object as `audio`
};
CaptureTiming OpenCaptureTiming(const DriverDescription& driver, const WAVEFORMATEX& format,
                                DWORD samplesPerBuffer);

// The clock of the test card: real time, or the scripted user's virtual time.
std::unique_ptr<CaptureClock> SystemClock(bool isVirtual);

// Now on the system's monotonic clock, in microseconds.
std::int64_t MonotonicNowUs();

}  // namespace platform
