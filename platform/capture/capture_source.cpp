// SPDX-License-Identifier: GPL-2.0-or-later
// Which source stands behind a driver of the machine description.
#include "platform/capture/capture_source.h"

#include <cerrno>
#include <cstring>
#include <string>

#include "platform/capture/alsa_capture.h"
#include "platform/capture/sound_inputs.h"
#include "platform/capture/testcard.h"
#include "platform/capture/testcard_source.h"
#include "platform/capture/v4l2_source.h"

namespace platform {

BITMAPINFOHEADER RgbFormat(int width, int height) {
    BITMAPINFOHEADER f{};
    f.biSize = sizeof(BITMAPINFOHEADER);
    f.biWidth = width;
    f.biHeight = height;
    f.biPlanes = 1;
    f.biBitCount = 24;
    f.biCompression = BI_RGB;
    f.biSizeImage = DibStride(width) * static_cast<DWORD>(height);
    return f;
}

// A compressed frame's size varies; biSizeImage is the room a frame may need at most.
BITMAPINFOHEADER MjpgFormat(int width, int height) {
    BITMAPINFOHEADER f = RgbFormat(width, height);
    f.biCompression = kFourCCMjpg;
    f.biSizeImage = static_cast<DWORD>(width * height * 3);
    return f;
}

std::unique_ptr<VideoSource> OpenVideoSource(const DriverDescription& driver, int* error) {
    if (error != nullptr) *error = 0;
    if (driver.kind == "v4l2") return OpenV4l2Source(driver, error);
    return OpenTestCard(driver);
}

// A user not in the "video" group, a device another program streams from and a device pulled
// out are the everyday ones.
std::string DeviceErrorReason(int error) {
    switch (error) {
        case 0:
            return {};
        case EACCES:
        case EPERM:
            return "accès refusé (l'utilisateur doit faire partie du groupe \"video\")";
        case EBUSY:
            return "périphérique occupé par un autre programme";
        case ENOENT:
        case ENODEV:
        case ENXIO:
            return "périphérique introuvable ou débranché";
        case ENOMEM:
            return "mémoire insuffisante";
        case kNoDeliverablePicture:
            return "aucun format d'image utilisable";
        default:
            return std::strerror(error);
    }
}

CaptureTiming OpenCaptureTiming(const DriverDescription& driver, const WAVEFORMATEX& format,
                                DWORD samplesPerBuffer) {
    const bool virtualClock = Machine().user.virtualClock;
    if (driver.kind == "v4l2")
        return OpenSoundInput(SoundInputFor(driver), format, samplesPerBuffer, virtualClock);
    return {TestCardSoundSource(format), SystemClock(virtualClock)};
}

}  // namespace platform
