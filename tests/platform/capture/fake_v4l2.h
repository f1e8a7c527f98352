// A scripted V4L2 device behind the platform's system-call seam: no thread and no sleep. The
// test lists the frames (bytes, when they are ready, flags) and the faults; the device answers
// the ioctls a capture makes and remembers what was done to it.
#pragma once

#include <linux/videodev2.h>
#include <poll.h>
#include <sys/mman.h>

#include <cerrno>
#include <cstring>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/capture/v4l2_io.h"

namespace fake_v4l2 {

struct Mode {
    std::uint32_t pixelFormat;
    std::uint32_t width;
    std::uint32_t height;
};

struct Frame {
    std::int64_t readyUs = 0;
    std::vector<unsigned char> bytes;
    std::uint32_t flags = 0;
};

struct Node {
    std::string path;
    std::string card = "Caméra factice";
    std::uint32_t caps = V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_STREAMING;
    std::uint32_t version = 0x060103;
    std::vector<Mode> modes;  // the first is current at open
    bool busy = false;
};

class Device : public platform::V4l2Io {
  public:
    explicit Device(std::vector<Node> nodes) : nodes_(std::move(nodes)) {
        previous_ = platform::SetV4l2CallsForTesting(this);
    }
    ~Device() override { platform::SetV4l2CallsForTesting(previous_); }

    // The script, for the node opened last.
    std::deque<Frame> frames;
    std::function<std::int64_t()> now = [] { return std::int64_t{0}; };
    std::optional<std::int64_t> unplugAtUs;
    int eagainDequeues = 0;  // DQBUF answers EAGAIN this many times though a frame is ready
    int eintrPolls = 0;      // poll answers EINTR this many times

    // What was done.
    int framesTaken = 0;
    int heldAtStreamOff = 0;  // buffers dequeued and never queued again when streaming stopped
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
    int Poll(int, int, short& revents) override {
        if (eintrPolls > 0) {
            --eintrPolls;
            errno = EINTR;
            return -1;
        }
        revents = Unplugged() ? POLLERR : Ready() ? POLLIN : 0;
        return revents != 0 ? 1 : 0;
    }

  private:
    Node& node() { return nodes_.at(open_); }
    bool Unplugged() const { return unplugAtUs && now() >= *unplugAtUs; }
    bool Ready() const {
        return streaming_ && !frames.empty() && frames.front().readyUs <= now() && !queued_.empty();
    }
    static v4l2_pix_format Pix(const Mode& m) {
        v4l2_pix_format p{};
        p.width = m.width;
        p.height = m.height;
        p.pixelformat = m.pixelFormat;
        const std::uint32_t bpp = m.pixelFormat == V4L2_PIX_FMT_YUYV    ? 2
                                  : m.pixelFormat == V4L2_PIX_FMT_MJPEG ? 0
                                                                        : 3;
        p.bytesperline = m.width * bpp;
        p.sizeimage = bpp != 0 ? p.bytesperline * m.height : m.width * m.height * 2;
        return p;
    }
    int Fail(int error) {
        errno = error;
        return -1;
    }
    int SetFormat(v4l2_format& f);
    int Dequeue(v4l2_buffer& b);

    std::vector<Node> nodes_;
    std::size_t open_ = 0;
    platform::V4l2Io* previous_ = nullptr;
    std::vector<std::vector<unsigned char>> storage_;
    std::deque<std::uint32_t> queued_;
    bool streaming_ = false;
};

// The mode of the same pixel format nearest in width, as drivers answer S_FMT.
inline int Device::SetFormat(v4l2_format& f) {
    if (node().busy) return Fail(EBUSY);
    const Mode* best = nullptr;
    for (const Mode& m : node().modes) {
        if (m.pixelFormat != f.fmt.pix.pixelformat) continue;
        const auto distance = [&](const Mode& x) {
            return std::abs(static_cast<long>(x.width) - static_cast<long>(f.fmt.pix.width));
        };
        if (best == nullptr || distance(m) < distance(*best)) best = &m;
    }
    if (best == nullptr) best = &node().modes.front();
    current = Pix(*best);
    f.fmt.pix = current;
    return 0;
}

inline int Device::Dequeue(v4l2_buffer& b) {
    if (Unplugged()) return Fail(ENODEV);
    if (!Ready()) return Fail(EAGAIN);
    if (eagainDequeues > 0) {
        --eagainDequeues;
        return Fail(EAGAIN);
    }
    const Frame frame = std::move(frames.front());
    frames.pop_front();
    const std::uint32_t index = queued_.front();
    queued_.pop_front();
    auto& room = storage_[index];
    const std::size_t used = std::min(frame.bytes.size(), room.size());
    std::memcpy(room.data(), frame.bytes.data(), used);
    b.index = index;
    b.bytesused = static_cast<std::uint32_t>(used);
    b.flags = frame.flags;
    ++framesTaken;
    return 0;
}

inline int Device::Ioctl(int, unsigned long request, void* argument) {
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
            return SetFormat(*static_cast<v4l2_format*>(argument));
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
            r.count = std::min<std::uint32_t>(r.count, 4);
            storage_.assign(r.count, std::vector<unsigned char>(current.sizeimage));
            queued_.clear();
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
            if (Unplugged()) return Fail(ENODEV);
            if (b.index >= storage_.size()) return Fail(EINVAL);
            queued_.push_back(b.index);
            return 0;
        }
        case VIDIOC_DQBUF:
            return Dequeue(*static_cast<v4l2_buffer*>(argument));
        case VIDIOC_STREAMON:
            streaming_ = true;
            return 0;
        case VIDIOC_STREAMOFF:
            if (streaming_) heldAtStreamOff = static_cast<int>(storage_.size() - queued_.size());
            streaming_ = false;
            return 0;
        default:
            return Fail(ENOTTY);
    }
}

}  // namespace fake_v4l2
