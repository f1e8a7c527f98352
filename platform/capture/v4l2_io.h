// SPDX-License-Identifier: GPL-2.0-or-later
// The system calls a V4L2 device is driven through. Tests replace them with a scripted device,
// so the whole driver runs without hardware.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace platform {

class V4l2Io {
  public:
    virtual ~V4l2Io() = default;
    // The device nodes (/dev/videoN), in node order.
    virtual std::vector<std::string> Nodes() = 0;
    // As open(2) non-blocking, close(2), ioctl(2), mmap(2) shared read-write, munmap(2): -1 (or
    // MAP_FAILED) with errno set on failure.
    virtual int Open(const std::string& path) = 0;
    virtual int Close(int fd) = 0;
    virtual int Ioctl(int fd, unsigned long request, void* argument) = 0;
    virtual void* Mmap(std::size_t length, int fd, std::int64_t offset) = 0;
    virtual int Munmap(void* address, std::size_t length) = 0;
    // As poll(2) on one descriptor for reading: 1 with `revents` set, 0 on timeout, -1 and errno.
    virtual int Poll(int fd, int timeoutMs, short& revents) = 0;
    // The monotonic clock (microseconds), read when a buffer is dequeued: a scripted device
    // brings its own time.
    virtual std::int64_t NowUs() = 0;
};

// A V4L2 record's fixed-size text field (a name, a bus), up to its first zero.
template <std::size_t N>
std::string FixedText(const std::uint8_t (&text)[N]) {
    const char* chars = reinterpret_cast<const char*>(text);
    return std::string(chars, strnlen(chars, N));
}
template <std::size_t N>
std::string FixedText(const char (&text)[N]) {
    return std::string(text, strnlen(text, N));
}

// An ioctl through `io`, made again when a signal interrupted it.
int RetryingIoctl(V4l2Io& io, int fd, unsigned long request, void* argument);

// The calls in force: the system's, unless a test installed its own.
V4l2Io& V4l2Calls();
// Installs `io` (nullptr: the system's again); returns the previous one (nullptr: the system's).
V4l2Io* SetV4l2CallsForTesting(V4l2Io* io);

}  // namespace platform
