// SPDX-License-Identifier: GPL-2.0-or-later
// Every step runs whatever the previous ones gave, so each applicable message is shown in order.
// Where the decompressor gave no size (none opened, a refused format), no buffer is made from the
// answer: a state size that is not positive reads and writes no state, a format size that is not
// positive asks for no format (that step takes the size's own code as its result), and a decoded
// format too short to hold a header sizes no frame buffer.
#include "capture/decompressor.h"

#include <algorithm>
#include <cstring>

#include "capture/dialogs.h"

namespace {

constexpr DWORD kInfoSize = sizeof(ICINFO);
constexpr DWORD kMjpg = MAKEFOURCC('M', 'J', 'P', 'G');

BYTE* AsPointer(std::vector<BYTE>& buffer) {
    return buffer.empty() ? nullptr : buffer.data();
}

// Read and written straight back, as the decompressor would have it kept.
void CycleState(HIC handle, std::int32_t size) {
    if (size <= 0) return;
    std::vector<BYTE> state(static_cast<std::size_t>(size), 0);
    ICGetState(handle, state.data(), static_cast<DWORD>(size));
    ICSetState(handle, state.data(), static_cast<DWORD>(size));
}

// The card names its frames "MJPG", but the negotiation of start-up rewrote the capture format
// into its request for RGB pictures of that size. The decompressor is primed for Motion-JPEG
// frames of the negotiated size instead: an RGB input is one no decompressor takes, and would
// only bring four error messages at every start with such a card.
std::vector<BYTE> MotionJpegInput(const std::vector<BYTE>& captureFormat) {
    std::vector<BYTE> input = captureFormat;
    if (input.size() < sizeof(BITMAPINFOHEADER)) return input;
    BITMAPINFOHEADER header;
    std::memcpy(&header, input.data(), sizeof header);
    header.biCompression = kMjpg;
    std::memcpy(input.data(), &header, sizeof header);
    return input;
}

DWORD FrameBytesOf(const std::vector<BYTE>& decodedFormat) {
    if (decodedFormat.size() < sizeof(BITMAPINFOHEADER)) return 0;
    BITMAPINFOHEADER header;
    std::memcpy(&header, decodedFormat.data(), sizeof header);
    return header.biSizeImage;
}

void Open(Decompressor& d) {
    d.DecompressorInfo.assign(kInfoSize, 0);
    d.Handle = ICOpen(ICTYPE_VIDEO, kMjpg, ICMODE_DECOMPRESS);
    d.StateSize = static_cast<std::int32_t>(ICGetStateSize(d.Handle));
    CycleState(d.Handle, d.StateSize);
    ICGetInfo(d.Handle, reinterpret_cast<ICINFO*>(d.DecompressorInfo.data()), kInfoSize);
}

// Without a buffer the format question would be the size question again.
void AskDecodedFormat(Decompressor& d, const BYTE* input) {
    d.DecodedFormatSize = ICDecompressGetFormatSize(d.Handle, input);
    if (d.DecodedFormatSize < 0) {
        ReportError(QStringLiteral("Erreur ICDECOMPRESSGetFormatSize %1").arg(d.DecodedFormatSize));
    }
    d.DecodedFormat.assign(static_cast<std::size_t>(std::max(0, d.DecodedFormatSize)), 0);
    const auto result = d.DecodedFormat.empty() ? d.DecodedFormatSize
                                                : static_cast<std::int32_t>(ICDecompressGetFormat(
                                                      d.Handle, input, d.DecodedFormat.data()));
    if (result != 0) ReportError(QStringLiteral("Erreur ICDECOMPRESSGetFormat %1").arg(result));
    d.DecodedFrameBuffer.assign(FrameBytesOf(d.DecodedFormat), 0);
}

std::int32_t Begin(Decompressor& d, const BYTE* input) {
    BYTE* output = AsPointer(d.DecodedFormat);
    if (ICDecompressQuery(d.Handle, input, output) != 0) {
        ReportError(QStringLiteral("Impossible de prendre en charge la decompression ..."));
    }
    const auto result = static_cast<std::int32_t>(ICDecompressBegin(d.Handle, input, output));
    if (result != 0) ReportError(QStringLiteral("Erreur ICDECOMPRESSBEGIN %1").arg(result));
    return result;
}

}  // namespace

std::int32_t Decompressor::Prepare(const std::vector<BYTE>& captureFormat) {
    Open(*this);
    std::vector<BYTE> captured = MotionJpegInput(captureFormat);
    const BYTE* input = AsPointer(captured);
    AskDecodedFormat(*this, input);
    return Begin(*this, input);
}

void Decompressor::Release() {
    if (Handle != nullptr) ICClose(Handle);
    *this = Decompressor{};
}
