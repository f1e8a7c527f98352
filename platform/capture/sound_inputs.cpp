// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/capture/sound_inputs.h"

#include <alsa/asoundlib.h>

#include <algorithm>
#include <cstdlib>
#include <memory>

#include "platform/capture/device_choices.h"
#include "platform/capture/device_sysfs.h"

namespace platform {
namespace {

struct FreeHint {
    void operator()(char* text) const { std::free(text); }
};

std::string Hint(const void* hint, const char* id) {
    const std::unique_ptr<char, FreeHint> text(snd_device_name_get_hint(hint, id));
    return text ? std::string(text.get()) : std::string{};
}

// ALSA writes a description on two lines: the card, then the device.
std::string OneLine(std::string text) {
    while (!text.empty() && text.back() == '\n') text.pop_back();
    for (std::size_t at = text.find('\n'); at != std::string::npos; at = text.find('\n', at))
        text.replace(at, 1, " — ");
    return text;
}

// The inputs in ALSA's order; an IOID of "Output" is a playback-only PCM, none means both.
std::vector<SoundInputName> Listed() {
    void** hints = nullptr;
    std::vector<SoundInputName> listed;
    if (snd_device_name_hint(-1, "pcm", &hints) < 0 || hints == nullptr) return listed;
    for (void** hint = hints; *hint != nullptr; ++hint) {
        const std::string name = Hint(*hint, "NAME");
        const std::string direction = Hint(*hint, "IOID");
        if (name.empty() || name == "null" || !(direction.empty() || direction == "Input"))
            continue;
        const std::string description = OneLine(Hint(*hint, "DESC"));
        listed.push_back({name, description.empty() ? name : description});
    }
    snd_device_name_free_hint(hints);
    return listed;
}

void AddOnce(std::vector<SoundInputName>& inputs, SoundInputName input) {
    const auto same = [&](const SoundInputName& in) { return in.pcm == input.pcm; };
    if (std::none_of(inputs.begin(), inputs.end(), same)) inputs.push_back(std::move(input));
}

SoundInputName FoundOr(const std::vector<SoundInputName>& listed, const std::string& pcm,
                       const std::string& description) {
    const auto at = std::find_if(listed.begin(), listed.end(),
                                 [&](const SoundInputName& in) { return in.pcm == pcm; });
    return at != listed.end() ? *at : SoundInputName{pcm, description};
}

}  // namespace

std::vector<SoundInputName> ListSoundInputs(const std::string& first) {
    const std::vector<SoundInputName> listed = Listed();
    std::vector<SoundInputName> inputs;
    const SoundInputName system = FoundOr(listed, "default", "Entrée son par défaut du système");
    if (!first.empty() && first != system.pcm)
        AddOnce(inputs, FoundOr(listed, first, first + " (non listée par ALSA)"));
    AddOnce(inputs, system);
    for (const SoundInputName& input : listed) AddOnce(inputs, input);
    return inputs;
}

std::string SoundInputFor(const DriverDescription& driver, const std::string& sysfsRoot) {
    if (Machine().audio) return *Machine().audio;
    const auto remembered = LoadDeviceChoices(driver.identity).soundInput;
    if (remembered && !remembered->empty()) return *remembered;
    return PairedSoundInput(driver.device, sysfsRoot).value_or("default");
}

}  // namespace platform
