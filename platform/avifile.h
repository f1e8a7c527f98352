// SPDX-License-Identifier: GPL-2.0-or-later
// AVI file service: new AVI 1.0 files written stream by stream, with compressed video streams made
// through the compression manager (compman.h).
//
// Lifetime. Handles count references: AVIFileOpenA and AVIFileCreateStreamA hand out one reference
// each, AVIMakeCompressedStream one on the new stream. A stream keeps its file alive and a
// compressed stream keeps its source stream alive, so the file is completed (index written, every
// header and size final) and closed when the file and all its streams have been released, in
// whatever order. A handle whose references are all released is dead: releasing it again, or any
// other call with it, is refused safely (AVIERR_BADHANDLE, or 0 from the release calls), never a
// use of freed memory.
//
// Writing. A stream only appends: AVIStreamWrite adds its data at the stream's end, whatever
// `start` says. Headers are laid out at the first write, so every stream needs its format by
// then, and none can be added or reformatted afterwards. While a file is open its headers and
// sizes are brought up to date in place about once per second of written data, so a process that
// dies leaves a file that players read up to that point; the index is added when the file is
// completed. A file never grows past the AVI 1.0 limit, platform::kAviMaxFileBytes (index
// included): a write that would cross it is refused with AVIERR_FILEWRITE, writes nothing, and the
// file stays valid; so is a write the disk refuses. Every call runs on the caller's thread; one
// thread at a time.
#pragma once

#include "platform/windef.h"

namespace platform {
// The largest AVI 1.0 file, index included: its readers take RIFF sizes as signed 32-bit numbers.
inline constexpr std::uint32_t kAviMaxFileBytes = 0x7FFF'FFFF;
}  // namespace platform

using ULONG = std::uint32_t;

struct GUID {
    DWORD Data1;
    WORD Data2;
    WORD Data3;
    BYTE Data4[8];
};
static_assert(sizeof(GUID) == 16);
using CLSID = GUID;
using LPCLSID = CLSID*;

struct IAVIFile;
struct IAVIStream;
using PAVIFILE = IAVIFile*;
using PAVISTREAM = IAVIStream*;

constexpr DWORD streamtypeVIDEO = MAKEFOURCC('v', 'i', 'd', 's');
constexpr DWORD streamtypeAUDIO = MAKEFOURCC('a', 'u', 'd', 's');
constexpr DWORD streamtypeMIDI = MAKEFOURCC('m', 'i', 'd', 's');
constexpr DWORD streamtypeTEXT = MAKEFOURCC('t', 'x', 't', 's');

struct AVISTREAMINFOA {
    DWORD fccType;
    DWORD fccHandler;
    DWORD dwFlags;
    DWORD dwCaps;
    WORD wPriority;
    WORD wLanguage;
    DWORD dwScale;
    DWORD dwRate;
    DWORD dwStart;
    DWORD dwLength;
    DWORD dwInitialFrames;
    DWORD dwSuggestedBufferSize;
    DWORD dwQuality;
    DWORD dwSampleSize;
    RECT rcFrame;
    DWORD dwEditCount;
    DWORD dwFormatChangeCount;
    char szName[64];
};
static_assert(sizeof(AVISTREAMINFOA) == 140);

struct AVICOMPRESSOPTIONS {
    DWORD fccType;
    DWORD fccHandler;
    DWORD dwKeyFrameEvery;
    DWORD dwQuality;  // read by our compressors in percent: see compman.h
    DWORD dwBytesPerSecond;
    DWORD dwFlags;
    LPVOID lpFormat;
    DWORD cbFormat;
    LPVOID lpParms;  // handed to the compressor as its state (ICM_SETSTATE) when cbParms > 0
    DWORD cbParms;
    DWORD dwInterleaveEvery;
};
static_assert(sizeof(AVICOMPRESSOPTIONS) == (sizeof(void*) == 8 ? 56 : 44));

constexpr DWORD AVICOMPRESSF_INTERLEAVE = 0x00000001;
constexpr DWORD AVICOMPRESSF_DATARATE = 0x00000002;
constexpr DWORD AVICOMPRESSF_KEYFRAMES = 0x00000004;
constexpr DWORD AVICOMPRESSF_VALID = 0x00000008;

// Index flags of a chunk; AVIIF_KEYFRAME is also the write flag that marks one.
constexpr DWORD AVIIF_LIST = 0x00000001;
constexpr DWORD AVIIF_KEYFRAME = 0x00000010;
constexpr DWORD AVIIF_NO_TIME = 0x00000100;

// Main header flags.
constexpr DWORD AVIF_HASINDEX = 0x00000010;
constexpr DWORD AVIF_MUSTUSEINDEX = 0x00000020;
constexpr DWORD AVIF_ISINTERLEAVED = 0x00000100;
constexpr DWORD AVIF_TRUSTCKTYPE = 0x00000800;
constexpr DWORD AVIF_WASCAPTUREFILE = 0x00010000;

constexpr UINT OF_READ = 0x00000000;
constexpr UINT OF_WRITE = 0x00000001;
constexpr UINT OF_READWRITE = 0x00000002;
constexpr UINT OF_SHARE_EXCLUSIVE = 0x00000010;
constexpr UINT OF_SHARE_DENY_WRITE = 0x00000020;
constexpr UINT OF_SHARE_DENY_READ = 0x00000030;
constexpr UINT OF_SHARE_DENY_NONE = 0x00000040;
constexpr UINT OF_CREATE = 0x00001000;

constexpr HRESULT AVIERR_OK = 0;
constexpr HRESULT MAKE_AVIERR(int error) {
    return static_cast<HRESULT>(0x80044000u + error);
}
constexpr HRESULT AVIERR_UNSUPPORTED = MAKE_AVIERR(101);
constexpr HRESULT AVIERR_BADFORMAT = MAKE_AVIERR(102);
constexpr HRESULT AVIERR_MEMORY = MAKE_AVIERR(103);
constexpr HRESULT AVIERR_INTERNAL = MAKE_AVIERR(104);
constexpr HRESULT AVIERR_BADFLAGS = MAKE_AVIERR(105);
constexpr HRESULT AVIERR_BADPARAM = MAKE_AVIERR(106);
constexpr HRESULT AVIERR_BADSIZE = MAKE_AVIERR(107);
constexpr HRESULT AVIERR_BADHANDLE = MAKE_AVIERR(108);
constexpr HRESULT AVIERR_FILEREAD = MAKE_AVIERR(109);
constexpr HRESULT AVIERR_FILEWRITE = MAKE_AVIERR(110);
constexpr HRESULT AVIERR_FILEOPEN = MAKE_AVIERR(111);
constexpr HRESULT AVIERR_COMPRESSOR = MAKE_AVIERR(112);
constexpr HRESULT AVIERR_NOCOMPRESSOR = MAKE_AVIERR(113);
constexpr HRESULT AVIERR_READONLY = MAKE_AVIERR(114);
constexpr HRESULT AVIERR_NODATA = MAKE_AVIERR(115);
constexpr HRESULT AVIERR_BUFFERTOOSMALL = MAKE_AVIERR(116);
constexpr HRESULT AVIERR_CANTCOMPRESS = MAKE_AVIERR(117);
constexpr HRESULT AVIERR_USERABORT = MAKE_AVIERR(198);
constexpr HRESULT AVIERR_ERROR = MAKE_AVIERR(199);
static_assert(AVIERR_UNSUPPORTED == static_cast<HRESULT>(0x80044065u));

// Counted: every AVIFileInit is paired with one AVIFileExit. The service works between them;
// AVIFileExit leaves open files alone (they complete on their last release).
void AVIFileInit();
void AVIFileExit();

// Creates a new AVI file at a Windows-style path (through the drive map). `mode` must hold
// OF_CREATE (OF_CREATE alone or with OF_WRITE); reading existing files is AVIERR_UNSUPPORTED, a
// path that cannot be created AVIERR_FILEOPEN, and so is a name held by anything but a regular
// file (a symbolic link, a FIFO, a device), which is left as it is. `handler` must be null (only
// the AVI handler exists). On failure *file is null.
HRESULT AVIFileOpenA(PAVIFILE* file, LPCSTR path, UINT mode, LPCLSID handler);

// Adds a stream described by `info` (fccType, fccHandler, dwScale, dwRate, dwSampleSize,
// rcFrame, ... as they go into the stream header; dwLength is counted by the writes). Streams are
// numbered in creation order, at most 100; none can be added once data has been written.
HRESULT AVIFileCreateStreamA(PAVIFILE file, PAVISTREAM* stream, AVISTREAMINFOA* info);

// A video stream that compresses each frame written to it with the compressor named by
// options->fccHandler into `source`. AVIERR_NOCOMPRESSOR when the machine has no such compressor
// (or `source` is not an uncompressed video stream). `handler` must be null.
HRESULT AVIMakeCompressedStream(PAVISTREAM* compressed, PAVISTREAM source,
                                AVICOMPRESSOPTIONS* options, CLSID* handler);

// Sets a stream's format before its data: a BITMAPINFOHEADER (and what follows it) for video, a
// WAVEFORMATEX or PCMWAVEFORMAT for audio. `position` must be 0. On a compressed stream it is the
// format of the frames that will be written; the compressor's output format then becomes the
// source stream's format and its FourCC the source's fccHandler. AVIERR_BADFORMAT when the
// compressor cannot take the format.
HRESULT AVIStreamSetFormat(PAVISTREAM stream, LONG position, LPVOID format, LONG formatSize);

// Appends `bytes` bytes of data as one chunk (indexed as a key frame when flags hold
// AVIIF_KEYFRAME; every chunk of a stream with a fixed sample size is one). A video chunk is one
// frame; an audio write must hold whole samples (blocks), else AVIERR_BADSIZE. On a compressed
// stream `data` is one uncompressed frame of the format set. Reports the samples added and the
// data bytes stored in the file (the compressed size on a compressed stream; chunk framing and
// index not included); 0 and 0 on failure.
HRESULT AVIStreamWrite(PAVISTREAM stream, LONG start, LONG samples, LPVOID data, LONG bytes,
                       DWORD flags, LONG* samplesWritten, LONG* bytesWritten);

namespace platform {
// The system's reason (an errno value) for the latest write AVIStreamWrite refused with
// AVIERR_FILEWRITE: ENOSPC for a full disk, EFBIG past the system's file size limit,
// kFileAviLimit (platform/files.h) past the AVI 1.0 size, kFileRemoved once the file has lost its
// name (its folder deleted: noticed with the periodic header rewrite, about once a second of data);
// or for the latest open AVIFileOpenA refused with AVIERR_FILEOPEN: its errno, kFileNotRegular
// (platform/files.h) for a link, FIFO or device under the name, ENOENT for a name no drive holds. 0
// before any such refusal.
int LastAviWriteError();
}  // namespace platform

// Add and drop a reference; they return the references the caller still holds on the handle
// (0 once it is dead, and for a handle that is null, unknown or already dead).
ULONG AVIFileAddRef(PAVIFILE file);
ULONG AVIFileRelease(PAVIFILE file);
ULONG AVIStreamAddRef(PAVISTREAM stream);
ULONG AVIStreamRelease(PAVISTREAM stream);
