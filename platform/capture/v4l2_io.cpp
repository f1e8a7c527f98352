// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/capture/v4l2_io.h"

#include "platform/capture/capture_source.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <filesystem>

namespace platform {
namespace {

// The node number of "videoN", or -1 for any other name.
int NodeNumber(const std::string& name) {
    constexpr std::string_view kPrefix = "video";
    if (!name.starts_with(kPrefix) || name.size() == kPrefix.size()) return -1;
    int number = -1;
    const char* end = name.data() + name.size();
    const auto [stop, error] = std::from_chars(name.data() + kPrefix.size(), end, number);
    return error == std::errc{} && stop == end ? number : -1;
}

class SystemCalls : public V4l2Io {
  public:
    std::vector<std::string> Nodes() override {
        std::vector<std::pair<int, std::string>> found;
        std::error_code error;
        for (const auto& entry : std::filesystem::directory_iterator("/dev", error)) {
            const int number = NodeNumber(entry.path().filename().string());
            if (number >= 0) found.emplace_back(number, entry.path().string());
        }
        std::sort(found.begin(), found.end());
        std::vector<std::string> nodes;
        for (auto& [number, path] : found) nodes.push_back(std::move(path));
        return nodes;
    }
    int Open(const std::string& path) override {
        return ::open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    }
    int Close(int fd) override { return ::close(fd); }
    int Ioctl(int fd, unsigned long request, void* argument) override {
        return ::ioctl(fd, request, argument);
    }
    void* Mmap(std::size_t length, int fd, std::int64_t offset) override {
        return ::mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_SHARED, fd,
                      static_cast<off_t>(offset));
    }
    int Munmap(void* address, std::size_t length) override { return ::munmap(address, length); }
    std::int64_t NowUs() override { return MonotonicNowUs(); }
    int Poll(int fd, int timeoutMs, short& revents) override {
        pollfd entry{fd, POLLIN | POLLPRI, 0};
        const int result = ::poll(&entry, 1, timeoutMs);
        revents = entry.revents;
        return result;
    }
};

V4l2Io*& Installed() {
    static V4l2Io* installed = nullptr;
    return installed;
}

}  // namespace

int RetryingIoctl(V4l2Io& io, int fd, unsigned long request, void* argument) {
    int result;
    do {
        result = io.Ioctl(fd, request, argument);
    } while (result == -1 && errno == EINTR);
    return result;
}

V4l2Io& V4l2Calls() {
    static SystemCalls system;
    return Installed() != nullptr ? *Installed() : system;
}

V4l2Io* SetV4l2CallsForTesting(V4l2Io* io) {
    V4l2Io* previous = Installed();
    Installed() = io;
    return previous;
}

}  // namespace platform
