// SPDX-License-Identifier: GPL-2.0-or-later
// The V4L2 requests the program makes, by name, and the device's refusals of them told on
// standard error.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "platform/capture/v4l2_io.h"

namespace platform {

// The request's name as the V4L2 headers spell it ("VIDIOC_S_FMT"); nullptr for one the program
// does not make.
const char* V4l2RequestName(unsigned long request);

// The calls of one open device, through `calls`. A request the device refuses, unless the error
// is the normal end of a probe, is named once on standard error for the life of this object:
// "vistrel: video DEVICE: VIDIOC_S_PARM refused: REASON". errno is kept for the caller.
class ReportingV4l2Io : public V4l2Io {
  public:
    ReportingV4l2Io(V4l2Io& calls, std::string device)
        : calls_(calls), device_(std::move(device)) {}

    std::vector<std::string> Nodes() override { return calls_.Nodes(); }
    int Open(const std::string& path) override { return calls_.Open(path); }
    int Close(int fd) override { return calls_.Close(fd); }
    int Ioctl(int fd, unsigned long request, void* argument) override;
    void* Mmap(std::size_t length, int fd, std::int64_t offset) override {
        return calls_.Mmap(length, fd, offset);
    }
    int Munmap(void* address, std::size_t length) override {
        return calls_.Munmap(address, length);
    }
    int Poll(int fd, int timeoutMs, short& revents) override {
        return calls_.Poll(fd, timeoutMs, revents);
    }
    std::int64_t NowUs() override { return calls_.NowUs(); }

  private:
    void Report(unsigned long request, int error);

    V4l2Io& calls_;
    std::string device_;
    std::vector<std::pair<unsigned long, int>> reported_;  // (request, errno) told already
};

}  // namespace platform
