// SPDX-License-Identifier: GPL-2.0-or-later
// A scripted V4L2 device behind the platform's system-call seam: no thread and no sleep. The
// test lists the frames (bytes, when they are taken and ready, flags) and the faults; the device
// answers the ioctls a capture makes and remembers what was done to it. As a driver does, it
// fills a frame into a queued buffer when the frame is ready, and loses the frame when none is.
#pragma once

#include <linux/videodev2.h>
#include <poll.h>
#include <sys/mman.h>
#include <turbojpeg.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/capture/capture_source.h"
#include "platform/capture/v4l2_io.h"
#include "platform/capture/v4l2_source.h"

namespace fake_v4l2 {

// A camera's JPEG of an RGB picture (libjpeg-turbo's subsampling TJSAMP_*, quality 1-100).
inline std::vector<unsigned char> Jpeg(const std::vector<unsigned char>& rgb, int width, int height,
                                       int sampling, int quality) {
    tjhandle h = tjInitCompress();
    unsigned char* out = nullptr;
    unsigned long size = 0;
    tjCompress2(h, rgb.data(), width, 0, height, TJPF_RGB, &out, &size, sampling, quality, 0);
    std::vector<unsigned char> bytes(out, out + size);
    tjFree(out);
    tjDestroy(h);
    return bytes;
}

struct Mode {
    std::uint32_t pixelFormat;
    std::uint32_t width;
    std::uint32_t height;
    std::uint32_t field = V4L2_FIELD_NONE;  // the field order the device gives, whatever is asked
    bool weaves = false;                    // but V4L2_FIELD_INTERLACED when that is asked
    std::uint32_t fps = 0;                  // its fastest rate; 0: the device does not say
};

// Times are the script's: `now` gives the present one.
struct Frame {
    std::int64_t readyUs = 0;
    std::vector<unsigned char> bytes;
    std::uint32_t flags = 0;
    std::optional<std::int64_t> takenUs = std::nullopt;  // its stamp; when it is ready if not given
    std::uint32_t clock = V4L2_BUF_FLAG_TIMESTAMP_MONOTONIC;
};

struct Node {
    std::string path;
    std::string card = "Caméra factice";
    std::uint32_t caps = V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_STREAMING;
    std::uint32_t version = 0x060103;
    std::vector<Mode> modes;  // the first is current at open
    bool busy = false;
    bool lists = true;  // answers ENUM_FMT and ENUM_FRAMESIZES; otherwise only TRY_FMT finds modes
    std::optional<v4l2_frmsize_stepwise> range =
        std::nullopt;  // the sizes ENUM_FRAMESIZES gives for any format
};

class Device : public platform::V4l2Io {
  public:
    explicit Device(std::vector<Node> nodes) : nodes_(std::move(nodes)) {
        previous_ = platform::SetV4l2CallsForTesting(this);
    }
    ~Device() override { platform::SetV4l2CallsForTesting(previous_); }

    // A script time on the monotonic clock the stamps are on.
    std::int64_t MonotonicUs(std::int64_t scriptUs) const { return origin_ + scriptUs; }

    // The script, for the node opened last.
    std::deque<Frame> frames;
    std::function<std::int64_t()> now = [] { return std::int64_t{0}; };
    // A poll that waits moves a test's own clock on by the time it waited (until a frame is
    // ready or the timeout); without it poll returns at once.
    std::function<void(std::int64_t)> sleep;
    // The monotonic time of the script's time 0; by default the system's at STREAMON, so that
    // stamps fall near a capture clock started just after.
    std::optional<std::int64_t> monotonicOrigin;
    std::uint32_t maxBuffers = 32;
    std::optional<std::int64_t> unplugAtUs;
    int eagainDequeues = 0;  // DQBUF answers EAGAIN this many times though a frame is ready
    int eintrPolls = 0;      // poll answers EINTR this many times
    std::map<unsigned long, int> refusals;  // requests always refused, with their errno

    // What was done.
    int framesTaken = 0;
    int heldAtStreamOff = 0;  // buffers dequeued and never queued again when streaming stopped
    std::uint32_t buffersAsked = 0;
    std::vector<std::size_t> lost;  // the frames, by place in the script, that found no buffer
    std::uint32_t periodNumerator = 0, periodDenominator = 0;
    bool exposurePriorityOff = false;
    v4l2_pix_format current{};

    std::vector<std::string> Nodes() override {
        std::vector<std::string> paths;
        for (const Node& n : nodes_) paths.push_back(n.path);
        return paths;
    }
    int Open(const std::string& path) override {
        for (std::size_t i = 0; i < nodes_.size(); ++i) {
            if (nodes_[i].path != path) continue;
            open_ = i;
            if (!nodes_[i].modes.empty()) current = Pix(nodes_[i].modes.front());
            return static_cast<int>(100 + i);
        }
        errno = ENOENT;
        return -1;
    }
    int Close(int) override { return 0; }
    int Ioctl(int fd, unsigned long request, void* argument) override;
    void* Mmap(std::size_t, int, std::int64_t offset) override {
        return storage_.at(static_cast<std::size_t>(offset >> 12)).data();
    }
    int Munmap(void*, std::size_t) override { return 0; }
    std::int64_t NowUs() override { return MonotonicUs(now()); }
    int Poll(int, int timeoutMs, short& revents) override {
        if (eintrPolls > 0) {
            --eintrPolls;
            errno = EINTR;
            return -1;
        }
        Advance();
        if (!Unplugged() && done_.empty() && timeoutMs > 0 && sleep) {
            sleep(UntilSomething(std::int64_t{timeoutMs} * 1000));
            Advance();
        }
        revents = Unplugged() ? POLLERR : !done_.empty() ? POLLIN : 0;
        return revents != 0 ? 1 : 0;
    }

  private:
    struct Filled {
        std::uint32_t index;
        std::uint32_t bytesUsed;
        std::uint32_t flags;
        std::int64_t takenUs;
    };

    Node& node() { return nodes_.at(open_); }
    bool Unplugged() const { return unplugAtUs && now() >= *unplugAtUs; }
    void Advance();
    std::int64_t UntilSomething(std::int64_t timeoutUs) const;
    static v4l2_pix_format Pix(const Mode& m) {
        v4l2_pix_format p{};
        p.width = m.width;
        p.height = m.height;
        p.pixelformat = m.pixelFormat;
        p.field = m.field;
        switch (m.pixelFormat) {
            case V4L2_PIX_FMT_MJPEG:
                p.sizeimage = m.width * m.height * 2;
                break;
            case V4L2_PIX_FMT_NV12:
                p.bytesperline = m.width;
                p.sizeimage = m.width * m.height * 3 / 2;
                break;
            default:
                const bool packed =
                    m.pixelFormat == V4L2_PIX_FMT_YUYV || m.pixelFormat == V4L2_PIX_FMT_UYVY;
                p.bytesperline = m.width * (packed ? 2 : 3);
                p.sizeimage = p.bytesperline * m.height;
        }
        return p;
    }
    // The `index`th mode of a pixel format, or of any when `pixelFormat` is 0.
    const Mode* ModeOf(std::uint32_t pixelFormat, std::uint32_t index) {
        for (const Mode& m : node().modes)
            if ((pixelFormat == 0 || m.pixelFormat == pixelFormat) && index-- == 0) return &m;
        return nullptr;
    }
    int Fail(int error) {
        errno = error;
        return -1;
    }
    int SetFormat(v4l2_format& f, bool tryOnly);
    int Enumerate(unsigned long request, void* argument);
    int Dequeue(v4l2_buffer& b);

    std::vector<Node> nodes_;
    std::size_t open_ = 0;
    platform::V4l2Io* previous_ = nullptr;
    std::vector<std::vector<unsigned char>> storage_;
    std::deque<std::uint32_t> queued_;
    std::deque<Filled> done_;
    std::size_t played_ = 0;  // frames of the script filled or lost so far
    std::int64_t origin_ = 0;
    bool streaming_ = false;
};

// The frames whose time has come go into the queued buffers, in order; with none queued they
// are lost.
inline void Device::Advance() {
    while (streaming_ && !frames.empty() && frames.front().readyUs <= now()) {
        const Frame frame = std::move(frames.front());
        frames.pop_front();
        const std::size_t place = played_++;
        if (queued_.empty()) {
            lost.push_back(place);
            continue;
        }
        const std::uint32_t index = queued_.front();
        queued_.pop_front();
        auto& room = storage_[index];
        const std::size_t used = std::min(frame.bytes.size(), room.size());
        std::memcpy(room.data(), frame.bytes.data(), used);
        done_.push_back({index, static_cast<std::uint32_t>(used), frame.flags | frame.clock,
                         MonotonicUs(frame.takenUs.value_or(frame.readyUs))});
    }
}

// How long a poll waits: until the next frame can be filled, the unplugging, or the timeout.
inline std::int64_t Device::UntilSomething(std::int64_t timeoutUs) const {
    std::int64_t wait = timeoutUs;
    if (streaming_ && !frames.empty() && !queued_.empty())
        wait = std::min(wait, std::max<std::int64_t>(frames.front().readyUs - now(), 0));
    if (unplugAtUs) wait = std::min(wait, std::max<std::int64_t>(*unplugAtUs - now(), 0));
    return wait;
}

// The mode of the same pixel format nearest in width, as drivers answer S_FMT and TRY_FMT.
inline int Device::SetFormat(v4l2_format& f, bool tryOnly) {
    if (node().busy && !tryOnly) return Fail(EBUSY);
    const std::uint32_t fieldAsked = f.fmt.pix.field;
    const Mode* best = nullptr;
    for (const Mode& m : node().modes) {
        if (m.pixelFormat != f.fmt.pix.pixelformat) continue;
        const auto distance = [&](const Mode& x) {
            return std::abs(static_cast<long>(x.width) - static_cast<long>(f.fmt.pix.width));
        };
        if (best == nullptr || distance(m) < distance(*best)) best = &m;
    }
    if (best == nullptr) best = &node().modes.front();
    v4l2_pix_format pix = Pix(*best);
    if (fieldAsked == V4L2_FIELD_INTERLACED && best->weaves) pix.field = fieldAsked;
    if (!tryOnly) current = pix;
    f.fmt.pix = pix;
    return 0;
}

// Pixel formats in the order of their first mode, each mode's size, a rate for a mode that has
// one.
inline int Device::Enumerate(unsigned long request, void* argument) {
    if (!node().lists && request != VIDIOC_ENUM_FRAMEINTERVALS) return Fail(ENOTTY);
    if (request == VIDIOC_ENUM_FMT) {
        auto& d = *static_cast<v4l2_fmtdesc*>(argument);
        std::vector<std::uint32_t> formats;
        for (const Mode& m : node().modes)
            if (std::find(formats.begin(), formats.end(), m.pixelFormat) == formats.end())
                formats.push_back(m.pixelFormat);
        if (d.index >= formats.size()) return Fail(EINVAL);
        d.pixelformat = formats[d.index];
        return 0;
    }
    if (request == VIDIOC_ENUM_FRAMESIZES) {
        auto& z = *static_cast<v4l2_frmsizeenum*>(argument);
        if (node().range) {
            if (z.index > 0) return Fail(EINVAL);
            z.type = V4L2_FRMSIZE_TYPE_STEPWISE;
            z.stepwise = *node().range;
            return 0;
        }
        const Mode* m = ModeOf(z.pixel_format, z.index);
        if (m == nullptr) return Fail(EINVAL);
        z.type = V4L2_FRMSIZE_TYPE_DISCRETE;
        z.discrete = {m->width, m->height};
        return 0;
    }
    auto& i = *static_cast<v4l2_frmivalenum*>(argument);
    for (const Mode& m : node().modes)
        if (m.pixelFormat == i.pixel_format && m.width == i.width && m.height == i.height &&
            m.fps != 0 && i.index == 0) {
            i.type = V4L2_FRMIVAL_TYPE_DISCRETE;
            i.discrete = {1, m.fps};
            return 0;
        }
    return Fail(EINVAL);
}

inline int Device::Dequeue(v4l2_buffer& b) {
    Advance();
    if (Unplugged()) return Fail(ENODEV);
    if (done_.empty()) return Fail(EAGAIN);
    if (eagainDequeues > 0) {
        --eagainDequeues;
        return Fail(EAGAIN);
    }
    const Filled filled = done_.front();
    done_.pop_front();
    b.index = filled.index;
    b.bytesused = filled.bytesUsed;
    b.flags = filled.flags;
    b.timestamp.tv_sec = filled.takenUs / 1'000'000;
    b.timestamp.tv_usec = filled.takenUs % 1'000'000;
    ++framesTaken;
    return 0;
}

inline int Device::Ioctl(int, unsigned long request, void* argument) {
    if (const auto refused = refusals.find(request); refused != refusals.end())
        return Fail(refused->second);
    switch (request) {
        case VIDIOC_QUERYCAP: {
            auto& cap = *static_cast<v4l2_capability*>(argument);
            std::memcpy(cap.card, node().card.c_str(),
                        std::min(node().card.size(), sizeof cap.card - 1));
            cap.version = node().version;
            cap.capabilities = node().caps | V4L2_CAP_DEVICE_CAPS;
            cap.device_caps = node().caps;
            return 0;
        }
        case VIDIOC_G_FMT:
            static_cast<v4l2_format*>(argument)->fmt.pix = current;
            return 0;
        case VIDIOC_S_FMT:
            return SetFormat(*static_cast<v4l2_format*>(argument), false);
        case VIDIOC_TRY_FMT:
            return SetFormat(*static_cast<v4l2_format*>(argument), true);
        case VIDIOC_ENUM_FMT:
        case VIDIOC_ENUM_FRAMESIZES:
        case VIDIOC_ENUM_FRAMEINTERVALS:
            return Enumerate(request, argument);
        case VIDIOC_G_PARM:
            static_cast<v4l2_streamparm*>(argument)->parm.capture.capability =
                V4L2_CAP_TIMEPERFRAME;
            return 0;
        case VIDIOC_S_PARM: {
            const auto& t = static_cast<v4l2_streamparm*>(argument)->parm.capture.timeperframe;
            periodNumerator = t.numerator;
            periodDenominator = t.denominator;
            return 0;
        }
        case VIDIOC_S_CTRL: {
            const auto& c = *static_cast<v4l2_control*>(argument);
            exposurePriorityOff = c.id == V4L2_CID_EXPOSURE_AUTO_PRIORITY && c.value == 0;
            return 0;
        }
        case VIDIOC_REQBUFS: {
            auto& r = *static_cast<v4l2_requestbuffers*>(argument);
            if (node().busy) return Fail(EBUSY);
            if (r.count > 0) buffersAsked = r.count;
            r.count = std::min(r.count, maxBuffers);
            storage_.assign(r.count, std::vector<unsigned char>(current.sizeimage));
            queued_.clear();
            done_.clear();
            return 0;
        }
        case VIDIOC_QUERYBUF: {
            auto& b = *static_cast<v4l2_buffer*>(argument);
            if (b.index >= storage_.size()) return Fail(EINVAL);
            b.length = static_cast<std::uint32_t>(storage_[b.index].size());
            b.m.offset = b.index << 12;
            return 0;
        }
        case VIDIOC_QBUF: {
            const auto& b = *static_cast<v4l2_buffer*>(argument);
            Advance();
            if (Unplugged()) return Fail(ENODEV);
            if (b.index >= storage_.size()) return Fail(EINVAL);
            queued_.push_back(b.index);
            return 0;
        }
        case VIDIOC_DQBUF:
            return Dequeue(*static_cast<v4l2_buffer*>(argument));
        case VIDIOC_STREAMON:
            streaming_ = true;
            origin_ = monotonicOrigin.value_or(platform::MonotonicNowUs());
            return 0;
        case VIDIOC_STREAMOFF:
            Advance();
            if (streaming_)
                heldAtStreamOff = static_cast<int>(storage_.size() - queued_.size() - done_.size());
            streaming_ = false;
            queued_.clear();
            done_.clear();
            return 0;
        default:
            return Fail(ENOTTY);
    }
}

}  // namespace fake_v4l2
