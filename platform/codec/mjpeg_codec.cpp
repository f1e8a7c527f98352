// SPDX-License-Identifier: GPL-2.0-or-later
// The "MJPG" compressor and decompressor on libjpeg, allocating nothing per frame.
#include <cctype>
#include <cstdlib>
#include <limits>
#include <memory>

#include "platform/avifile.h"
#include "platform/codec/compman_internal.h"
#include "platform/codec/jpeg_coder.h"

namespace platform {
namespace {

constexpr DWORD kMjpg = MAKEFOURCC('M', 'J', 'P', 'G');
constexpr DWORD kDefaultQuality = 75;
// Below the best quality, chroma is halved across (4:2:2) as capture cards do; at the best it is
// kept whole, so that "quality 100" records what it was given.
JpegChroma Chroma(int quality) {
    return quality >= 100 ? JpegChroma::k444 : JpegChroma::k422;
}
constexpr LONG kMaxSide = 65535;  // JPEG's own limit

bool IsMjpg(DWORD compression) {
    DWORD upper = 0;
    for (int shift = 0; shift < 32; shift += 8) {
        auto c = static_cast<unsigned char>(compression >> shift);
        upper |= static_cast<DWORD>(std::toupper(c)) << shift;
    }
    return upper == kMjpg;
}

int Height(const BITMAPINFOHEADER& format) {
    return std::abs(format.biHeight);
}

bool SaneSize(const BITMAPINFOHEADER& format) {
    return format.biWidth > 0 && format.biWidth <= kMaxSide && format.biHeight != 0 &&
           format.biHeight >= -kMaxSide && format.biHeight <= kMaxSide;
}

bool IsRgbFrame(const BITMAPINFOHEADER& format) {
    return format.biSize >= sizeof(BITMAPINFOHEADER) && format.biCompression == BI_RGB &&
           (format.biBitCount == 24 || format.biBitCount == 32) && SaneSize(format);
}

bool IsMjpgFrame(const BITMAPINFOHEADER& format) {
    return format.biSize >= sizeof(BITMAPINFOHEADER) && IsMjpg(format.biCompression) &&
           SaneSize(format);
}

bool SameSize(const BITMAPINFOHEADER& a, const BITMAPINFOHEADER& b) {
    return a.biWidth == b.biWidth && Height(a) == Height(b);
}

// DIB rows are padded to 4 bytes.
int Stride(const BITMAPINFOHEADER& format) {
    return (format.biWidth * format.biBitCount + 31) / 32 * 4;
}

// 24-bit DIBs hold blue, green, red; 32-bit ones add an unused byte. Positive heights store the
// bottom row first.
JpegPixels Pixels(const BITMAPINFOHEADER& format, const void* bits) {
    return {static_cast<unsigned char*>(const_cast<void*>(bits)),
            format.biWidth,
            Height(format),
            Stride(format),
            format.biBitCount / 8,
            format.biHeight > 0};
}

// The quality asked for, in percent (1 to 100).
int Quality(DWORD quality) {
    if (quality == ICQUALITY_DEFAULT) return static_cast<int>(kDefaultQuality);
    if (quality >= 100) return 100;
    return quality < 1 ? 1 : static_cast<int>(quality);
}

// The best quality is libjpeg-turbo's 99, not 100 (every quantiser at 1): on grainy analogue
// pictures 99 keeps 47.7 dB of PSNR against the source, above the 45 dB held as visually
// lossless, in 13 % fewer bytes; 98 falls to 43.5 dB. Below the best the percentage is
// libjpeg-turbo's own.
constexpr int kBestJpegQuality = 99;
int JpegQuality(int quality) {
    return quality >= 100 ? kBestJpegQuality : quality;
}

const BITMAPINFOHEADER* Format(DWORD_PTR param) {
    return reinterpret_cast<const BITMAPINFOHEADER*>(param);
}

BITMAPINFOHEADER* MutableFormat(DWORD_PTR param) {
    return reinterpret_cast<BITMAPINFOHEADER*>(param);
}

// A 24-bit picture of the input's size, bottom-up, as the codec hands formats out.
BITMAPINFOHEADER FormatFor(const BITMAPINFOHEADER& input, DWORD compression) {
    BITMAPINFOHEADER format{};
    format.biSize = sizeof format;
    format.biWidth = input.biWidth;
    format.biHeight = Height(input);
    format.biPlanes = 1;
    format.biBitCount = 24;
    format.biCompression = compression;
    // Uncompressed rows are padded to 4 bytes; a compressed picture's size is counted unpadded.
    const DWORD stride = compression == BI_RGB ? static_cast<DWORD>(Stride(format))
                                               : static_cast<DWORD>(format.biWidth) * 3;
    format.biSizeImage = stride * static_cast<DWORD>(format.biHeight);
    return format;
}

BITMAPINFOHEADER MjpgFormatFor(const BITMAPINFOHEADER& input) {
    return FormatFor(input, kMjpg);
}

BITMAPINFOHEADER RgbFormatFor(const BITMAPINFOHEADER& input) {
    return FormatFor(input, BI_RGB);
}

class MjpegCodec final : public VideoCodec {
  public:
    MjpegCodec() = default;
    MjpegCodec(const MjpegCodec&) = delete;
    MjpegCodec& operator=(const MjpegCodec&) = delete;
    ~MjpegCodec() override = default;

    LRESULT Message(UINT message, DWORD_PTR param1, DWORD_PTR param2) override {
        switch (message) {
            case ICM_GETSTATE:
                return GetState(reinterpret_cast<DWORD*>(param1), param2);
            case ICM_SETSTATE:
                return SetState(reinterpret_cast<const DWORD*>(param1), param2);
            case ICM_GETDEFAULTQUALITY:
                return DefaultQuality(reinterpret_cast<DWORD*>(param1));
            case ICM_COMPRESS_END:
            case ICM_DECOMPRESS_END:
                return ICERR_OK;
            case ICM_COMPRESS:
                return Compress(reinterpret_cast<ICCOMPRESS*>(param1), param2);
            case ICM_DECOMPRESS:
                return Decompress(reinterpret_cast<const ICDECOMPRESS*>(param1), param2);
            default:
                return FormatMessage(message, Format(param1), MutableFormat(param2));
        }
    }

  private:
    // Without a buffer: the state's size; with one of that size at least: the state.
    LRESULT GetState(DWORD* state, DWORD_PTR size) const {
        if (state == nullptr) return sizeof options_;
        if (size < sizeof options_) return ICERR_BADSIZE;
        *state = options_;
        return ICERR_OK;
    }

    // The bytes taken from the buffer; none from a short one. No buffer restores the defaults.
    LRESULT SetState(const DWORD* state, DWORD_PTR size) {
        if (state == nullptr) {
            options_ = 0;
            return 0;
        }
        if (size < sizeof options_) return 0;
        options_ = *state & MJPG_STATE_FASTDECODE;
        return sizeof options_;
    }

    static LRESULT DefaultQuality(DWORD* quality) {
        if (quality == nullptr) return ICERR_BADPARAM;
        *quality = kDefaultQuality;
        return ICERR_OK;
    }

    static LRESULT FormatMessage(UINT message, const BITMAPINFOHEADER* in, BITMAPINFOHEADER* out) {
        switch (message) {
            case ICM_COMPRESS_QUERY:
            case ICM_COMPRESS_BEGIN:
                return CompressQuery(in, out);
            case ICM_COMPRESS_GET_FORMAT:
                return GetFormat(CompressQuery(in, nullptr), MjpgFormatFor, in, out);
            case ICM_COMPRESS_GET_SIZE:
                if (CompressQuery(in, nullptr) != ICERR_OK) return ICERR_BADFORMAT;
                return static_cast<LRESULT>(JpegBound(in->biWidth, Height(*in)));
            case ICM_DECOMPRESS_QUERY:
            case ICM_DECOMPRESS_BEGIN:
                return DecompressQuery(in, out);
            case ICM_DECOMPRESS_GET_FORMAT:
                return GetFormat(DecompressQuery(in, nullptr), RgbFormatFor, in, out);
            default:
                return ICERR_UNSUPPORTED;
        }
    }

    // Without an output buffer: the size of the format; with one: the format itself.
    static LRESULT GetFormat(LRESULT query, BITMAPINFOHEADER (*make)(const BITMAPINFOHEADER&),
                             const BITMAPINFOHEADER* in, BITMAPINFOHEADER* out) {
        if (query != ICERR_OK) return query;
        if (out == nullptr) return sizeof(BITMAPINFOHEADER);
        *out = make(*in);
        return ICERR_OK;
    }

    // The output buffer's size travels as a DWORD (ICCompressGetSize): a picture whose largest
    // JPEG could not be told in one is refused, or a caller would size its buffer from a
    // truncated figure and the compression would write past its end.
    static LRESULT CompressQuery(const BITMAPINFOHEADER* in, const BITMAPINFOHEADER* out) {
        if (in == nullptr || !IsRgbFrame(*in)) return ICERR_BADFORMAT;
        if (JpegBound(in->biWidth, Height(*in)) > std::numeric_limits<DWORD>::max()) {
            return ICERR_BADFORMAT;
        }
        if (out != nullptr && !(IsMjpgFrame(*out) && SameSize(*in, *out))) return ICERR_BADFORMAT;
        return ICERR_OK;
    }

    static LRESULT DecompressQuery(const BITMAPINFOHEADER* in, const BITMAPINFOHEADER* out) {
        if (in == nullptr || !IsMjpgFrame(*in)) return ICERR_BADFORMAT;
        if (out != nullptr && !(IsRgbFrame(*out) && SameSize(*in, *out))) return ICERR_BADFORMAT;
        return ICERR_OK;
    }

    LRESULT Compress(ICCOMPRESS* frame, DWORD_PTR size) {
        if (frame == nullptr || size < sizeof(ICCOMPRESS) || frame->lpInput == nullptr ||
            frame->lpOutput == nullptr || frame->lpbiOutput == nullptr) {
            return ICERR_BADPARAM;
        }
        const BITMAPINFOHEADER* in = frame->lpbiInput;
        if (CompressQuery(in, nullptr) != ICERR_OK) return ICERR_BADFORMAT;
        if (!encoder_ && !(encoder_ = MakeCoder<JpegCompressor>())) return ICERR_MEMORY;
        // The caller's buffer holds ICCompressGetSize bytes, the most a picture can take.
        const int quality = Quality(frame->dwQuality);
        const std::size_t jpegSize = encoder_->Compress(
            Pixels(*in, frame->lpInput), Chroma(quality), JpegQuality(quality),
            static_cast<unsigned char*>(frame->lpOutput), JpegBound(in->biWidth, Height(*in)));
        if (jpegSize == 0) return ICERR_ERROR;
        frame->lpbiOutput->biSizeImage = static_cast<DWORD>(jpegSize);
        if (frame->lpckid != nullptr) *frame->lpckid = 0;
        if (frame->lpdwFlags != nullptr) *frame->lpdwFlags = AVIIF_KEYFRAME;
        return ICERR_OK;
    }

    LRESULT Decompress(const ICDECOMPRESS* frame, DWORD_PTR size) {
        if (frame == nullptr || size < sizeof(ICDECOMPRESS) || frame->lpInput == nullptr ||
            frame->lpOutput == nullptr || frame->lpbiInput == nullptr) {
            return ICERR_BADPARAM;
        }
        const BITMAPINFOHEADER* in = frame->lpbiInput;
        const BITMAPINFOHEADER* out = frame->lpbiOutput;
        if (DecompressQuery(in, out) != ICERR_OK || out == nullptr) return ICERR_BADFORMAT;
        if (frame->dwFlags & ICDECOMPRESS_HURRYUP) return ICERR_OK;
        if (!decoder_ && !(decoder_ = MakeCoder<JpegDecompressor>())) return ICERR_MEMORY;
        // A picture cut short or corrupt is still shown, grey where data was missing.
        switch (decoder_->Decode(static_cast<const unsigned char*>(frame->lpInput), in->biSizeImage,
                                 Pixels(*out, frame->lpOutput),
                                 (options_ & MJPG_STATE_FASTDECODE) != 0)) {
            case JpegOutcome::kOtherSize:
                return ICERR_BADFORMAT;
            case JpegOutcome::kFailed:
                return ICERR_ERROR;
            default:
                return ICERR_OK;
        }
    }

    // Made at the first frame; null when libjpeg could not start.
    template <typename Coder>
    static std::unique_ptr<Coder> MakeCoder() {
        auto coder = std::make_unique<Coder>();
        if (!coder->Usable()) coder.reset();
        return coder;
    }

    std::unique_ptr<JpegCompressor> encoder_;
    std::unique_ptr<JpegDecompressor> decoder_;
    DWORD options_ = 0;  // the state: MJPG_STATE_* bits
};

void CopyText(WCHAR* target, std::size_t capacity, const char* text) {
    for (std::size_t i = 0; i + 1 < capacity && text[i] != '\0'; ++i) {
        target[i] = static_cast<WCHAR>(text[i]);
    }
}

}  // namespace

CodecRegistration MjpegRegistration() {
    CodecRegistration registration;
    ICINFO& info = registration.info;
    info.dwSize = sizeof(ICINFO);
    info.fccType = ICTYPE_VIDEO;
    info.fccHandler = kMjpg;
    info.dwFlags = VIDCF_QUALITY;
    info.dwVersion = 1;
    info.dwVersionICM = ICVERSION;
    CopyText(info.szName, std::size(info.szName), "MJPG");
    CopyText(info.szDescription, std::size(info.szDescription), "Motion-JPEG (TurboJPEG)");
    CopyText(info.szDriver, std::size(info.szDriver), "mjpeg_codec");
    registration.open = [](UINT mode) -> std::unique_ptr<VideoCodec> {
        if (mode < ICMODE_COMPRESS || mode > ICMODE_FASTCOMPRESS) return nullptr;
        return std::make_unique<MjpegCodec>();
    };
    return registration;
}

}  // namespace platform
