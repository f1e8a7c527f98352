// SPDX-License-Identifier: GPL-2.0-or-later
// The Motion-JPEG decompressor a card delivering Motion-JPEG gets at start-up: opened, primed for
// the capture format and kept open until the close. Its decoded format and frame buffer are read
// by nothing else; frames are drawn from the capture format directly.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/compman.h"

struct Decompressor {
    // Opens and primes it for the frames of `captureFormat`, each refused step reported; the
    // last step's result.
    std::int32_t Prepare(const std::vector<BYTE>& captureFormat);
    // No end-of-decompression message first: closing the instance ends it.
    void Release();

    HIC Handle = nullptr;
    std::vector<BYTE> DecompressorInfo;
    std::int32_t StateSize = 0;
    std::int32_t DecodedFormatSize = 0;
    std::vector<BYTE> DecodedFormat;
    std::vector<BYTE> DecodedFrameBuffer;
};
