// The machine's sound input (ALSA; its "default" device also reaches PulseAudio and PipeWire)
// as a capture's sound and clock.
#pragma once

#include <string>

#include "platform/capture/capture_source.h"

namespace platform {

// Records `device` ("default", "hw:1,0"...) in `format`: the samples read are the capture's
// clock. With `device` "none", or when it does not open in exactly that format, one warning on
// standard error and silence on the system clock (`virtualClock`: the scripted user's).
CaptureTiming OpenSoundInput(const std::string& device, const WAVEFORMATEX& format,
                             DWORD samplesPerBuffer, bool virtualClock);

// Tests open PCMs from this ALSA configuration text instead of the system's (empty: the
// system's again), so a `file` PCM can stand in for a sound card.
void SetAlsaConfigForTesting(const std::string& configuration);

}  // namespace platform
