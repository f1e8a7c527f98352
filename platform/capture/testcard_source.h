// SPDX-License-Identifier: GPL-2.0-or-later
// The test card as a capture source.
#pragma once

#include <memory>

#include "platform/capture/capture_source.h"

namespace platform {

std::unique_ptr<VideoSource> OpenTestCard(const DriverDescription& driver);
std::unique_ptr<AudioSource> TestCardSoundSource(const WAVEFORMATEX& format);

}  // namespace platform
