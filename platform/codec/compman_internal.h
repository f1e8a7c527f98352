// SPDX-License-Identifier: GPL-2.0-or-later
// Platform-internal: the compressors the compression manager can open, and the seam through
// which tests install their own (a fake "DIVX", a compressor that fails).
#pragma once

#include <functional>
#include <memory>

#include "platform/compman.h"

namespace platform {

// One open instance of a compressor; ICSendMessage hands it every message but ICM_GETINFO,
// which the manager answers from the registration.
class VideoCodec {
  public:
    virtual ~VideoCodec() = default;
    virtual LRESULT Message(UINT message, DWORD_PTR param1, DWORD_PTR param2) = 0;
};

struct CodecRegistration {
    ICINFO info{};  // fccHandler names it; ICGetInfo copies it
    // Makes an instance for an ICMODE_*; null refuses the mode.
    std::function<std::unique_ptr<VideoCodec>(UINT mode)> open;
};

// Installs a video compressor under info.fccHandler, replacing any other (an empty `open`
// removes it). Returns the registration it replaced (empty `open` when there was none).
CodecRegistration InstallCodec(CodecRegistration registration);

// The platform's Motion-JPEG compressor (mjpeg_codec.cpp).
CodecRegistration MjpegRegistration();

}  // namespace platform
