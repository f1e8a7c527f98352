// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/capture/v4l2_source.h"

#include <linux/videodev2.h>
#include <poll.h>
#include <sys/mman.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <numeric>

#include "platform/capture/device_sysfs.h"
#include "platform/capture/testcard.h"
#include "platform/capture/v4l2_io.h"
#include "platform/capture/v4l2_modes.h"
#include "platform/capture/v4l2_requests.h"
#include "platform/capture/v4l2_setup.h"
#include "platform/capture/video_convert.h"
#include "platform/capture/video_scale.h"
#include "platform/codec/jpeg_coder.h"

namespace platform {
namespace {

// Frames wait in their buffers until the grid point whose sound was recorded when they were
// taken: buffers for half a second of the sound input's lag, at least 8, at most what V4L2
// drivers allow; two of them always stay with the device to fill meanwhile.
constexpr std::int64_t kHeldSpanUs = 500'000;
constexpr std::uint32_t kFewestBuffers = 8;
constexpr std::uint32_t kMostBuffers = 32;
constexpr std::uint32_t kLeftToDevice = 2;
// The first frame may take a while (exposure, USB start): three polls of a second each.
constexpr int kFirstFrameTries = 3;
constexpr int kFirstFramePollMs = 1000;
// A device that hands back no buffer at all for this long is gone.
constexpr std::int64_t kSilentDeviceUs = 3'000'000;
// How long before the device was last found empty a frame may have been taken: a frame waits in
// the device while the program is busy, however long, but is dequeued soon after it is done.
constexpr std::int64_t kStampSlackUs = 1'000'000;
constexpr int kLargestSide = 4096;

std::uint32_t BuffersFor(DWORD periodUs) {
    const auto span = static_cast<std::uint32_t>((kHeldSpanUs + periodUs - 1) / periodUs);
    return std::clamp(span + kLeftToDevice, kFewestBuffers, kMostBuffers);
}

// Woven frames (both fields interleaved line by line, as capture cards deliver them) and single
// fields (a progressive picture of half the height) are recorded as they come, as AVI players
// show them. Fields one after the other in a buffer, or in alternate buffers, would have to be
// reassembled first: the device is asked to weave them instead.
bool RecordableField(std::uint32_t field) {
    switch (field) {
        case V4L2_FIELD_SEQ_TB:
        case V4L2_FIELD_SEQ_BT:
        case V4L2_FIELD_ALTERNATE:
            return false;
        default:
            return true;
    }
}

bool IsJpeg(std::uint32_t pixelFormat) {
    return pixelFormat == V4L2_PIX_FMT_MJPEG || pixelFormat == V4L2_PIX_FMT_JPEG;
}

int StrideOf(RawLayout layout, const v4l2_pix_format& pix) {
    const std::uint32_t bytesPerPixel = layout == RawLayout::Nv12   ? 1
                                        : layout == RawLayout::Yuyv ? 2
                                        : layout == RawLayout::Uyvy ? 2
                                                                    : 3;
    return static_cast<int>(std::max(pix.bytesperline, pix.width * bytesPerPixel));
}

bool Deliverable(const v4l2_pix_format& pix) {
    return IsJpeg(pix.pixelformat) || RawLayoutOf(pix.pixelformat).has_value();
}

std::uint32_t DeviceCaps(const v4l2_capability& cap) {
    return (cap.capabilities & V4L2_CAP_DEVICE_CAPS) != 0 ? cap.device_caps : cap.capabilities;
}

std::string VersionText(std::uint32_t version) {
    return std::to_string(version >> 16) + "." + std::to_string((version >> 8) & 0xFF) + "." +
           std::to_string(version & 0xFF);
}

std::string CardName(const v4l2_capability& cap) {
    return FixedText(cap.card);
}

// "NAME" (/dev/videoN), as the device is told of on standard error and in messages.
std::string NamedDevice(const DriverDescription& driver) {
    return "\"" + driver.name + "\" (" + driver.device + ")";
}

// A USB device is known by its serial number wherever it is plugged in; others by where they sit.
std::string Identity(const v4l2_capability& cap, const std::string& node) {
    const std::string serial = UsbSerialOf(node);
    return CardName(cap) + (serial.empty() ? " @ " + FixedText(cap.bus_info) : " # " + serial);
}

// A whole JPEG starts with SOI and ends with EOI; cameras may pad their buffer after EOI with
// zeros.
bool WholeJpeg(const BYTE* bytes, std::size_t size) {
    if (size < 4 || bytes[0] != 0xFF || bytes[1] != 0xD8) return false;
    while (size > 4 && bytes[size - 1] == 0) --size;
    return bytes[size - 2] == 0xFF && bytes[size - 1] == 0xD9;
}

struct Mapped {
    BYTE* start = nullptr;
    std::size_t length = 0;
};

// A good frame dequeued and not yet queued again; `serial` counts the device's good frames.
struct Held {
    std::uint32_t index = 0;
    std::uint32_t bytesUsed = 0;
    std::int64_t takenUs = 0;
    std::uint64_t serial = 0;
};

// The frame in out_; its buffer has gone back to the device.
struct Shown {
    std::int64_t takenUs = 0;
    std::uint64_t serial = 0;
};

class V4l2Source : public VideoSource, public PictureSetup {
  public:
    // `calls` are the device's own, which tell its refusals.
    V4l2Source(std::unique_ptr<V4l2Io> calls, int fd, const DriverDescription& driver)
        : calls_(std::move(calls)), io_(*calls_), fd_(fd), driver_(driver) {}
    ~V4l2Source() override {
        StopStreaming();
        io_.Close(fd_);
    }
    V4l2Source(const V4l2Source&) = delete;
    V4l2Source& operator=(const V4l2Source&) = delete;

    // 0 once open, else why not: the system's error or kNoDeliverablePicture.
    int Open();

    BITMAPINFOHEADER NativeFormat() const override { return native_; }
    const BITMAPINFOHEADER& format() const override { return format_; }
    bool UseRgb(int width, int height) override;
    bool UseNative() override;

    bool Start(DWORD periodUs) override;
    std::span<BYTE> Frame(std::uint64_t number, bool flash, std::int64_t monotonicUs) override;
    void Stop() override;
    DWORD capacity() const override { return static_cast<DWORD>(out_.size()); }
    const QImage* Live(std::uint32_t number) override;
    void StopLive() override {
        if (!capturing_) StopStreaming();
    }

    std::uint64_t repeated() const override { return repeated_; }
    std::uint64_t dropped() const override { return dropped_; }
    bool lost() const override { return lost_; }
    // Frames wait in the source's buffers until their grid point, however late the loop is.
    bool missesLateFrames() const override { return false; }
    std::string deviceName() const override { return NamedDevice(driver_); }
    std::unique_ptr<DeviceSetup> Setup() override {
        return V4l2DeviceSetup(io_, fd_, driver_, *this);
    }

    // The device's modes we can read, as listed when first asked for the input and standard in
    // force.
    std::vector<NativeMode> modes() override;
    std::optional<NativeMode> modeInUse() const override {
        return NativeMode{pix_.pixelformat, pix_.width, pix_.height};
    }
    std::optional<NativeMode> preferredMode() const override { return preferredMode_; }
    // The mode the user chose in the Format dialog for the pictures the program asks for (none:
    // the program's own choice); a picture asked for already is asked again.
    bool PreferMode(const std::optional<NativeMode>& mode) override;
    bool Reconfigure(const std::function<bool()>& change,
                     const std::function<void()>& undo) override;

  private:
    int Ioctl(unsigned long request, void* argument) {
        return RetryingIoctl(io_, fd_, request, argument);
    }
    bool SetPix(std::uint32_t pixelFormat, std::uint32_t width, std::uint32_t height,
                v4l2_pix_format& got);
    bool AskPix(std::uint32_t pixelFormat, std::uint32_t width, std::uint32_t height,
                std::uint32_t field, v4l2_pix_format& got);
    void Adopt(const v4l2_pix_format& pix, const BITMAPINFOHEADER& format);
    bool StartStreaming();
    bool MapBuffers();
    void StopStreaming();
    void SetPeriod(DWORD periodUs);
    bool Pull(int timeoutMs);
    bool Good(const v4l2_buffer& buffer) const;
    std::int64_t TakenAt(const v4l2_buffer& buffer, std::int64_t dequeuedUs);
    void Gather(std::int64_t target);
    void Prune(std::int64_t target);
    bool HasLater(std::int64_t target) const;
    void AwaitLater(std::int64_t target);
    void Choose(std::int64_t target);
    void Release(std::size_t count);
    void ShowFirstHeld();
    bool Take(std::uint32_t index, std::uint32_t bytesUsed);
    void Compress();
    void Requeue(std::uint32_t index);
    bool Renegotiate();

    std::unique_ptr<V4l2Io> calls_;
    V4l2Io& io_;
    int fd_;
    DriverDescription driver_;
    v4l2_pix_format pix_{};
    v4l2_pix_format nativePix_{};
    BITMAPINFOHEADER format_{};
    BITMAPINFOHEADER native_{};
    // Native pictures to the RGB format in force, or to the DIB a Motion-JPEG format of another
    // size than the device's is compressed from; none while frames pass as they come.
    std::unique_ptr<DibPipeline> picture_;
    std::unique_ptr<JpegCompressor> encoder_;  // set when frames are compressed again
    std::vector<BYTE> dib_;                    // what they are compressed from
    std::optional<std::vector<NativeMode>> modes_;
    std::optional<NativeMode> preferredMode_;
    bool askedRgb_ = false;  // the format in force is a picture asked for by UseRgb
    std::vector<Mapped> buffers_;
    std::vector<Held> held_;  // in the order dequeued, so by time taken
    std::size_t holdAtMost_ = 1;
    std::optional<Shown> shown_;
    bool streaming_ = false;
    bool capturing_ = false;
    bool lost_ = false;
    std::vector<BYTE> out_;
    std::vector<BYTE> spare_;  // Motion-JPEG as it comes: the next picture, checked there first
    std::size_t outBytes_ = 0;
    std::vector<BYTE> liveDib_;
    QImage live_;
    std::unique_ptr<JpegDecompressor> jpeg_;
    DWORD periodUs_ = 40000;
    std::int64_t lastDequeueUs_ = 0;
    std::int64_t emptyAtUs_ = 0;  // when the device was last found with nothing ready
    std::int64_t lastTakenUs_ = 0;
    std::uint64_t serials_ = 0;
    std::uint64_t liveShown_ = 0;  // the serial the live picture was decoded from
    std::uint64_t repeated_ = 0;
    std::uint64_t dropped_ = 0;
    std::uint64_t untimed_ = 0;  // frames whose stamp was not believed
};

// The native format is what the device delivers now, when we can deliver it; otherwise YUYV or
// Motion-JPEG at the same size. Setting it again also tells a device busy elsewhere.
int V4l2Source::Open() {
    v4l2_format current{};
    current.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    if (Ioctl(VIDIOC_G_FMT, &current) != 0) return errno;
    const v4l2_pix_format now = current.fmt.pix;
    v4l2_pix_format got{};
    bool usable = SetPix(now.pixelformat, now.width, now.height, got) && Deliverable(got);
    if (!usable && errno == EBUSY) return EBUSY;
    for (const std::uint32_t fallback : {V4L2_PIX_FMT_YUYV, V4L2_PIX_FMT_MJPEG}) {
        if (usable) break;
        usable = SetPix(fallback, now.width, now.height, got) && Deliverable(got);
    }
    if (!usable) return kNoDeliverablePicture;
    nativePix_ = got;
    const auto w = static_cast<int>(got.width);
    const auto h = static_cast<int>(got.height);
    native_ = IsJpeg(got.pixelformat) ? MjpgFormat(w, h) : RgbFormat(w, h);
    Adopt(got, native_);
    return 0;
}

// A progressive picture, or fields woven by the device when it gives them one after the other.
bool V4l2Source::SetPix(std::uint32_t pixelFormat, std::uint32_t width, std::uint32_t height,
                        v4l2_pix_format& got) {
    if (!AskPix(pixelFormat, width, height, V4L2_FIELD_NONE, got)) return false;
    if (!RecordableField(got.field) &&
        (!AskPix(pixelFormat, width, height, V4L2_FIELD_INTERLACED, got) ||
         !RecordableField(got.field)))
        return false;
    return got.width > 0 && got.height > 0 && got.width <= kLargestSide &&
           got.height <= kLargestSide;
}

bool V4l2Source::AskPix(std::uint32_t pixelFormat, std::uint32_t width, std::uint32_t height,
                        std::uint32_t field, v4l2_pix_format& got) {
    v4l2_format f{};
    f.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    f.fmt.pix.width = width;
    f.fmt.pix.height = height;
    f.fmt.pix.pixelformat = pixelFormat;
    f.fmt.pix.field = field;
    if (Ioctl(VIDIOC_S_FMT, &f) != 0) return false;
    got = f.fmt.pix;
    return true;
}

// The device gives `pix`; the program receives `format`: Motion-JPEG as it comes, or an RGB
// picture converted, and scaled, from it; a Motion-JPEG picture of another size than the
// device's is decoded, scaled and compressed again.
void V4l2Source::Adopt(const v4l2_pix_format& pix, const BITMAPINFOHEADER& format) {
    pix_ = pix;
    format_ = format;
    picture_.reset();
    encoder_.reset();
    dib_.clear();
    const int w = format.biWidth;
    const int h = std::abs(format.biHeight);
    const bool asTheyCome = format.biCompression != BI_RGB && IsJpeg(pix.pixelformat) &&
                            NativeMode{pix.pixelformat, pix.width, pix.height} ==
                                NativeMode{pix.pixelformat, static_cast<std::uint32_t>(w),
                                           static_cast<std::uint32_t>(h)};
    if (asTheyCome) return;
    NativePicture native{RawLayoutOf(pix.pixelformat), static_cast<int>(pix.width),
                         static_cast<int>(pix.height), 0};
    if (native.layout) native.stride = StrideOf(*native.layout, pix);
    picture_ = std::make_unique<DibPipeline>(native, w, h);
    if (format.biCompression == BI_RGB) return;
    encoder_ = std::make_unique<JpegCompressor>();
    dib_.assign(std::size_t{DibStride(w)} * static_cast<std::size_t>(h), 0);
}

// The first mode in ChooseMode's order that the device really sets; pictures of another size
// or layout are converted and scaled. Refused when no mode can give the picture asked for.
bool V4l2Source::UseRgb(int width, int height) {
    if (width < 1 || height < 1 || width > kLargestSide || height > kLargestSide) return false;
    StopStreaming();
    std::vector<NativeMode> left = modes();
    bool tried = false;
    while (const auto mode = ChooseMode(left, width, height, preferredMode_)) {
        v4l2_pix_format got{};
        tried = true;
        if (SetPix(mode->pixelFormat, mode->width, mode->height, got) &&
            NativeMode{got.pixelformat, got.width, got.height} == *mode) {
            // A Motion-JPEG device keeps its compression at the size asked, as capture cards
            // do: the program records its frames as they come.
            Adopt(got, native_.biCompression == BI_RGB ? RgbFormat(width, height)
                                                       : MjpgFormat(width, height));
            askedRgb_ = true;
            return true;
        }
        std::erase(left, *mode);
    }
    v4l2_pix_format back{};
    if (tried && SetPix(pix_.pixelformat, pix_.width, pix_.height, back)) Adopt(back, format_);
    return false;
}

bool V4l2Source::UseNative() {
    StopStreaming();
    v4l2_pix_format got{};
    if (!SetPix(nativePix_.pixelformat, nativePix_.width, nativePix_.height, got)) return false;
    Adopt(got, native_);
    askedRgb_ = false;
    return true;
}

std::vector<NativeMode> V4l2Source::modes() {
    if (!modes_) modes_ = ListModes(io_, fd_);
    return *modes_;
}

bool V4l2Source::PreferMode(const std::optional<NativeMode>& mode) {
    preferredMode_ = mode;
    return !askedRgb_ || UseRgb(format_.biWidth, std::abs(format_.biHeight));
}

// Never under a running capture: its frames keep the format they started with.
bool V4l2Source::Reconfigure(const std::function<bool()>& change,
                             const std::function<void()>& undo) {
    if (capturing_) return false;
    StopStreaming();
    const bool changed = change();
    modes_.reset();
    if (Renegotiate()) return changed;
    undo();
    modes_.reset();
    Renegotiate();
    return false;
}

// The picture the program holds, again from what the device gives now: the size it asked for
// from any mode that can give it, or the native format as it was.
bool V4l2Source::Renegotiate() {
    if (askedRgb_) return UseRgb(format_.biWidth, std::abs(format_.biHeight));
    v4l2_pix_format got{};
    if (!SetPix(nativePix_.pixelformat, nativePix_.width, nativePix_.height, got) ||
        NativeMode{got.pixelformat, got.width, got.height} !=
            NativeMode{nativePix_.pixelformat, nativePix_.width, nativePix_.height})
        return false;
    Adopt(got, native_);
    return true;
}

bool V4l2Source::StartStreaming() {
    if (streaming_) return true;
    if (!MapBuffers()) {
        StopStreaming();
        return false;
    }
    // An RGB format's frames are the DIB of its size; Motion-JPEG ones as long as a buffer, or
    // as the largest JPEG of their size when compressed here.
    const int w = format_.biWidth;
    const int h = std::abs(format_.biHeight);
    const std::size_t dib = std::size_t{DibStride(w)} * static_cast<std::size_t>(h);
    std::size_t room = encoder_ ? JpegBound(w, h) : dib;
    if (!picture_)
        for (const Mapped& m : buffers_) room = std::max(room, m.length);
    out_.assign(room, 0);
    spare_.assign(picture_ ? 0 : room, 0);
    outBytes_ = picture_ && !encoder_ ? dib : 0;
    if (picture_) {
        BYTE* shown = encoder_ ? dib_.data() : out_.data();
        live_ = QImage(shown, w, h, DibStride(w), QImage::Format_BGR888);
    } else {
        liveDib_.assign(dib, 0);
        live_ = QImage(liveDib_.data(), w, h, DibStride(w), QImage::Format_BGR888);
    }
    shown_.reset();
    int type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    if (Ioctl(VIDIOC_STREAMON, &type) != 0) {
        StopStreaming();
        return false;
    }
    lastDequeueUs_ = emptyAtUs_ = io_.NowUs();
    lastTakenUs_ = std::numeric_limits<std::int64_t>::min();
    return true;
}

bool V4l2Source::MapBuffers() {
    streaming_ = true;  // from here on StopStreaming has something to undo
    v4l2_requestbuffers request{};
    request.count = BuffersFor(periodUs_);
    request.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    request.memory = V4L2_MEMORY_MMAP;
    if (Ioctl(VIDIOC_REQBUFS, &request) != 0 || request.count == 0) return false;
    for (std::uint32_t i = 0; i < request.count; ++i) {
        v4l2_buffer buffer{};
        buffer.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        buffer.memory = V4L2_MEMORY_MMAP;
        buffer.index = i;
        if (Ioctl(VIDIOC_QUERYBUF, &buffer) != 0) return false;
        void* start = io_.Mmap(buffer.length, fd_, buffer.m.offset);
        if (start == MAP_FAILED) return false;
        buffers_.push_back({static_cast<BYTE*>(start), buffer.length});
        if (Ioctl(VIDIOC_QBUF, &buffer) != 0) return false;
    }
    holdAtMost_ = request.count - std::min(request.count - 1, kLeftToDevice);
    held_.reserve(holdAtMost_);
    return true;
}

void V4l2Source::StopStreaming() {
    if (!streaming_) return;
    Release(held_.size());
    int type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    Ioctl(VIDIOC_STREAMOFF, &type);
    for (const Mapped& m : buffers_) io_.Munmap(m.start, m.length);
    buffers_.clear();
    v4l2_requestbuffers release{};
    release.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    release.memory = V4L2_MEMORY_MMAP;
    Ioctl(VIDIOC_REQBUFS, &release);
    streaming_ = false;
}

// The device's own rate where it lets us choose; exposure may no longer lengthen frames in low
// light, which would halve the rate.
void V4l2Source::SetPeriod(DWORD periodUs) {
    v4l2_streamparm parm{};
    parm.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    if (Ioctl(VIDIOC_G_PARM, &parm) == 0 &&
        (parm.parm.capture.capability & V4L2_CAP_TIMEPERFRAME) != 0) {
        const std::uint32_t divisor = std::gcd(periodUs, 1'000'000u);
        parm.parm.capture.timeperframe = {periodUs / divisor, 1'000'000u / divisor};
        Ioctl(VIDIOC_S_PARM, &parm);
    }
    v4l2_control control{V4L2_CID_EXPOSURE_AUTO_PRIORITY, 0};
    Ioctl(VIDIOC_S_CTRL, &control);
}

bool V4l2Source::Start(DWORD periodUs) {
    periodUs_ = std::max<DWORD>(periodUs, 1000);
    StopStreaming();
    SetPeriod(periodUs_);
    if (!StartStreaming()) return false;
    capturing_ = true;
    repeated_ = dropped_ = untimed_ = 0;
    for (int i = 0; i < kFirstFrameTries && held_.empty() && !lost_; ++i) Pull(kFirstFramePollMs);
    if (held_.empty()) lost_ = true;  // a device that shows nothing cannot be recorded
    return true;
}

// Frames held past the last grid point belong to no grid point: they are not counted dropped.
void V4l2Source::Stop() {
    if (capturing_ && untimed_ > 0)
        std::fprintf(stderr,
                     "%s: video %s: %llu frame(s) without a believable time stamp, timed when "
                     "dequeued\n",
                     program_invocation_short_name, deviceName().c_str(),
                     static_cast<unsigned long long>(untimed_));
    capturing_ = false;
    StopStreaming();
}

// The frame taken nearest to the moment this grid point's sound was recorded: the one shown
// for the previous point again (counted repeated) when no other is nearer.
std::span<BYTE> V4l2Source::Frame(std::uint64_t, bool, std::int64_t monotonicUs) {
    if (!lost_) Gather(monotonicUs);
    if (!lost_) Choose(monotonicUs);
    if (lost_ || !shown_) return {};
    return {out_.data(), outBytes_};
}

// Dequeues what the device has for `target`, waiting briefly for a frame taken after it.
void V4l2Source::Gather(std::int64_t target) {
    Pull(0);
    Prune(target);
    if (!lost_ && !HasLater(target)) AwaitLater(target);
    if (io_.NowUs() - lastDequeueUs_ >= kSilentDeviceUs) lost_ = true;
}

// Held frames followed by another one taken by `target` are nearer to no grid point from here.
void V4l2Source::Prune(std::int64_t target) {
    std::size_t stale = 0;
    while (stale + 1 < held_.size() && held_[stale + 1].takenUs <= target) ++stale;
    Release(stale);
}

bool V4l2Source::HasLater(std::int64_t target) const {
    return (shown_ && shown_->takenUs > target) ||
           (!held_.empty() && held_.back().takenUs > target);
}

// Only a frame taken before `target` plus the distance back to the last one taken before it
// could be nearer, and it comes a little (up to a grid period) after it is taken: wait no
// longer than that, and never more than a grid period.
void V4l2Source::AwaitLater(std::int64_t target) {
    std::int64_t deadline = io_.NowUs() + periodUs_;
    const Held* before = held_.empty() ? nullptr : &held_.front();
    if (before != nullptr || shown_) {
        const std::int64_t beforeUs = before != nullptr ? before->takenUs : shown_->takenUs;
        deadline = std::min(deadline, 2 * target - beforeUs + periodUs_);
    }
    while (!lost_ && !HasLater(target)) {
        const std::int64_t left = deadline - io_.NowUs();
        if (left <= 0 || !Pull(static_cast<int>((left + 999) / 1000))) return;
        Prune(target);
    }
}

// Candidates in time order: the frame shown last, then the held ones. The nearer of the last
// taken by `target` and the first taken after it; the earlier when both are as near.
void V4l2Source::Choose(std::int64_t target) {
    const auto takenUs = [&](std::ptrdiff_t at) {
        return at < 0 ? shown_->takenUs : held_[static_cast<std::size_t>(at)].takenUs;
    };
    const std::ptrdiff_t first = shown_ ? -1 : 0;
    const auto end = static_cast<std::ptrdiff_t>(held_.size());
    if (first == end) return;
    std::ptrdiff_t after = first;
    while (after < end && takenUs(after) <= target) ++after;
    std::ptrdiff_t pick = after - 1;
    if (after == first || (after < end && takenUs(after) - target < target - takenUs(after - 1)))
        pick = after;
    if (pick < 0) {
        ++repeated_;
        return;
    }
    Release(static_cast<std::size_t>(pick));
    ShowFirstHeld();
}

// Queues the first `count` held frames again; during a capture, one never shown after the
// capture's first frame was dropped.
void V4l2Source::Release(std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
        Requeue(held_[i].index);
        if (capturing_ && shown_) ++dropped_;
    }
    held_.erase(held_.begin(), held_.begin() + static_cast<std::ptrdiff_t>(count));
}

void V4l2Source::ShowFirstHeld() {
    const Held h = held_.front();
    held_.erase(held_.begin());
    if (!Take(h.index, h.bytesUsed) && capturing_ && shown_) ++repeated_;
    Requeue(h.index);
    shown_ = Shown{h.takenUs, h.serial};
}

// Dequeues the buffers ready while there is room to hold them, waiting up to `timeoutMs` for
// the first; bad ones go straight back. True when any buffer came.
bool V4l2Source::Pull(int timeoutMs) {
    bool any = false;
    while (held_.size() < holdAtMost_) {
        short revents = 0;
        const int ready = io_.Poll(fd_, timeoutMs, revents);
        if (ready < 0 && errno == EINTR) continue;
        if (ready < 0 || (revents & (POLLERR | POLLHUP | POLLNVAL)) != 0) {
            lost_ = true;
            break;
        }
        v4l2_buffer buffer{};
        buffer.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        buffer.memory = V4L2_MEMORY_MMAP;
        if (ready == 0 || Ioctl(VIDIOC_DQBUF, &buffer) != 0) {
            if (ready != 0 && errno != EAGAIN) lost_ = true;
            emptyAtUs_ = io_.NowUs();
            break;
        }
        timeoutMs = 0;
        any = true;
        lastDequeueUs_ = io_.NowUs();
        if (!Good(buffer)) {
            Requeue(buffer.index);
            continue;
        }
        held_.push_back(
            {buffer.index, buffer.bytesused, TakenAt(buffer, lastDequeueUs_), ++serials_});
    }
    return any;
}

bool V4l2Source::Good(const v4l2_buffer& buffer) const {
    if (buffer.index >= buffers_.size() || (buffer.flags & V4L2_BUF_FLAG_ERROR) != 0) return false;
    const Mapped& m = buffers_[buffer.index];
    const std::size_t used = std::min<std::size_t>(buffer.bytesused, m.length);
    if (IsJpeg(pix_.pixelformat)) return WholeJpeg(m.start, used);
    return picture_ && used >= picture_->NativeBytes();
}

// The device's stamp when it is on the monotonic clock and the frame can have been taken then:
// not after it was dequeued, nor long before the device was last found empty. Any other (a
// wall-clock time, a stamp copied from elsewhere) is replaced by the dequeue time. Never before
// the previous frame's.
std::int64_t V4l2Source::TakenAt(const v4l2_buffer& buffer, std::int64_t dequeuedUs) {
    const std::int64_t stampUs =
        std::int64_t{buffer.timestamp.tv_sec} * 1'000'000 + std::int64_t{buffer.timestamp.tv_usec};
    const bool monotonic =
        (buffer.flags & V4L2_BUF_FLAG_TIMESTAMP_MASK) == V4L2_BUF_FLAG_TIMESTAMP_MONOTONIC;
    const bool believable =
        monotonic && stampUs <= dequeuedUs && stampUs >= emptyAtUs_ - kStampSlackUs;
    if (!believable) ++untimed_;
    lastTakenUs_ = std::max(lastTakenUs_, believable ? stampUs : dequeuedUs);
    return lastTakenUs_;
}

// False when the picture shown before stays. A JPEG passed as it comes is checked once copied:
// a device may write a held buffer again meanwhile (v4l2loopback does), and a torn picture
// would make the file undecodable.
bool V4l2Source::Take(std::uint32_t index, std::uint32_t bytesUsed) {
    const Mapped& m = buffers_[index];
    const std::size_t used = std::min<std::size_t>(bytesUsed, m.length);
    if (picture_) {
        // A picture that cannot be decoded after all leaves what was shown before, or part.
        picture_->Convert(m.start, used, encoder_ ? dib_.data() : out_.data());
        if (encoder_) Compress();
        return true;
    }
    const std::size_t bytes = std::min(used, spare_.size());
    std::memcpy(spare_.data(), m.start, bytes);
    if (!WholeJpeg(spare_.data(), bytes) && outBytes_ > 0) return false;
    out_.swap(spare_);
    outBytes_ = bytes;
    return true;
}

// Near the quality of the camera's own pictures, in its 4:2:2: a second compression should add
// little loss. A picture that cannot be compressed leaves the previous one.
void V4l2Source::Compress() {
    constexpr int kQuality = 92;
    const int w = format_.biWidth;
    const int h = std::abs(format_.biHeight);
    const std::size_t bytes =
        encoder_->Compress({dib_.data(), w, h, static_cast<std::ptrdiff_t>(DibStride(w)), 3, true},
                           JpegChroma::k422, kQuality, out_.data(), out_.size());
    if (bytes > 0) outBytes_ = bytes;
}

void V4l2Source::Requeue(std::uint32_t index) {
    v4l2_buffer buffer{};
    buffer.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    buffer.memory = V4L2_MEMORY_MMAP;
    buffer.index = index;
    if (Ioctl(VIDIOC_QBUF, &buffer) != 0) lost_ = true;
}

// Outside a capture the live display streams by itself and shows the newest frame; during one
// it shows the capture's latest picture without taking frames from the grid.
const QImage* V4l2Source::Live(std::uint32_t) {
    if (!capturing_) {
        if (lost_ || !StartStreaming()) return nullptr;
        Pull(0);
        if (!held_.empty()) {
            Release(held_.size() - 1);
            ShowFirstHeld();
        }
    }
    if (!shown_ || lost_) return nullptr;
    if (!picture_ && liveShown_ != shown_->serial) {
        // Each Motion-JPEG picture is decoded once, however often the display asks.
        if (!jpeg_) jpeg_ = std::make_unique<JpegDecompressor>();
        jpeg_->Decode(out_.data(), outBytes_,
                      {liveDib_.data(), live_.width(), live_.height(),
                       static_cast<std::ptrdiff_t>(DibStride(live_.width())), 3, true});
        liveShown_ = shown_->serial;
    }
    return &live_;
}

}  // namespace

std::optional<DriverDescription> DescribeV4l2Node(const std::string& path) {
    V4l2Io& io = V4l2Calls();
    const int fd = io.Open(path);
    if (fd < 0) return std::nullopt;
    v4l2_capability cap{};
    // Not told when refused: every node is asked, and one that does not answer is not listed.
    const bool queried = RetryingIoctl(io, fd, VIDIOC_QUERYCAP, &cap) == 0;
    io.Close(fd);
    const std::uint32_t caps = DeviceCaps(cap);
    if (!queried || (caps & V4L2_CAP_VIDEO_CAPTURE) == 0 || (caps & V4L2_CAP_STREAMING) == 0)
        return std::nullopt;
    DriverDescription d;
    d.kind = "v4l2";
    d.device = path;
    d.name = CardName(cap).empty() ? path : CardName(cap);
    d.version = VersionText(cap.version);
    d.identity = Identity(cap, path);
    d.acceptsAny = false;
    return d;
}

std::vector<DriverDescription> DetectV4l2Drivers() {
    std::vector<DriverDescription> found;
    for (const std::string& node : V4l2Calls().Nodes())
        if (auto driver = DescribeV4l2Node(node)) found.push_back(std::move(*driver));
    return found;
}

std::unique_ptr<VideoSource> OpenV4l2Source(const DriverDescription& driver, int* error) {
    int ignored = 0;
    int& why = error != nullptr ? *error : ignored;
    auto calls = std::make_unique<ReportingV4l2Io>(V4l2Calls(), NamedDevice(driver));
    V4l2Io& io = *calls;
    const int fd = io.Open(driver.device);
    if (fd < 0) {
        why = errno;
        return nullptr;
    }
    // The input and standard decide the format read at open; the controls and the mode come
    // after it.
    const DeviceChoices choices = LoadDeviceChoices(driver.identity);
    ApplyInputAndStandard(io, fd, choices);
    auto source = std::make_unique<V4l2Source>(std::move(calls), fd, driver);
    why = source->Open();
    if (why != 0) return nullptr;
    ApplyControls(io, fd, choices);
    source->PreferMode(choices.mode);
    return source;
}

}  // namespace platform
