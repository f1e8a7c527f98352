// SPDX-License-Identifier: GPL-2.0-or-later
// Platform-internal: the AVI 1.0 (RIFF) writer behind the AVI file service.
//
//   RIFF 'AVI ' { LIST 'hdrl' { avih, per stream LIST 'strl' { strh, strf[, strn] } }
//                 LIST 'movi' { '00dc' / '01wb' ... chunks, each padded to an even size }
//                 idx1 }
//
// The header block (everything before the first movi chunk) is laid out at the first write and
// rewritten whole, in one write at offset 0, about once per second of any stream's timeline (or
// every few megabytes) and at Finish; each rewrite leaves counts and sizes that describe exactly
// the chunks written so far. A chunk is written as JUNK and given its id once it is whole. So a
// process killed at any moment leaves a file that readers open, with whole chunks only: players
// that follow the sizes stop at the last rewrite, those that scan for chunks read every complete
// one. The index follows the movi list only at Finish; AVIF_HASINDEX is set once it is on disk.
#pragma once

#include <sys/uio.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/avifile.h"

namespace platform {

struct AviWriterLimits {
    // The largest file, index included; lowered only by tests that must reach it.
    std::uint64_t maxFileBytes = kAviMaxFileBytes;
    // Crash safety: chunks land whole, headers are rewritten while writing. Off only to measure
    // what it costs.
    bool crashSafe = true;
};

// Replaces the limits for files opened afterwards (tests, benchmarks); returns the previous ones.
AviWriterLimits SetAviWriterLimits(AviWriterLimits limits);

// A growing byte image of RIFF chunks. Begin/End are the one place chunks are framed: End writes
// the size of everything after the chunk's header (plus `trailing` bytes that follow in the
// file but not in the image) and pads the image to an even length when nothing trails.
class RiffImage {
  public:
    std::size_t Begin(DWORD id, DWORD form = 0);
    void End(std::size_t mark, std::uint64_t trailing = 0);
    void Put(const void* data, std::size_t size);
    template <typename T>
    void Put(const T& value) {
        Put(&value, sizeof value);
    }
    void Clear() { bytes_.clear(); }
    const std::vector<char>& Bytes() const { return bytes_; }
    std::size_t Size() const { return bytes_.size(); }

  private:
    std::vector<char> bytes_;
};

class AviWriter {
  public:
    struct Stream;  // one stream's header, format and counts

    // Creates (or empties) the regular file at a host path; AVIERR_FILEOPEN when it cannot, or
    // when the name is a symbolic link, a FIFO or a device, which is left untouched.
    // `reason` gets the system's errno when the open fails, kFileNotRegular for what is not a
    // regular file of its own (a link, a FIFO, a device), ENOENT for no host path.
    static HRESULT Create(const std::string& hostPath, std::unique_ptr<AviWriter>& writer,
                          int& reason);
    ~AviWriter();  // Finish()
    AviWriter(const AviWriter&) = delete;
    AviWriter& operator=(const AviWriter&) = delete;

    HRESULT AddStream(const AVISTREAMINFOA& info, int& number);
    HRESULT SetFormat(int number, const void* format, std::size_t size);
    void SetHandler(int number, DWORD handler);
    DWORD Type(int number) const;

    // Appends one chunk; `samples` receives the samples it adds to the stream.
    HRESULT Write(int number, const void* data, std::size_t bytes, bool keyFrame, LONG& samples);

    // Writes the index and the final headers and closes the file; later calls do nothing.
    void Finish();

    // Why the latest write of a chunk failed: an errno value (kFileAviLimit at the AVI 1.0 size).
    int Error() const { return error_; }

  private:
    struct IndexEntry {
        DWORD ckid;
        DWORD flags;
        DWORD offset;
        DWORD size;
    };

    explicit AviWriter(int fd);
    bool Committed() const { return moviFourccAt_ != 0; }
    HRESULT Commit();
    void RenderHeaders(bool indexed);
    void RenderMainHeader(bool indexed);
    void RenderStream(const Stream& stream);
    const Stream* FirstVideo() const;
    bool RewriteHeaders(bool indexed);
    bool Unlinked() const;
    bool WriteAt(std::uint64_t offset, iovec* parts, int count);
    bool WriteChunk(DWORD ckid, const void* data, std::size_t bytes);
    bool WriteIndex();
    HRESULT CheckWrite(const Stream& stream, std::size_t bytes, const void* data) const;
    void Account(Stream& stream, std::size_t bytes, LONG samples);

    int fd_;
    AviWriterLimits limits_;
    std::vector<std::unique_ptr<Stream>> streams_;
    RiffImage headers_;
    RiffImage chunkHead_;
    std::vector<IndexEntry> index_;
    std::uint64_t end_ = 0;           // where the next chunk goes
    std::uint64_t moviFourccAt_ = 0;  // 0 until the headers are laid out
    std::uint64_t indexBytes_ = 0;    // the idx1 chunk, once written
    std::uint64_t bytesSincePatch_ = 0;
    bool patchDue_ = false;
    bool removed_ = false;  // the file lost its last name: the next write is refused
    int error_ = 0;
};

}  // namespace platform
