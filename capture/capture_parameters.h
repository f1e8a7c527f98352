// SPDX-License-Identifier: GPL-2.0-or-later
// The capture window's sequence set-up and sound format, from the options' texts.
#pragma once

#include <QString>
#include <cstdint>
#include <optional>

#include "platform/vfw.h"

// The options as their lists show them: "25 Images/sec", "Stéréo", "44100 Hz".
struct CaptureOptionTexts {
    QString frameRate;
    QString channels;
    QString audioRate;
};

// The sequence set-up (frame period, Escape as the abort key, no yield, no master stream), then
// 16-bit PCM sound, each read from `window`, changed and sent back. A text none of the lists
// holds leaves what the service returned for it. Nothing without a window.
void SendCaptureParameters(HWND window, const CaptureOptionTexts& options);

// 16-bit PCM of these counts, the rest of the format as `window` returned it.
void SendAudioFormat(HWND window, std::int16_t channels, std::uint16_t rate);

// The frame period and sound byte rate `window` will capture with; zeros without a window.
struct CaptureRates {
    std::uint32_t framePeriodUs = 0;
    std::uint32_t soundBytesPerSecond = 0;
};
CaptureRates ReadCaptureRates(HWND window);

// The rate the first five characters of a frequency text spell, when it is one of 1 to 65535 Hz.
std::optional<std::uint16_t> AudioRateOf(const QString& text);
