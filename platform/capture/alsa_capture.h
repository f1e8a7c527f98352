// SPDX-License-Identifier: GPL-2.0-or-later
// The machine's sound input (ALSA; its "default" device also reaches PulseAudio and PipeWire)
// as a capture's sound and clock.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/capture/capture_source.h"

namespace platform {

// Records `device` ("default", "hw:1,0"...) in `format`: the samples read are the capture's
// clock. With `device` "none", or when it does not open in exactly that format, one warning on
// standard error and silence on the system clock (`virtualClock`: the scripted user's).
CaptureTiming OpenSoundInput(const std::string& device, const WAVEFORMATEX& format,
                             DWORD samplesPerBuffer, bool virtualClock);

// The calls a running sound input makes: the system's over ALSA, or a test's scripted input that
// overruns, keeps failing or goes quiet.
class SoundPcm {
  public:
    struct Status {
        std::int64_t stampUs = 0;    // its last pointer update, monotonic (0: not stamped)
        std::int64_t triggerUs = 0;  // when it was last started, monotonic (0: not stamped)
        long delay = 0;              // frames recorded and not yet read
    };
    virtual ~SoundPcm() = default;
    virtual void Start() = 0;
    // As snd_pcm_readi: frames read, or a negative error (-EAGAIN, -EPIPE...).
    virtual long Read(BYTE* into, unsigned long frames) = 0;
    // As snd_pcm_recover and a new start: false when the input cannot run again.
    virtual bool Restart(int error) = 0;
    // As snd_pcm_wait: 1 when there is sound to read, 0 after `ms` without, negative on error.
    virtual int Wait(int ms) = 0;
    virtual Status GetStatus() = 0;
};

// A sound input over `pcm` (named `name`, read `period` frames at a time) as a capture's sound
// and clock.
CaptureTiming SoundInputOver(std::unique_ptr<SoundPcm> pcm, const std::string& name,
                             const WAVEFORMATEX& format, unsigned long period,
                             DWORD samplesPerBuffer);

// Tests open PCMs from this ALSA configuration text instead of the system's (empty: the
// system's again), so a `file` PCM can stand in for a sound card.
void SetAlsaConfigForTesting(const std::string& configuration);

}  // namespace platform
