// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/avi/avi_writer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>

#include "platform/files.h"
#include "platform/mmsystem.h"

namespace platform {
namespace {

#pragma pack(push, 2)
struct MainAviHeader {
    DWORD dwMicroSecPerFrame;
    DWORD dwMaxBytesPerSec;
    DWORD dwPaddingGranularity;
    DWORD dwFlags;
    DWORD dwTotalFrames;
    DWORD dwInitialFrames;
    DWORD dwStreams;
    DWORD dwSuggestedBufferSize;
    DWORD dwWidth;
    DWORD dwHeight;
    DWORD dwReserved[4];
};

struct AviStreamHeader {
    DWORD fccType;
    DWORD fccHandler;
    DWORD dwFlags;
    WORD wPriority;
    WORD wLanguage;
    DWORD dwInitialFrames;
    DWORD dwScale;
    DWORD dwRate;
    DWORD dwStart;
    DWORD dwLength;
    DWORD dwSuggestedBufferSize;
    DWORD dwQuality;
    DWORD dwSampleSize;
    std::int16_t rcFrame[4];
};
#pragma pack(pop)
static_assert(sizeof(MainAviHeader) == 56 && sizeof(AviStreamHeader) == 56);

constexpr DWORD kRiff = MAKEFOURCC('R', 'I', 'F', 'F');
constexpr DWORD kList = MAKEFOURCC('L', 'I', 'S', 'T');
constexpr DWORD kJunk = MAKEFOURCC('J', 'U', 'N', 'K');
constexpr std::size_t kIndexEntryBytes = 16;
constexpr std::size_t kMaxStreams = 100;  // chunk ids number streams with two digits
constexpr std::size_t kMaxFormatBytes = 65536;
// Room for an hour of 25 fps video with its audio before the index first grows.
constexpr std::size_t kIndexReserve = 1 << 17;
// Headers are also rewritten after this much data, whatever the streams' rates.
constexpr std::uint64_t kPatchBytes = 8u << 20;
constexpr char kPad[1] = {0};

AviWriterLimits& Limits() {
    static AviWriterLimits limits;
    return limits;
}

DWORD ChunkId(std::size_t number, DWORD type) {
    char suffix[2] = {'d', 'c'};
    if (type == streamtypeAUDIO) suffix[0] = 'w', suffix[1] = 'b';
    if (type == streamtypeTEXT) suffix[0] = 't', suffix[1] = 'x';
    return MAKEFOURCC(static_cast<char>('0' + number / 10), static_cast<char>('0' + number % 10),
                      suffix[0], suffix[1]);
}

template <typename T>
T Read(const std::vector<char>& bytes) {
    T value{};
    std::memcpy(&value, bytes.data(), std::min(sizeof value, bytes.size()));
    return value;
}

bool ValidFormat(DWORD type, const void* format, std::size_t size) {
    if (type == streamtypeVIDEO) {
        if (size < sizeof(BITMAPINFOHEADER)) return false;
        BITMAPINFOHEADER header;
        std::memcpy(&header, format, sizeof header);
        return header.biSize >= sizeof header && header.biSize <= size && header.biWidth > 0 &&
               header.biHeight != 0;
    }
    if (type == streamtypeAUDIO) {
        WAVEFORMATEX wave{};
        constexpr std::size_t kWaveFormatBytes = 14;  // WAVEFORMAT, up to nBlockAlign
        if (size < kWaveFormatBytes) return false;
        std::memcpy(&wave, format, std::min(size, sizeof wave));
        return wave.nBlockAlign > 0;
    }
    return size > 0;
}

std::int16_t Clamp16(LONG value) {
    return static_cast<std::int16_t>(std::clamp<LONG>(value, -32768, 32767));
}

DWORD Clamp32(double value) {
    if (!(value > 0)) return 0;
    return value >= 4294967295.0 ? 0xFFFFFFFF : static_cast<DWORD>(std::ceil(value));
}

}  // namespace

AviWriterLimits SetAviWriterLimits(AviWriterLimits limits) {
    AviWriterLimits previous = Limits();
    Limits() = limits;
    return previous;
}

std::size_t RiffImage::Begin(DWORD id, DWORD form) {
    std::size_t mark = bytes_.size();
    Put(id);
    Put(DWORD{0});
    if (form != 0) Put(form);
    return mark;
}

void RiffImage::End(std::size_t mark, std::uint64_t trailing) {
    std::uint64_t size = bytes_.size() - mark - 8 + trailing;
    auto stored = static_cast<DWORD>(size);
    std::memcpy(bytes_.data() + mark + 4, &stored, sizeof stored);
    if (trailing == 0 && (size & 1) != 0) bytes_.push_back(0);
}

void RiffImage::Put(const void* data, std::size_t size) {
    const char* begin = static_cast<const char*>(data);
    bytes_.insert(bytes_.end(), begin, begin + size);
}

struct AviWriter::Stream {
    AVISTREAMINFOA info{};
    std::vector<char> format;
    DWORD ckid = 0;
    DWORD sampleSize = 0;  // bytes per sample; 0: one chunk is one sample (video)
    DWORD length = 0;
    DWORD largestChunk = 0;
    std::uint64_t dataBytes = 0;
    std::uint64_t samplesPerPatch = 1;
    std::uint64_t samplesSincePatch = 0;

    double Seconds() const {
        return static_cast<double>(length) * info.dwScale / static_cast<double>(info.dwRate);
    }
};

namespace {

DWORD SuggestedBuffer(const AviWriter::Stream& stream) {
    return std::max(stream.info.dwSuggestedBufferSize, stream.largestChunk);
}

// Readers take a compressed video stream's handler from the header as well as from the format,
// and the frame rectangle from the format when the caller left it empty.
void SetFrame(const AviWriter::Stream& stream, AviStreamHeader& header) {
    const RECT& rect = stream.info.rcFrame;
    header.rcFrame[0] = Clamp16(rect.left);
    header.rcFrame[1] = Clamp16(rect.top);
    header.rcFrame[2] = Clamp16(rect.right);
    header.rcFrame[3] = Clamp16(rect.bottom);
    if (stream.info.fccType != streamtypeVIDEO) return;
    const auto format = Read<BITMAPINFOHEADER>(stream.format);
    if (header.fccHandler == 0 && format.biCompression > 0xFFFF) {
        header.fccHandler = format.biCompression;
    }
    if (rect.right <= rect.left || rect.bottom <= rect.top) {
        header.rcFrame[0] = header.rcFrame[1] = 0;
        header.rcFrame[2] = Clamp16(format.biWidth);
        header.rcFrame[3] = Clamp16(std::abs(format.biHeight));
    }
}

}  // namespace

HRESULT AviWriter::Create(const std::string& hostPath, std::unique_ptr<AviWriter>& writer,
                          int& reason) {
    reason = ENOENT;
    if (hostPath.empty()) return AVIERR_FILEOPEN;
    // Not through a link, and without waiting for a FIFO's reader; the file is emptied only once
    // it is known to be a regular file.
    const int fd =
        ::open(hostPath.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0666);
    if (fd < 0) {
        reason = errno == ELOOP || errno == ENXIO ? kFileNotRegular : errno;
        return AVIERR_FILEOPEN;
    }
    struct stat status {};
    reason = ::fstat(fd, &status) != 0 ? errno : kFileNotRegular;
    if (reason == kFileNotRegular && S_ISREG(status.st_mode)) {
        reason = ::fcntl(fd, F_SETFL, 0) == 0 && ::ftruncate(fd, 0) == 0 ? 0 : errno;
    }
    if (reason != 0) {
        ::close(fd);
        return AVIERR_FILEOPEN;
    }
    writer.reset(new AviWriter(fd));
    return AVIERR_OK;
}

AviWriter::AviWriter(int fd) : fd_(fd), limits_(Limits()) {}

AviWriter::~AviWriter() {
    Finish();
}

HRESULT AviWriter::AddStream(const AVISTREAMINFOA& info, int& number) {
    if (Committed() || fd_ < 0 || streams_.size() >= kMaxStreams) return AVIERR_UNSUPPORTED;
    if (info.dwScale == 0 || info.dwRate == 0) return AVIERR_BADPARAM;
    auto stream = std::make_unique<Stream>();
    stream->info = info;
    stream->info.szName[sizeof info.szName - 1] = '\0';
    stream->ckid = ChunkId(streams_.size(), info.fccType);
    stream->sampleSize = info.dwSampleSize;
    stream->samplesPerPatch = std::max<std::uint64_t>(1, info.dwRate / info.dwScale);
    number = static_cast<int>(streams_.size());
    streams_.push_back(std::move(stream));
    return AVIERR_OK;
}

HRESULT AviWriter::SetFormat(int number, const void* format, std::size_t size) {
    if (Committed() || fd_ < 0) return AVIERR_UNSUPPORTED;
    if (size > kMaxFormatBytes) return AVIERR_BADSIZE;
    Stream& stream = *streams_.at(number);
    if (!ValidFormat(stream.info.fccType, format, size)) return AVIERR_BADFORMAT;
    const char* bytes = static_cast<const char*>(format);
    stream.format.assign(bytes, bytes + size);
    if (stream.info.fccType == streamtypeAUDIO && stream.info.dwSampleSize == 0) {
        stream.sampleSize = Read<WAVEFORMATEX>(stream.format).nBlockAlign;
    }
    return AVIERR_OK;
}

void AviWriter::SetHandler(int number, DWORD handler) {
    streams_.at(number)->info.fccHandler = handler;
}

DWORD AviWriter::Type(int number) const {
    return streams_.at(number)->info.fccType;
}

HRESULT AviWriter::CheckWrite(const Stream& stream, std::size_t bytes, const void* data) const {
    if (fd_ < 0) return AVIERR_FILEWRITE;
    if (data == nullptr && bytes > 0) return AVIERR_BADPARAM;
    for (const auto& each : streams_) {
        if (each->format.empty()) return AVIERR_BADFORMAT;
    }
    if (stream.sampleSize != 0 && bytes % stream.sampleSize != 0) return AVIERR_BADSIZE;
    return AVIERR_OK;
}

HRESULT AviWriter::Write(int number, const void* data, std::size_t bytes, bool keyFrame,
                         LONG& samples) {
    samples = 0;
    Stream& stream = *streams_.at(number);
    if (HRESULT check = CheckWrite(stream, bytes, data); check != AVIERR_OK) return check;
    if (!Committed()) {
        if (HRESULT commit = Commit(); commit != AVIERR_OK) return commit;
    }
    if (stream.sampleSize != 0 && bytes == 0) return AVIERR_OK;
    if (removed_) {
        error_ = kFileRemoved;
        return AVIERR_FILEWRITE;
    }
    const std::uint64_t chunk = 8 + bytes + (bytes & 1);
    const std::uint64_t finalSize = end_ + chunk + 8 + (index_.size() + 1) * kIndexEntryBytes;
    if (finalSize > limits_.maxFileBytes) {
        error_ = kFileAviLimit;
        return AVIERR_FILEWRITE;
    }
    if (!WriteChunk(stream.ckid, data, bytes)) return AVIERR_FILEWRITE;
    keyFrame = keyFrame || stream.sampleSize != 0;  // every block of audio is a sync point
    index_.push_back({stream.ckid, keyFrame ? AVIIF_KEYFRAME : 0,
                      static_cast<DWORD>(end_ - moviFourccAt_), static_cast<DWORD>(bytes)});
    end_ += chunk;
    samples = stream.sampleSize != 0 ? static_cast<LONG>(bytes / stream.sampleSize) : 1;
    Account(stream, bytes, samples);
    if (patchDue_) {
        removed_ = Unlinked();
        if (limits_.crashSafe) RewriteHeaders(false);
    }
    return AVIERR_OK;
}

void AviWriter::Account(Stream& stream, std::size_t bytes, LONG samples) {
    stream.length += static_cast<DWORD>(samples);
    stream.largestChunk = std::max(stream.largestChunk, static_cast<DWORD>(bytes));
    stream.dataBytes += bytes;
    stream.samplesSincePatch += static_cast<std::uint64_t>(samples);
    bytesSincePatch_ += bytes;
    if (stream.samplesSincePatch >= stream.samplesPerPatch || bytesSincePatch_ >= kPatchBytes) {
        patchDue_ = true;
    }
}

// Lays the headers out with the streams as they are now and opens the movi list.
// The index's room is taken first: memory refused then is a refusal of the write, and the file
// is left as it was.
HRESULT AviWriter::Commit() {
    try {
        index_.reserve(kIndexReserve);
    } catch (const std::bad_alloc&) {
        return AVIERR_MEMORY;
    }
    RenderHeaders(false);
    iovec part{const_cast<char*>(headers_.Bytes().data()), headers_.Size()};
    if (!WriteAt(0, &part, 1)) return AVIERR_FILEWRITE;
    end_ = headers_.Size();
    moviFourccAt_ = end_ - 4;
    return AVIERR_OK;
}

void AviWriter::RenderHeaders(bool indexed) {
    const std::uint64_t moviData = Committed() ? end_ - (moviFourccAt_ + 4) : 0;
    headers_.Clear();
    const std::size_t riff = headers_.Begin(kRiff, MAKEFOURCC('A', 'V', 'I', ' '));
    const std::size_t hdrl = headers_.Begin(kList, MAKEFOURCC('h', 'd', 'r', 'l'));
    RenderMainHeader(indexed);
    for (const auto& stream : streams_) {
        if (!stream->format.empty()) RenderStream(*stream);
    }
    headers_.End(hdrl);
    const std::size_t movi = headers_.Begin(kList, MAKEFOURCC('m', 'o', 'v', 'i'));
    headers_.End(movi, moviData);
    headers_.End(riff, moviData + indexBytes_);
}

const AviWriter::Stream* AviWriter::FirstVideo() const {
    for (const auto& stream : streams_) {
        if (stream->info.fccType == streamtypeVIDEO && !stream->format.empty()) {
            return stream.get();
        }
    }
    return nullptr;
}

void AviWriter::RenderMainHeader(bool indexed) {
    MainAviHeader header{};
    std::uint64_t totalBytes = 0;
    double seconds = 0;
    for (const auto& stream : streams_) {
        if (stream->format.empty()) continue;
        ++header.dwStreams;
        header.dwSuggestedBufferSize =
            std::max(header.dwSuggestedBufferSize, SuggestedBuffer(*stream));
        totalBytes += stream->dataBytes;
        seconds = std::max(seconds, stream->Seconds());
    }
    header.dwMaxBytesPerSec = seconds > 0 ? Clamp32(static_cast<double>(totalBytes) / seconds) : 0;
    header.dwFlags = indexed ? AVIF_HASINDEX | AVIF_ISINTERLEAVED : 0;
    if (const Stream* video = FirstVideo()) {
        const auto format = Read<BITMAPINFOHEADER>(video->format);
        header.dwMicroSecPerFrame = static_cast<DWORD>(
            std::llround(1e6 * video->info.dwScale / static_cast<double>(video->info.dwRate)));
        header.dwTotalFrames = video->length;
        header.dwWidth = static_cast<DWORD>(format.biWidth);
        header.dwHeight = static_cast<DWORD>(std::abs(format.biHeight));
    }
    const std::size_t avih = headers_.Begin(MAKEFOURCC('a', 'v', 'i', 'h'));
    headers_.Put(header);
    headers_.End(avih);
}

void AviWriter::RenderStream(const Stream& stream) {
    const AVISTREAMINFOA& info = stream.info;
    AviStreamHeader header{info.fccType,
                           info.fccHandler,
                           info.dwFlags,
                           info.wPriority,
                           info.wLanguage,
                           info.dwInitialFrames,
                           info.dwScale,
                           info.dwRate,
                           info.dwStart,
                           stream.length,
                           SuggestedBuffer(stream),
                           info.dwQuality,
                           stream.sampleSize,
                           {}};
    SetFrame(stream, header);
    const std::size_t strl = headers_.Begin(kList, MAKEFOURCC('s', 't', 'r', 'l'));
    const std::size_t strh = headers_.Begin(MAKEFOURCC('s', 't', 'r', 'h'));
    headers_.Put(header);
    headers_.End(strh);
    const std::size_t strf = headers_.Begin(MAKEFOURCC('s', 't', 'r', 'f'));
    headers_.Put(stream.format.data(), stream.format.size());
    headers_.End(strf);
    if (info.szName[0] != '\0') {
        const std::size_t strn = headers_.Begin(MAKEFOURCC('s', 't', 'r', 'n'));
        headers_.Put(info.szName, std::strlen(info.szName) + 1);
        headers_.End(strn);
    }
    headers_.End(strl);
}

// A chunk goes in as JUNK and takes its id once all of it is on disk: readers skip JUNK, so a
// process killed in the middle of a write never leaves them a torn frame.
bool AviWriter::WriteChunk(DWORD ckid, const void* data, std::size_t bytes) {
    chunkHead_.Clear();
    chunkHead_.End(chunkHead_.Begin(limits_.crashSafe ? kJunk : ckid), bytes);
    iovec parts[3] = {{const_cast<char*>(chunkHead_.Bytes().data()), chunkHead_.Size()},
                      {const_cast<void*>(data), bytes},
                      {const_cast<char*>(kPad), bytes & 1}};
    if (!WriteAt(end_, parts, 3)) return false;
    if (!limits_.crashSafe) return true;
    iovec id{&ckid, sizeof ckid};
    return WriteAt(end_, &id, 1);
}

// Looked at with each periodic header rewrite: a file whose folder was deleted keeps taking
// writes that nobody will ever read.
bool AviWriter::Unlinked() const {
    struct stat status {};
    return ::fstat(fd_, &status) == 0 && status.st_nlink == 0;
}

bool AviWriter::RewriteHeaders(bool indexed) {
    RenderHeaders(indexed);
    iovec part{const_cast<char*>(headers_.Bytes().data()), headers_.Size()};
    patchDue_ = false;
    bytesSincePatch_ = 0;
    for (auto& stream : streams_) stream->samplesSincePatch = 0;
    return WriteAt(0, &part, 1);
}

// Writes every byte or reports failure (a full disk, a file size limit; SIGXFSZ must be ignored
// for the latter to come back as EFBIG); what a failed write left past end_ is overwritten by
// the next chunk or cut off by Finish.
bool AviWriter::WriteAt(std::uint64_t offset, iovec* parts, int count) {
    for (;;) {
        while (count > 0 && parts->iov_len == 0) ++parts, --count;
        if (count == 0) return true;
        ssize_t written = ::pwritev(fd_, parts, count, static_cast<off_t>(offset));
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) {
            error_ = written < 0 ? errno : ENOSPC;  // nothing written: no room left
            return false;
        }
        offset += static_cast<std::uint64_t>(written);
        auto left = static_cast<std::size_t>(written);
        while (count > 0 && left >= parts->iov_len) left -= parts->iov_len, ++parts, --count;
        if (count > 0) {
            parts->iov_base = static_cast<char*>(parts->iov_base) + left;
            parts->iov_len -= left;
        }
    }
}

bool AviWriter::WriteIndex() {
    const std::size_t bytes = index_.size() * kIndexEntryBytes;
    chunkHead_.Clear();
    chunkHead_.End(chunkHead_.Begin(MAKEFOURCC('i', 'd', 'x', '1')), bytes);
    iovec parts[2] = {{const_cast<char*>(chunkHead_.Bytes().data()), chunkHead_.Size()},
                      {index_.data(), bytes}};
    if (!WriteAt(end_, parts, 2)) return false;
    indexBytes_ = chunkHead_.Size() + bytes;
    return true;
}

// Runs from the destructor: memory refused on the way leaves the file as its last header
// rewrite made it, a file that plays up to there, and is never thrown on.
void AviWriter::Finish() {
    if (fd_ < 0) return;
    try {
        if (Committed() || Commit() == AVIERR_OK) {
            const bool indexed = WriteIndex();
            RewriteHeaders(indexed);
            // Headers first, then the cut: the file is valid at every step.
            if (::ftruncate(fd_, static_cast<off_t>(end_ + indexBytes_)) != 0) {
                // Leftovers of a failed write past the index are outside the RIFF sizes.
            }
        }
    } catch (const std::bad_alloc&) {
    }
    ::close(fd_);
    fd_ = -1;
}

}  // namespace platform
