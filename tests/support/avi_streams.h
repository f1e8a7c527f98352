// SPDX-License-Identifier: GPL-2.0-or-later
// The stream headers the AVI tests and benchmarks create their files with: 25 frames a second
// of the given picture, and 44.1 kHz 16-bit stereo PCM.
#pragma once

#include "platform/avifile.h"

namespace avi_streams {

inline AVISTREAMINFOA VideoInfo(const BITMAPINFOHEADER& format) {
    AVISTREAMINFOA info{};
    info.fccType = streamtypeVIDEO;
    info.dwScale = 1;
    info.dwRate = 25;
    info.dwSuggestedBufferSize = format.biSizeImage;
    info.rcFrame = {0, 0, format.biWidth, format.biHeight};
    return info;
}

inline AVISTREAMINFOA AudioInfo() {
    AVISTREAMINFOA info{};
    info.fccType = streamtypeAUDIO;
    info.dwScale = 4;
    info.dwRate = 176400;
    info.dwQuality = 100;
    info.dwSampleSize = 4;
    return info;
}

}  // namespace avi_streams
