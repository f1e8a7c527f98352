// SPDX-License-Identifier: GPL-2.0-or-later
#include "capture/capture_parameters.h"

namespace {

constexpr WPARAM kSetupSize = sizeof(CAPTUREPARMS);
constexpr WPARAM kAudioFormatSize = sizeof(WAVEFORMATEX);
constexpr qsizetype kFrameRateDigits = 2;
constexpr qsizetype kRateDigits = 5;
constexpr int kHighestFrameRate = 99;
constexpr WORD kBitsPerSample = 16;
constexpr std::int64_t kBytesPerSample = kBitsPerSample / 8;
constexpr WORD kAbortKey = VK_ESCAPE;
constexpr WORD kNeverFailForDrops = 100;

// The number the first `length` characters of `text` spell in decimal, or nothing when they are
// not all digits. Nothing but a hand-edited settings file puts such a text in the lists.
std::optional<long> LeadingNumber(const QString& text, qsizetype length) {
    const QString digits = text.left(length);
    if (digits.isEmpty()) return std::nullopt;
    long value = 0;
    for (const QChar c : digits) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9')) return std::nullopt;
        value = value * 10 + (c.unicode() - u'0');
    }
    return value;
}

// "25 Images/sec" gives 40000: computed in floating point, then truncated, so 15 and 30 images
// give 66666 and 33333. A rate of 0 would divide by zero, so it counts as unreadable.
std::optional<DWORD> FramePeriodOf(const QString& text) {
    const std::optional<long> rate = LeadingNumber(text, kFrameRateDigits);
    if (!rate || *rate < 1 || *rate > kHighestFrameRate) return std::nullopt;
    return static_cast<DWORD>((1.0L / static_cast<long double>(*rate)) * 1000000.0L);
}

std::optional<WORD> ChannelsOf(const QString& text) {
    if (text == QStringLiteral("Mono")) return 1;
    if (text == QStringLiteral("Stéréo")) return 2;
    return std::nullopt;
}

std::optional<DWORD> RateOf(const QString& text) {
    for (const DWORD rate : {11025u, 22050u, 44100u}) {
        if (text == QStringLiteral("%1 Hz").arg(rate)) return rate;
    }
    return std::nullopt;
}

// These fields are 16-bit values in 32-bit slots; what the service keeps in the upper half is
// its own business.
void SetLowHalf(UINT& field, WORD value) {
    field = (field & 0xFFFF0000u) | value;
}

void SetSequenceFields(CAPTUREPARMS& setup) {
    setup.fMakeUserHitOKToCapture = FALSE;
    SetLowHalf(setup.wPercentDropForError, kNeverFailForDrops);
    // The capture must run on the window's thread: the handlers share the recording state
    // without locks.
    setup.fYield = FALSE;
    setup.dwIndexSize = 0;
    SetLowHalf(setup.wChunkGranularity, 0);
    setup.fUsingDOSMemory = FALSE;
    setup.wNumVideoRequested = 0;
    setup.wNumAudioRequested = 0;
    SetLowHalf(setup.vKeyAbort, kAbortKey);
    setup.fAbortLeftMouse = FALSE;
    setup.fAbortRightMouse = FALSE;
    setup.fLimitEnabled = FALSE;
    SetLowHalf(setup.wTimeLimit, 0);
    SetLowHalf(setup.wStepCaptureAverageFrames, 0);
    setup.fDisableWriteCache = FALSE;
    // The video handler keeps picture and sound in step itself, by dropping or doubling frames.
    SetLowHalf(setup.AVStreamMaster, AVSTREAMMASTER_NONE);
}

// An unreadable frame-rate text leaves the period the service returned, so the service never
// receives a made-up one; the other fields are set all the same.
void ApplySequenceSetup(HWND window, const QString& frameRate) {
    CAPTUREPARMS setup{};
    SendMessageA(window, WM_CAP_GET_SEQUENCE_SETUP, kSetupSize, reinterpret_cast<LPARAM>(&setup));
    if (const std::optional<DWORD> period = FramePeriodOf(frameRate)) {
        setup.dwRequestMicroSecPerFrame = *period;
    }
    SetSequenceFields(setup);
    SendMessageA(window, WM_CAP_SET_SEQUENCE_SETUP, kSetupSize, reinterpret_cast<LPARAM>(&setup));
}

// 16-bit PCM. The byte rate wraps at 32 bits like the record's field, whatever the counts.
void SetPcm16(WAVEFORMATEX& format, std::int64_t channels, DWORD rate) {
    const std::int64_t blockAlign = channels * kBytesPerSample;
    format.nChannels = static_cast<WORD>(channels);
    format.nSamplesPerSec = rate;
    format.nAvgBytesPerSec = static_cast<DWORD>(std::int64_t{rate} * blockAlign);
    format.nBlockAlign = static_cast<WORD>(blockAlign);
    format.wBitsPerSample = kBitsPerSample;
}

WAVEFORMATEX ReadAudioFormat(HWND window) {
    WAVEFORMATEX format{};
    SendMessageA(window, WM_CAP_GET_AUDIOFORMAT, kAudioFormatSize,
                 reinterpret_cast<LPARAM>(&format));
    return format;
}

void WriteAudioFormat(HWND window, const WAVEFORMATEX& format) {
    SendMessageA(window, WM_CAP_SET_AUDIOFORMAT, kAudioFormatSize,
                 reinterpret_cast<LPARAM>(&format));
}

// A channel or frequency text none of the lists holds leaves that count as the service returned
// it, and the byte rate and block follow whatever count is kept.
void ApplyAudioFormat(HWND window, const QString& channelText, const QString& rateText) {
    WAVEFORMATEX format = ReadAudioFormat(window);
    const WORD channels = ChannelsOf(channelText).value_or(format.nChannels);
    const DWORD rate = RateOf(rateText).value_or(format.nSamplesPerSec);
    SetPcm16(format, channels, rate);
    WriteAudioFormat(window, format);
}

}  // namespace

void SendCaptureParameters(HWND window, const CaptureOptionTexts& options) {
    if (window == nullptr) return;
    ApplySequenceSetup(window, options.frameRate);
    ApplyAudioFormat(window, options.channels, options.audioRate);
}

void SendAudioFormat(HWND window, std::int16_t channels, std::uint16_t rate) {
    if (window == nullptr) return;
    WAVEFORMATEX format = ReadAudioFormat(window);
    SetPcm16(format, channels, rate);
    WriteAudioFormat(window, format);
}

CaptureRates ReadCaptureRates(HWND window) {
    if (window == nullptr) return {};
    CAPTUREPARMS setup{};
    SendMessageA(window, WM_CAP_GET_SEQUENCE_SETUP, kSetupSize, reinterpret_cast<LPARAM>(&setup));
    return {setup.dwRequestMicroSecPerFrame, ReadAudioFormat(window).nAvgBytesPerSec};
}

std::optional<std::uint16_t> AudioRateOf(const QString& text) {
    const std::optional<long> rate = LeadingNumber(text, kRateDigits);
    if (!rate || *rate < 1 || *rate > UINT16_MAX) return std::nullopt;
    return static_cast<std::uint16_t>(*rate);
}
