// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/avifile.h"

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <thread>
#include <unordered_map>
#include <vector>

#include "platform/avi/avi_writer.h"
#include "platform/compman.h"
#include "platform/files.h"
#include "platform/machine.h"

namespace platform {
namespace {

class FileObject {
  public:
    explicit FileObject(std::unique_ptr<AviWriter> writer) : writer_(std::move(writer)) {}
    AviWriter& Writer() { return *writer_; }

  private:
    std::unique_ptr<AviWriter> writer_;  // completes the file when the last holder lets go
};

class StreamObject {
  public:
    virtual ~StreamObject() = default;
    virtual HRESULT SetFormat(const void* format, LONG size) = 0;
    virtual HRESULT Write(const void* data, LONG bytes, DWORD flags, LONG& samples,
                          LONG& written) = 0;
};

int& LastWriteError() {
    static int error = 0;
    return error;
}

class RawStream final : public StreamObject {
  public:
    RawStream(std::shared_ptr<FileObject> file, int number)
        : file_(std::move(file)), number_(number) {}

    HRESULT SetFormat(const void* format, LONG size) override {
        return file_->Writer().SetFormat(number_, format, static_cast<std::size_t>(size));
    }

    HRESULT Write(const void* data, LONG bytes, DWORD flags, LONG& samples,
                  LONG& written) override {
        HRESULT result = file_->Writer().Write(number_, data, static_cast<std::size_t>(bytes),
                                               (flags & AVIIF_KEYFRAME) != 0, samples);
        written = result == AVIERR_OK ? bytes : 0;
        if (result == AVIERR_FILEWRITE) LastWriteError() = file_->Writer().Error();
        return result;
    }

    void SetHandler(DWORD handler) { file_->Writer().SetHandler(number_, handler); }
    DWORD Type() const { return file_->Writer().Type(number_); }

  private:
    std::shared_ptr<FileObject> file_;
    int number_;
};

// Copies a format into typed storage, so its header is read as the record it is.
std::vector<BITMAPINFOHEADER> CopyFormat(const void* format, std::size_t size) {
    std::vector<BITMAPINFOHEADER> copy((size + sizeof(BITMAPINFOHEADER) - 1) /
                                       sizeof(BITMAPINFOHEADER));
    std::memcpy(copy.data(), format, size);
    return copy;
}

std::size_t RawFrameBytes(const BITMAPINFOHEADER& format) {
    const auto width = static_cast<std::size_t>(format.biWidth);
    const auto height = static_cast<std::size_t>(std::abs(static_cast<long>(format.biHeight)));
    return (width * format.biBitCount + 31) / 32 * 4 * height;
}

// Frames written here are compressed straight from the caller's buffer into one buffer held for
// the stream's life, then written to the source stream as they come out of the compressor.
class CompressedStream final : public StreamObject {
  public:
    CompressedStream(std::shared_ptr<RawStream> source, HIC compressor, DWORD handler,
                     DWORD quality)
        : source_(std::move(source)),
          compressor_(compressor),
          handler_(handler),
          quality_(quality) {}
    CompressedStream(const CompressedStream&) = delete;
    CompressedStream& operator=(const CompressedStream&) = delete;
    ~CompressedStream() override {
        if (begun_) ICCompressEnd(compressor_);
        ICClose(compressor_);
    }

    HRESULT SetFormat(const void* format, LONG size) override;
    HRESULT Write(const void* data, LONG bytes, DWORD flags, LONG& samples, LONG& written) override;

  private:
    HRESULT Plan(std::vector<BITMAPINFOHEADER>& input, std::vector<BITMAPINFOHEADER>& output,
                 LONG& outputSize, DWORD& frameCapacity);

    std::shared_ptr<RawStream> source_;
    HIC compressor_;
    DWORD handler_;
    DWORD quality_;
    bool begun_ = false;
    std::vector<BITMAPINFOHEADER> input_;
    std::vector<BITMAPINFOHEADER> output_;
    std::vector<unsigned char> buffer_;
    std::size_t frameBytes_ = 0;
    LONG frameNumber_ = 0;
};

// The compressor's output format for `input`, and the most bytes a frame can take.
HRESULT CompressedStream::Plan(std::vector<BITMAPINFOHEADER>& input,
                               std::vector<BITMAPINFOHEADER>& output, LONG& outputSize,
                               DWORD& frameCapacity) {
    if (ICCompressQuery(compressor_, input.data(), nullptr) != ICERR_OK) return AVIERR_BADFORMAT;
    outputSize = ICCompressGetFormatSize(compressor_, input.data());
    if (outputSize < static_cast<LONG>(sizeof(BITMAPINFOHEADER))) return AVIERR_COMPRESSOR;
    output.assign((static_cast<std::size_t>(outputSize) + sizeof(BITMAPINFOHEADER) - 1) /
                      sizeof(BITMAPINFOHEADER),
                  BITMAPINFOHEADER{});
    if (ICCompressGetFormat(compressor_, input.data(), output.data()) != ICERR_OK) {
        return AVIERR_BADFORMAT;
    }
    frameCapacity = ICCompressGetSize(compressor_, input.data(), output.data());
    return frameCapacity == 0 || frameCapacity > kAviMaxFileBytes ? AVIERR_COMPRESSOR : AVIERR_OK;
}

HRESULT CompressedStream::SetFormat(const void* format, LONG size) {
    if (format == nullptr || size <= 0) return AVIERR_BADPARAM;
    if (static_cast<std::size_t>(size) < sizeof(BITMAPINFOHEADER)) return AVIERR_BADFORMAT;
    auto input = CopyFormat(format, static_cast<std::size_t>(size));
    std::vector<BITMAPINFOHEADER> output;
    LONG outputSize = 0;
    DWORD frameCapacity = 0;
    if (HRESULT plan = Plan(input, output, outputSize, frameCapacity); plan != AVIERR_OK) {
        return plan;
    }
    if (HRESULT set = source_->SetFormat(output.data(), outputSize); set != AVIERR_OK) {
        return set;
    }
    source_->SetHandler(handler_);
    if (begun_) ICCompressEnd(compressor_);
    begun_ = ICCompressBegin(compressor_, input.data(), output.data()) == ICERR_OK;
    if (!begun_) return AVIERR_COMPRESSOR;
    buffer_.assign(frameCapacity, 0);
    frameBytes_ = RawFrameBytes(input.front());
    input_ = std::move(input);
    output_ = std::move(output);
    return AVIERR_OK;
}

HRESULT CompressedStream::Write(const void* data, LONG bytes, DWORD, LONG& samples, LONG& written) {
    if (!begun_ || output_.empty()) return AVIERR_BADFORMAT;
    if (data == nullptr) return AVIERR_BADPARAM;
    if (static_cast<std::size_t>(bytes) < frameBytes_) return AVIERR_BADSIZE;
    DWORD ckid = 0;
    DWORD frameFlags = 0;
    BITMAPINFOHEADER& output = output_.front();
    if (ICCompress(compressor_, ICCOMPRESS_KEYFRAME, &output, buffer_.data(), input_.data(),
                   const_cast<void*>(data), &ckid, &frameFlags, frameNumber_, 0, quality_, nullptr,
                   nullptr) != ICERR_OK) {
        return AVIERR_COMPRESSOR;
    }
    if (output.biSizeImage > buffer_.size()) return AVIERR_INTERNAL;
    ++frameNumber_;
    return source_->Write(buffer_.data(), static_cast<LONG>(output.biSizeImage), frameFlags,
                          samples, written);
}

// Handles are numbers never given out twice, so a stale handle cannot reach a newer object. Each
// entry is the caller's references; objects also hold one another (stream -> file, compressed
// stream -> source), so an object outlives its handle while something still needs it.
template <typename T>
struct Entry {
    std::shared_ptr<T> object;
    ULONG references = 1;
};

struct Registry {
    std::unordered_map<std::uintptr_t, Entry<FileObject>> files;
    std::unordered_map<std::uintptr_t, Entry<StreamObject>> streams;
    std::uintptr_t next = 0x10000;
    int initialised = 0;
};

// Never destroyed: streams close compressors, and the compression manager's own registry may be
// gone by the time static objects are destroyed at exit.
Registry& Handles() {
    static auto* registry = new Registry;
    return *registry;
}

template <typename T>
Entry<T>* Find(std::unordered_map<std::uintptr_t, Entry<T>>& map, const void* handle) {
    auto found = map.find(reinterpret_cast<std::uintptr_t>(handle));
    return found == map.end() ? nullptr : &found->second;
}

template <typename T>
std::uintptr_t Add(std::unordered_map<std::uintptr_t, Entry<T>>& map, std::shared_ptr<T> object) {
    std::uintptr_t handle = Handles().next++;
    map.emplace(handle, Entry<T>{std::move(object)});
    return handle;
}

template <typename T>
ULONG AddRef(std::unordered_map<std::uintptr_t, Entry<T>>& map, const void* handle) {
    Entry<T>* entry = Find(map, handle);
    return entry == nullptr ? 0 : ++entry->references;
}

template <typename T>
ULONG Release(std::unordered_map<std::uintptr_t, Entry<T>>& map, const void* handle) {
    Entry<T>* entry = Find(map, handle);
    if (entry == nullptr) return 0;
    if (--entry->references > 0) return entry->references;
    // Erase before the object goes: completing a file may take a while, and must not see a
    // half-removed entry.
    std::shared_ptr<T> object = std::move(entry->object);
    map.erase(reinterpret_cast<std::uintptr_t>(handle));
    return 0;
}

StreamObject* FindStream(PAVISTREAM stream) {
    Entry<StreamObject>* entry = Find(Handles().streams, stream);
    return entry == nullptr ? nullptr : entry->object.get();
}

HRESULT MakeCompressed(const std::shared_ptr<StreamObject>& source,
                       const AVICOMPRESSOPTIONS& options, std::shared_ptr<StreamObject>& made) {
    auto raw = std::dynamic_pointer_cast<RawStream>(source);
    if (raw == nullptr || raw->Type() != streamtypeVIDEO) return AVIERR_NOCOMPRESSOR;
    HIC compressor = ICOpen(ICTYPE_VIDEO, options.fccHandler, ICMODE_COMPRESS);
    if (compressor == nullptr) return AVIERR_NOCOMPRESSOR;
    if (options.lpParms != nullptr && options.cbParms > 0) {
        ICSetState(compressor, options.lpParms, options.cbParms);
    }
    ICINFO info{};
    ICGetInfo(compressor, &info, sizeof info);
    const DWORD handler = info.fccHandler != 0 ? info.fccHandler : options.fccHandler;
    made =
        std::make_shared<CompressedStream>(std::move(raw), compressor, handler, options.dwQuality);
    return AVIERR_OK;
}

}  // namespace

int LastAviWriteError() {
    return LastWriteError();
}

}  // namespace platform

using namespace platform;

void AVIFileInit() {
    ++Handles().initialised;
}

void AVIFileExit() {
    if (Handles().initialised > 0) --Handles().initialised;
}

HRESULT AVIFileOpenA(PAVIFILE* file, LPCSTR path, UINT mode, LPCLSID handler) {
    if (file == nullptr) return AVIERR_BADPARAM;
    *file = nullptr;
    if (path == nullptr) return AVIERR_BADPARAM;
    if ((mode & OF_CREATE) == 0 || handler != nullptr) return AVIERR_UNSUPPORTED;
    std::unique_ptr<AviWriter> writer;
    int reason = 0;
    if (HRESULT created = AviWriter::Create(HostPath(path), writer, reason); created != AVIERR_OK) {
        LastWriteError() = reason;
        return created;
    }
    auto object = std::make_shared<FileObject>(std::move(writer));
    *file = reinterpret_cast<PAVIFILE>(Add(Handles().files, std::move(object)));
    return AVIERR_OK;
}

HRESULT AVIFileCreateStreamA(PAVIFILE file, PAVISTREAM* stream, AVISTREAMINFOA* info) {
    if (stream == nullptr) return AVIERR_BADPARAM;
    *stream = nullptr;
    Entry<FileObject>* entry = Find(Handles().files, file);
    if (entry == nullptr) return AVIERR_BADHANDLE;
    if (info == nullptr) return AVIERR_BADPARAM;
    int number = 0;
    if (HRESULT added = entry->object->Writer().AddStream(*info, number); added != AVIERR_OK) {
        return added;
    }
    auto object = std::make_shared<RawStream>(entry->object, number);
    *stream = reinterpret_cast<PAVISTREAM>(Add<StreamObject>(Handles().streams, object));
    return AVIERR_OK;
}

HRESULT AVIMakeCompressedStream(PAVISTREAM* compressed, PAVISTREAM source,
                                AVICOMPRESSOPTIONS* options, CLSID* handler) {
    if (compressed == nullptr) return AVIERR_BADPARAM;
    *compressed = nullptr;
    Entry<StreamObject>* entry = Find(Handles().streams, source);
    if (entry == nullptr) return AVIERR_BADHANDLE;
    if (options == nullptr) return AVIERR_BADPARAM;
    if (handler != nullptr) return AVIERR_UNSUPPORTED;
    std::shared_ptr<StreamObject> made;
    if (HRESULT result = MakeCompressed(entry->object, *options, made); result != AVIERR_OK) {
        return result;
    }
    *compressed = reinterpret_cast<PAVISTREAM>(Add(Handles().streams, std::move(made)));
    return AVIERR_OK;
}

HRESULT AVIStreamSetFormat(PAVISTREAM stream, LONG position, LPVOID format, LONG formatSize) {
    StreamObject* object = FindStream(stream);
    if (object == nullptr) return AVIERR_BADHANDLE;
    if (position != 0) return AVIERR_UNSUPPORTED;
    if (format == nullptr || formatSize <= 0) return AVIERR_BADPARAM;
    return object->SetFormat(format, formatSize);
}

namespace {

// The scripted slow disk: the first write made `atMs` or more after the run's first write takes
// `forMs` longer.
void HoldScriptedWrite() {
    static std::optional<std::chrono::steady_clock::time_point> first;
    static bool held = false;
    const std::optional<platform::ScriptedStall>& stall = platform::Machine().user.stall;
    if (held || !stall || stall->kind != platform::ScriptedStall::Kind::Write) return;
    const auto now = std::chrono::steady_clock::now();
    if (!first) first = now;
    if (now - *first < std::chrono::milliseconds(stall->atMs)) return;
    held = true;
    std::this_thread::sleep_for(std::chrono::milliseconds(stall->forMs));
}

}  // namespace

HRESULT AVIStreamWrite(PAVISTREAM stream, LONG, LONG samples, LPVOID data, LONG bytes, DWORD flags,
                       LONG* samplesWritten, LONG* bytesWritten) {
    LONG addedSamples = 0;
    LONG addedBytes = 0;
    HRESULT result = AVIERR_BADHANDLE;
    HoldScriptedWrite();
    if (StreamObject* object = FindStream(stream)) {
        result = samples < 0 || bytes < 0
                     ? AVIERR_BADPARAM
                     : object->Write(data, bytes, flags, addedSamples, addedBytes);
    }
    if (samplesWritten != nullptr) *samplesWritten = addedSamples;
    if (bytesWritten != nullptr) *bytesWritten = addedBytes;
    return result;
}

ULONG AVIFileAddRef(PAVIFILE file) {
    return AddRef(Handles().files, file);
}
ULONG AVIFileRelease(PAVIFILE file) {
    return Release(Handles().files, file);
}
ULONG AVIStreamAddRef(PAVISTREAM stream) {
    return AddRef(Handles().streams, stream);
}
ULONG AVIStreamRelease(PAVISTREAM stream) {
    return Release(Handles().streams, stream);
}
