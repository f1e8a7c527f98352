// SPDX-License-Identifier: GPL-2.0-or-later
// Video compression manager: compressors and decompressors found by type and FourCC, driven by
// messages.
//
// The machine has a compressor when the platform implements it and the machine description
// does not switch it off ([codecs] MJPG = no). The platform implements "MJPG" (Motion-JPEG,
// baseline JFIF frames with 4:2:2 chroma): compression from 24- or 32-bit BI_RGB frames,
// bottom-up (positive height) or top-down (negative height), and decompression back to them.
// FourCCs are compared without regard to case.
//
// Quality: our compressors read dwQuality (ICCOMPRESS, AVICOMPRESSOPTIONS) in percent, 100 being
// the best; a value above 100 counts as 100 (so ICQUALITY_HIGH is best too) and ICQUALITY_DEFAULT
// is the compressor's default quality, 75. "MJPG" at 100 is 4:4:4 at libjpeg-turbo's 99, the
// smallest that keeps 45 dB of PSNR on grainy analogue pictures (see platform/README.md).
//
// State (ICM_GETSTATE, ICM_SETSTATE): our "MJPG" keeps one DWORD of options, 4 bytes,
// MJPG_STATE_FASTDECODE trading a little accuracy for speed when decoding (off by default).
// ICGetState with no buffer answers the size, with a buffer of at least 4 bytes ICERR_OK;
// ICSetState answers the bytes it took (0 from a shorter buffer) and with no buffer restores
// the defaults.
//
// Compressed frames: ICM_COMPRESS writes the frame's byte count into lpbiOutput->biSizeImage and
// AVIIF_KEYFRAME into *lpdwFlags. For ICM_DECOMPRESS, lpbiInput->biSizeImage is the byte count of
// the compressed frame. The output buffer of a compression holds at least ICCompressGetSize bytes.
#pragma once

#include "platform/windef.h"

struct HIC__;
using HIC = HIC__*;

constexpr DWORD ICTYPE_VIDEO = MAKEFOURCC('v', 'i', 'd', 'c');
constexpr DWORD ICTYPE_AUDIO = MAKEFOURCC('a', 'u', 'd', 'c');

constexpr UINT ICMODE_COMPRESS = 1;
constexpr UINT ICMODE_DECOMPRESS = 2;
constexpr UINT ICMODE_FASTDECOMPRESS = 3;
constexpr UINT ICMODE_QUERY = 4;
constexpr UINT ICMODE_FASTCOMPRESS = 5;
constexpr UINT ICMODE_DRAW = 8;

constexpr UINT ICM_USER = 0x4000;
constexpr UINT ICM_RESERVED = 0x5000;
constexpr UINT ICM_GETSTATE = ICM_RESERVED + 0;
constexpr UINT ICM_SETSTATE = ICM_RESERVED + 1;
constexpr UINT ICM_GETINFO = ICM_RESERVED + 2;
constexpr UINT ICM_GETDEFAULTQUALITY = ICM_RESERVED + 30;
constexpr UINT ICM_COMPRESS_GET_FORMAT = ICM_USER + 4;
constexpr UINT ICM_COMPRESS_GET_SIZE = ICM_USER + 5;
constexpr UINT ICM_COMPRESS_QUERY = ICM_USER + 6;
constexpr UINT ICM_COMPRESS_BEGIN = ICM_USER + 7;
constexpr UINT ICM_COMPRESS = ICM_USER + 8;
constexpr UINT ICM_COMPRESS_END = ICM_USER + 9;
constexpr UINT ICM_DECOMPRESS_GET_FORMAT = ICM_USER + 10;
constexpr UINT ICM_DECOMPRESS_QUERY = ICM_USER + 11;
constexpr UINT ICM_DECOMPRESS_BEGIN = ICM_USER + 12;
constexpr UINT ICM_DECOMPRESS = ICM_USER + 13;
constexpr UINT ICM_DECOMPRESS_END = ICM_USER + 14;
static_assert(ICM_GETSTATE == 0x5000 && ICM_SETSTATE == 0x5001 &&
              ICM_DECOMPRESS_GET_FORMAT == 0x400A && ICM_DECOMPRESS_QUERY == 0x400B &&
              ICM_DECOMPRESS_BEGIN == 0x400C && ICM_DECOMPRESS == 0x400D &&
              ICM_DECOMPRESS_END == 0x400E);

constexpr LRESULT ICERR_OK = 0;
constexpr LRESULT ICERR_DONTDRAW = 1;
constexpr LRESULT ICERR_NEWPALETTE = 2;
constexpr LRESULT ICERR_GOTOKEYFRAME = 3;
constexpr LRESULT ICERR_STOPDRAWING = 4;
constexpr LRESULT ICERR_UNSUPPORTED = -1;
constexpr LRESULT ICERR_BADFORMAT = -2;
constexpr LRESULT ICERR_MEMORY = -3;
constexpr LRESULT ICERR_INTERNAL = -4;
constexpr LRESULT ICERR_BADFLAGS = -5;
constexpr LRESULT ICERR_BADPARAM = -6;
constexpr LRESULT ICERR_BADSIZE = -7;
constexpr LRESULT ICERR_BADHANDLE = -8;
constexpr LRESULT ICERR_CANTUPDATE = -9;
constexpr LRESULT ICERR_ABORT = -10;
constexpr LRESULT ICERR_ERROR = -100;
constexpr LRESULT ICERR_BADBITDEPTH = -200;
constexpr LRESULT ICERR_BADIMAGESIZE = -201;

constexpr DWORD ICQUALITY_LOW = 0;
constexpr DWORD ICQUALITY_HIGH = 10000;
constexpr DWORD ICQUALITY_DEFAULT = 0xFFFFFFFF;

constexpr DWORD ICVERSION = 0x0104;

// ICINFO dwFlags.
constexpr DWORD VIDCF_QUALITY = 0x0001;
constexpr DWORD VIDCF_CRUNCH = 0x0002;
constexpr DWORD VIDCF_TEMPORAL = 0x0004;
constexpr DWORD VIDCF_COMPRESSFRAMES = 0x0008;
constexpr DWORD VIDCF_DRAW = 0x0010;

constexpr DWORD MJPG_STATE_FASTDECODE = 0x00000001;

constexpr DWORD ICCOMPRESS_KEYFRAME = 0x00000001;
constexpr DWORD ICDECOMPRESS_HURRYUP = 0x80000000;

struct ICINFO {
    DWORD dwSize;
    DWORD fccType;
    DWORD fccHandler;
    DWORD dwFlags;
    DWORD dwVersion;
    DWORD dwVersionICM;
    WCHAR szName[16];
    WCHAR szDescription[128];
    WCHAR szDriver[128];
};
static_assert(sizeof(ICINFO) == 568);

struct ICCOMPRESS {
    DWORD dwFlags;
    BITMAPINFOHEADER* lpbiOutput;
    LPVOID lpOutput;
    BITMAPINFOHEADER* lpbiInput;
    LPVOID lpInput;
    DWORD* lpckid;
    DWORD* lpdwFlags;
    LONG lFrameNum;
    DWORD dwFrameSize;
    DWORD dwQuality;
    BITMAPINFOHEADER* lpbiPrev;
    LPVOID lpPrev;
};

struct ICDECOMPRESS {
    DWORD dwFlags;
    BITMAPINFOHEADER* lpbiInput;
    LPVOID lpInput;
    BITMAPINFOHEADER* lpbiOutput;
    LPVOID lpOutput;
    DWORD ckid;
};

// An instance of the compressor installed for (type, handler), or 0 when the machine has none.
HIC ICOpen(DWORD fccType, DWORD fccHandler, UINT mode);

// Copies up to `size` bytes of the instance's ICINFO; returns the bytes copied (0 on a bad handle).
LRESULT ICGetInfo(HIC hic, ICINFO* info, DWORD size);

// ICERR_BADHANDLE for a handle that is 0, unknown or closed.
LRESULT ICSendMessage(HIC hic, UINT message, DWORD_PTR param1, DWORD_PTR param2);

// Closing twice is safe: the second close answers ICERR_BADHANDLE.
LRESULT ICClose(HIC hic);

// The wrappers over ICSendMessage. Formats are BITMAPINFOHEADERs, followed by whatever their size
// says.
inline LRESULT ICGetState(HIC hic, LPVOID state, DWORD size) {
    return ICSendMessage(hic, ICM_GETSTATE, reinterpret_cast<DWORD_PTR>(state), size);
}
inline LRESULT ICSetState(HIC hic, LPVOID state, DWORD size) {
    return ICSendMessage(hic, ICM_SETSTATE, reinterpret_cast<DWORD_PTR>(state), size);
}
inline DWORD ICGetStateSize(HIC hic) {
    return static_cast<DWORD>(ICGetState(hic, nullptr, 0));
}
inline LRESULT ICGetDefaultQuality(HIC hic, DWORD* quality) {
    return ICSendMessage(hic, ICM_GETDEFAULTQUALITY, reinterpret_cast<DWORD_PTR>(quality), 0);
}

inline LRESULT ICFormatMessage(HIC hic, UINT message, const void* input, void* output) {
    return ICSendMessage(hic, message, reinterpret_cast<DWORD_PTR>(input),
                         reinterpret_cast<DWORD_PTR>(output));
}

inline LRESULT ICCompressGetFormat(HIC hic, const void* input, void* output) {
    return ICFormatMessage(hic, ICM_COMPRESS_GET_FORMAT, input, output);
}
inline LONG ICCompressGetFormatSize(HIC hic, const void* input) {
    return static_cast<LONG>(ICCompressGetFormat(hic, input, nullptr));
}
inline DWORD ICCompressGetSize(HIC hic, const void* input, void* output) {
    return static_cast<DWORD>(ICFormatMessage(hic, ICM_COMPRESS_GET_SIZE, input, output));
}
inline LRESULT ICCompressQuery(HIC hic, const void* input, void* output) {
    return ICFormatMessage(hic, ICM_COMPRESS_QUERY, input, output);
}
inline LRESULT ICCompressBegin(HIC hic, const void* input, void* output) {
    return ICFormatMessage(hic, ICM_COMPRESS_BEGIN, input, output);
}
inline LRESULT ICCompressEnd(HIC hic) {
    return ICSendMessage(hic, ICM_COMPRESS_END, 0, 0);
}

inline LRESULT ICDecompressGetFormat(HIC hic, const void* input, void* output) {
    return ICFormatMessage(hic, ICM_DECOMPRESS_GET_FORMAT, input, output);
}
inline LONG ICDecompressGetFormatSize(HIC hic, const void* input) {
    return static_cast<LONG>(ICDecompressGetFormat(hic, input, nullptr));
}
inline LRESULT ICDecompressQuery(HIC hic, const void* input, void* output) {
    return ICFormatMessage(hic, ICM_DECOMPRESS_QUERY, input, output);
}
inline LRESULT ICDecompressBegin(HIC hic, const void* input, void* output) {
    return ICFormatMessage(hic, ICM_DECOMPRESS_BEGIN, input, output);
}
inline LRESULT ICDecompressEnd(HIC hic) {
    return ICSendMessage(hic, ICM_DECOMPRESS_END, 0, 0);
}

inline DWORD ICCompress(HIC hic, DWORD flags, BITMAPINFOHEADER* outputFormat, LPVOID output,
                        BITMAPINFOHEADER* inputFormat, LPVOID input, DWORD* ckid, DWORD* frameFlags,
                        LONG frameNumber, DWORD frameSize, DWORD quality,
                        BITMAPINFOHEADER* previousFormat, LPVOID previous) {
    ICCOMPRESS message{flags,      outputFormat, output,    inputFormat, input,          ckid,
                       frameFlags, frameNumber,  frameSize, quality,     previousFormat, previous};
    return static_cast<DWORD>(
        ICSendMessage(hic, ICM_COMPRESS, reinterpret_cast<DWORD_PTR>(&message), sizeof message));
}

inline DWORD ICDecompress(HIC hic, DWORD flags, BITMAPINFOHEADER* inputFormat, LPVOID input,
                          BITMAPINFOHEADER* outputFormat, LPVOID output) {
    ICDECOMPRESS message{flags, inputFormat, input, outputFormat, output, 0};
    return static_cast<DWORD>(
        ICSendMessage(hic, ICM_DECOMPRESS, reinterpret_cast<DWORD_PTR>(&message), sizeof message));
}
