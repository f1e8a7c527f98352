// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/capture/v4l2_requests.h"

#include <linux/videodev2.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iterator>

namespace platform {
namespace {

// `probeEnds`: the errors with which the request ends a probe normally, and says nothing
// (unused places are 0). Any other refusal is told.
struct Request {
    unsigned long code;
    const char* name;
    std::array<int, 3> probeEnds;
};

// Each name spelled by its own macro, so that it cannot drift from the code.
#define NAMED(request) request, #request
constexpr Request kRequests[] = {
    // Named only: the drivers are listed by asking every node before any source is open, and a
    // node that does not answer is simply not a capture device.
    {NAMED(VIDIOC_QUERYCAP), {}},
    // The format the source reads and sets: without it there is no picture.
    {NAMED(VIDIOC_G_FMT), {}},
    {NAMED(VIDIOC_S_FMT), {}},
    // Lists end with EINVAL past their last entry; a driver that lists nothing, or has no such
    // request, answers ENOTTY.
    {NAMED(VIDIOC_ENUM_FMT), {EINVAL, ENOTTY}},
    {NAMED(VIDIOC_ENUM_FRAMESIZES), {EINVAL, ENOTTY}},
    {NAMED(VIDIOC_ENUM_FRAMEINTERVALS), {EINVAL, ENOTTY}},
    {NAMED(VIDIOC_ENUMINPUT), {EINVAL, ENOTTY}},
    // A camera's input has no TV standard: ENODATA.
    {NAMED(VIDIOC_ENUMSTD), {EINVAL, ENODATA, ENOTTY}},
    {NAMED(VIDIOC_G_STD), {ENODATA, ENOTTY}},
    {NAMED(VIDIOC_G_INPUT), {ENOTTY}},
    // The control list ends with EINVAL; ENOTTY from the extended query sends the older one.
    {NAMED(VIDIOC_QUERY_EXT_CTRL), {EINVAL, ENOTTY}},
    {NAMED(VIDIOC_QUERYCTRL), {EINVAL, ENOTTY}},
    // Menus may skip values.
    {NAMED(VIDIOC_QUERYMENU), {EINVAL}},
    // A device that lists no modes is tried with formats it may not have.
    {NAMED(VIDIOC_TRY_FMT), {EINVAL, ENOTTY}},
    // A write-only control has no value to read.
    {NAMED(VIDIOC_G_CTRL), {EACCES}},
    // A control the device does not have: exposure priority on a capture card, a remembered
    // control a later driver left out.
    {NAMED(VIDIOC_S_CTRL), {EINVAL, ENOTTY}},
    // A device with no rate to choose answers ENOTTY; one that offers a choice and refuses the
    // rate asked is told.
    {NAMED(VIDIOC_G_PARM), {ENOTTY}},
    {NAMED(VIDIOC_S_PARM), {}},
    // The user's choices, from the device's own lists.
    {NAMED(VIDIOC_S_INPUT), {}},
    {NAMED(VIDIOC_S_STD), {}},
    // Streaming: any refusal stops the capture or loses the device. A dequeue with nothing
    // ready (EAGAIN) is no refusal.
    {NAMED(VIDIOC_REQBUFS), {}},
    {NAMED(VIDIOC_QUERYBUF), {}},
    {NAMED(VIDIOC_QBUF), {}},
    {NAMED(VIDIOC_DQBUF), {}},
    {NAMED(VIDIOC_STREAMON), {}},
    {NAMED(VIDIOC_STREAMOFF), {}},
};
#undef NAMED

const Request* Find(unsigned long request) {
    const auto found = std::find_if(std::begin(kRequests), std::end(kRequests),
                                    [&](const Request& r) { return r.code == request; });
    return found != std::end(kRequests) ? found : nullptr;
}

// EAGAIN (nothing ready on a non-blocking device) and EINTR (made again) are never refusals.
bool Refused(unsigned long request, int error) {
    if (error == EAGAIN || error == EINTR) return false;
    const Request* known = Find(request);
    return known == nullptr || std::find(known->probeEnds.begin(), known->probeEnds.end(), error) ==
                                   known->probeEnds.end();
}

}  // namespace

const char* V4l2RequestName(unsigned long request) {
    const Request* known = Find(request);
    return known != nullptr ? known->name : nullptr;
}

int ReportingV4l2Io::Ioctl(int fd, unsigned long request, void* argument) {
    const int result = calls_.Ioctl(fd, request, argument);
    if (result == -1 && Refused(request, errno)) {
        const int error = errno;
        Report(request, error);
        errno = error;
    }
    return result;
}

void ReportingV4l2Io::Report(unsigned long request, int error) {
    const std::pair key{request, error};
    if (std::find(reported_.begin(), reported_.end(), key) != reported_.end()) return;
    reported_.push_back(key);
    char unnamed[32];
    const char* name = V4l2RequestName(request);
    if (name == nullptr) {
        std::snprintf(unnamed, sizeof unnamed, "request 0x%lx", request);
        name = unnamed;
    }
    std::fprintf(stderr, "%s: video %s: %s refused: %s\n", program_invocation_short_name,
                 device_.c_str(), name, std::strerror(error));
}

}  // namespace platform
