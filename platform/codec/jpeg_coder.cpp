// SPDX-License-Identifier: GPL-2.0-or-later
// libjpeg with its own API: an error manager that jumps back instead of exiting, a destination
// that writes into the caller's buffer without ever growing it, and a memory manager whose
// per-picture pool is a bump arena kept from picture to picture. libjpeg frees that pool at the
// end of every picture and builds it again for the next one; the arena only rewinds, so after
// the first picture of a size nothing is allocated. The permanent pool and the whole-image
// arrays (progressive pictures only) stay with libjpeg's own manager.
#include "platform/codec/jpeg_coder.h"

#include <algorithm>
#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

// jpeglib.h needs size_t and FILE declared before it.
#include <jerror.h>
#include <jpeglib.h>

namespace platform {
namespace {

// Every piece is aligned and rounded to this (libjpeg's SIMD code reads whole aligned vectors,
// up to the next alignment past a row's end).
constexpr std::size_t kAlign = 64;
// Sample rows are rounded to twice that: upsampling by 2 writes past a row's nominal end.
constexpr std::size_t kSampleRowAlign = 2 * kAlign;
constexpr std::size_t kFirstBlock = 64 * 1024;
constexpr std::size_t kLargestRequest = std::size_t{1} << 30;
constexpr int kMaxBlocks = 32;
constexpr int kMaxScans = 500;

std::size_t RoundUp(std::size_t n, std::size_t to) {
    return (n + to - 1) / to * to;
}

// The per-picture pool. Blocks are added while a picture needs more; at the pool's release the
// arena rewinds, and if the picture took more than one block they become one of the size the
// picture used, so that the next picture of that size fits without allocating.
class Arena {
  public:
    Arena() = default;
    Arena(const Arena&) = delete;
    Arena& operator=(const Arena&) = delete;
    ~Arena() { FreeAll(); }

    // Null when memory is short.
    void* Take(std::size_t size) {
        if (size > kLargestRequest) return nullptr;
        size = RoundUp(std::max<std::size_t>(size, 1), kAlign);
        while (current_ < count_ && blocks_[current_].size - offset_ < size) {
            ++current_;
            offset_ = 0;
        }
        if (current_ == count_ && !Add(std::max({size, kFirstBlock, Capacity()}))) return nullptr;
        unsigned char* piece = blocks_[current_].data + offset_;
        offset_ += size;
        taken_ += size;
        return piece;
    }

    void Rewind() {
        if (count_ > 1) {
            const std::size_t needed = taken_;
            FreeAll();
            Add(needed);  // without it, the next picture adds blocks again
        }
        current_ = 0;
        offset_ = 0;
        taken_ = 0;
    }

  private:
    struct Block {
        void* allocated = nullptr;
        unsigned char* data = nullptr;  // aligned within it
        std::size_t size = 0;
    };

    std::size_t Capacity() const {
        std::size_t total = 0;
        for (int i = 0; i < count_; ++i) total += blocks_[i].size;
        return total;
    }

    bool Add(std::size_t size) {
        if (count_ == kMaxBlocks) return false;
        size = RoundUp(size, kAlign);
        void* allocated = std::malloc(size + kAlign);
        if (allocated == nullptr) return false;
        const auto address = reinterpret_cast<std::uintptr_t>(allocated);
        auto* data = reinterpret_cast<unsigned char*>(RoundUp(address, kAlign));
        blocks_[count_++] = {allocated, data, size};
        return true;
    }

    void FreeAll() {
        for (int i = 0; i < count_; ++i) std::free(blocks_[i].allocated);
        count_ = 0;
    }

    Block blocks_[kMaxBlocks];
    int count_ = 0;
    int current_ = 0;
    std::size_t offset_ = 0;
    std::size_t taken_ = 0;  // by the current picture, rounded
};

// What a coder hands libjpeg: the arena and libjpeg's own functions for the other pools.
struct Memory {
    Arena arena;
    decltype(jpeg_memory_mgr::alloc_small) allocSmall = nullptr;
    decltype(jpeg_memory_mgr::alloc_large) allocLarge = nullptr;
    decltype(jpeg_memory_mgr::alloc_sarray) allocSarray = nullptr;
    decltype(jpeg_memory_mgr::alloc_barray) allocBarray = nullptr;
    decltype(jpeg_memory_mgr::free_pool) freePool = nullptr;
};

Memory& MemoryOf(j_common_ptr info) {
    return *static_cast<Memory*>(info->client_data);
}

// Returns only with memory: when it is short, libjpeg's error exit jumps back to the coder.
void* FromArena(j_common_ptr info, std::size_t size) {
    void* piece = MemoryOf(info).arena.Take(size);
    if (piece == nullptr) ERREXIT1(info, JERR_OUT_OF_MEMORY, 0);
    return piece;
}

void* AllocSmall(j_common_ptr info, int pool, std::size_t size) {
    if (pool != JPOOL_IMAGE) return MemoryOf(info).allocSmall(info, pool, size);
    return FromArena(info, size);
}

void* AllocLarge(j_common_ptr info, int pool, std::size_t size) {
    if (pool != JPOOL_IMAGE) return MemoryOf(info).allocLarge(info, pool, size);
    return FromArena(info, size);
}

// Row pointers, then the rows in one piece.
template <typename Row>
Row* Rows(j_common_ptr info, std::size_t rowBytes, JDIMENSION rows) {
    if (rows != 0 && rowBytes > kLargestRequest / rows) ERREXIT1(info, JERR_OUT_OF_MEMORY, 1);
    auto* pointers = static_cast<Row*>(FromArena(info, std::size_t{rows} * sizeof(Row)));
    auto* data = static_cast<unsigned char*>(FromArena(info, rowBytes * rows));
    for (JDIMENSION i = 0; i < rows; ++i) pointers[i] = reinterpret_cast<Row>(data + i * rowBytes);
    return pointers;
}

JSAMPARRAY AllocSarray(j_common_ptr info, int pool, JDIMENSION samples, JDIMENSION rows) {
    if (pool != JPOOL_IMAGE) return MemoryOf(info).allocSarray(info, pool, samples, rows);
    return Rows<JSAMPROW>(info, RoundUp(std::size_t{samples} * sizeof(JSAMPLE), kSampleRowAlign),
                          rows);
}

JBLOCKARRAY AllocBarray(j_common_ptr info, int pool, JDIMENSION blocks, JDIMENSION rows) {
    if (pool != JPOOL_IMAGE) return MemoryOf(info).allocBarray(info, pool, blocks, rows);
    return Rows<JBLOCKROW>(info, std::size_t{blocks} * sizeof(JBLOCK), rows);
}

// libjpeg's own release runs too: it frees what its own functions put in the pool (the
// whole-image arrays).
void FreePool(j_common_ptr info, int pool) {
    Memory& memory = MemoryOf(info);
    if (pool == JPOOL_IMAGE) memory.arena.Rewind();
    memory.freePool(info, pool);
}

void InstallArena(j_common_ptr info, Memory& memory) {
    jpeg_memory_mgr& manager = *info->mem;
    memory.allocSmall = manager.alloc_small;
    memory.allocLarge = manager.alloc_large;
    memory.allocSarray = manager.alloc_sarray;
    memory.allocBarray = manager.alloc_barray;
    memory.freePool = manager.free_pool;
    info->client_data = &memory;
    manager.alloc_small = AllocSmall;
    manager.alloc_large = AllocLarge;
    manager.alloc_sarray = AllocSarray;
    manager.alloc_barray = AllocBarray;
    manager.free_pool = FreePool;
}

// libjpeg's errors jump back to the guarded call; its warnings (corrupt data it can decode
// around) are counted by the standard emitter and printed nowhere.
struct Errors {
    jpeg_error_mgr manager{};
    std::jmp_buf jump{};
};

[[noreturn]] void JumpBack(j_common_ptr info) {
    std::longjmp(reinterpret_cast<Errors*>(info->err)->jump, 1);
}

void Silent(j_common_ptr) {}

void InstallErrors(Errors& errors, jpeg_error_mgr*& err) {
    err = jpeg_std_error(&errors.manager);
    errors.manager.error_exit = JumpBack;
    errors.manager.output_message = Silent;
}

// Row pointers handed to libjpeg per call, kept on the stack: libjpeg works through at most one
// unit of rows (16 at most) per call anyway.
constexpr int kRowBatch = 16;

void PointRows(const JpegPixels& p, JDIMENSION first, int count, JSAMPROW* rows) {
    for (int i = 0; i < count; ++i) {
        const std::ptrdiff_t y = std::ptrdiff_t(first) + i;
        const std::ptrdiff_t inMemory = p.bottomUp ? p.height - 1 - y : y;
        rows[i] = p.first + inMemory * p.stride;
    }
}

}  // namespace

std::size_t JpegBound(int width, int height) {
    // Every 8 × 8 block at most 128 bytes, over a picture padded to whole 16 × 16 units, at full
    // chroma; then the headers.
    const auto padded = [](int side) { return RoundUp(std::size_t(std::max(side, 1)), 16); };
    return padded(width) * padded(height) * 6 + 2048;
}

// ---- compression ----

struct JpegCompressor::Coder {
    jpeg_compress_struct info{};
    Errors errors;
    Memory memory;
    jpeg_destination_mgr destination{};
    bool created = false;
};

namespace {

// The buffer holds the most a picture can take; running out of it is an error.
boolean OutputFull(j_compress_ptr info) {
    ERREXIT(info, JERR_BUFFER_SIZE);
    return FALSE;
}

void Nothing(j_compress_ptr) {}

struct CompressJob {
    const JpegPixels* picture;
    JpegChroma chroma;
    int quality;
};

// The settings of libjpeg-turbo's own simple interface, so that frames come out as before:
// its fast integer DCT below quality 96, the accurate one from 96.
void SetUp(jpeg_compress_struct& info, const JpegPixels& p, JpegChroma chroma, int quality) {
    info.image_width = JDIMENSION(p.width);
    info.image_height = JDIMENSION(p.height);
    info.input_components = p.bytesPerPixel;
    info.in_color_space = p.bytesPerPixel == 4 ? JCS_EXT_BGRX : JCS_EXT_BGR;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, quality, TRUE);
    info.dct_method = quality >= 96 ? JDCT_ISLOW : JDCT_FASTEST;
    jpeg_set_colorspace(&info, JCS_YCbCr);
    info.comp_info[0].h_samp_factor = chroma == JpegChroma::k444 ? 1 : 2;
    info.comp_info[0].v_samp_factor = chroma == JpegChroma::k420 ? 2 : 1;
    for (int c = 1; c < 3; ++c) {
        info.comp_info[c].h_samp_factor = 1;
        info.comp_info[c].v_samp_factor = 1;
    }
}

void CompressRows(jpeg_compress_struct& info, const CompressJob& job) {
    SetUp(info, *job.picture, job.chroma, job.quality);
    jpeg_start_compress(&info, TRUE);
    JSAMPROW rows[kRowBatch];
    while (info.next_scanline < info.image_height) {
        const int count =
            int(std::min<JDIMENSION>(kRowBatch, info.image_height - info.next_scanline));
        PointRows(*job.picture, info.next_scanline, count, rows);
        jpeg_write_scanlines(&info, rows, JDIMENSION(count));
    }
    jpeg_finish_compress(&info);
}

// Nothing with a destructor lives in a frame a longjmp leaves.
bool GuardedCompress(jpeg_compress_struct* info, const CompressJob* job) {
    if (setjmp(reinterpret_cast<Errors*>(info->err)->jump) != 0) {
        jpeg_abort_compress(info);
        return false;
    }
    CompressRows(*info, *job);
    return true;
}

bool GuardedCreate(jpeg_compress_struct* info) {
    if (setjmp(reinterpret_cast<Errors*>(info->err)->jump) != 0) return false;
    jpeg_create_compress(info);
    return true;
}

}  // namespace

JpegCompressor::JpegCompressor() : coder_(std::make_unique<Coder>()) {
    InstallErrors(coder_->errors, coder_->info.err);
    coder_->created = GuardedCreate(&coder_->info);
    if (!coder_->created) return;
    InstallArena(reinterpret_cast<j_common_ptr>(&coder_->info), coder_->memory);
    coder_->destination.init_destination = Nothing;
    coder_->destination.empty_output_buffer = OutputFull;
    coder_->destination.term_destination = Nothing;
    coder_->info.dest = &coder_->destination;
}

JpegCompressor::~JpegCompressor() {
    if (coder_->created) jpeg_destroy_compress(&coder_->info);
}

bool JpegCompressor::Usable() const {
    return coder_->created;
}

std::size_t JpegCompressor::Compress(const JpegPixels& picture, JpegChroma chroma, int quality,
                                     unsigned char* out, std::size_t capacity) {
    if (!coder_->created || out == nullptr || capacity == 0 || picture.first == nullptr ||
        picture.width < 1 || picture.height < 1 || quality < 1 || quality > 100) {
        return 0;
    }
    coder_->destination.next_output_byte = out;
    coder_->destination.free_in_buffer = capacity;
    const CompressJob job{&picture, chroma, quality};
    if (!GuardedCompress(&coder_->info, &job)) return 0;
    return capacity - coder_->destination.free_in_buffer;
}

// ---- decoding ----

struct JpegDecompressor::Coder {
    jpeg_decompress_struct info{};
    Errors errors;
    Memory memory;
    jpeg_progress_mgr progress{};
    bool created = false;
};

namespace {

// Called between scans too; a scan number beyond the limit fails the picture.
void CountScans(j_common_ptr common) {
    auto* info = reinterpret_cast<j_decompress_ptr>(common);
    if (info->input_scan_number > kMaxScans) JumpBack(common);
}

struct DecodeJob {
    const unsigned char* jpeg;
    std::size_t size;
    const JpegPixels* target;  // null: the header only
    bool fast;
    int width = 0;  // read from the header
    int height = 0;
};

// False when the picture is not the target's size.
bool DecodeRows(jpeg_decompress_struct& info, DecodeJob& job) {
    info.err->num_warnings = 0;
    jpeg_mem_src(&info, job.jpeg, static_cast<unsigned long>(job.size));
    jpeg_read_header(&info, TRUE);
    job.width = int(info.image_width);
    job.height = int(info.image_height);
    const JpegPixels* target = job.target;
    if (target == nullptr || job.width != target->width || job.height != target->height) {
        jpeg_abort_decompress(&info);
        return false;
    }
    info.out_color_space = target->bytesPerPixel == 4 ? JCS_EXT_BGRA : JCS_EXT_BGR;
    if (job.fast) {
        info.dct_method = JDCT_FASTEST;
        info.do_fancy_upsampling = FALSE;
    }
    jpeg_start_decompress(&info);
    JSAMPROW rows[kRowBatch];
    while (info.output_scanline < info.output_height) {
        const int count =
            int(std::min<JDIMENSION>(kRowBatch, info.output_height - info.output_scanline));
        PointRows(*target, info.output_scanline, count, rows);
        jpeg_read_scanlines(&info, rows, JDIMENSION(count));
    }
    jpeg_finish_decompress(&info);
    return true;
}

JpegOutcome GuardedDecode(jpeg_decompress_struct* info, DecodeJob* job) {
    if (setjmp(reinterpret_cast<Errors*>(info->err)->jump) != 0) {
        jpeg_abort_decompress(info);
        return JpegOutcome::kFailed;
    }
    if (!DecodeRows(*info, *job)) return JpegOutcome::kOtherSize;
    return info->err->num_warnings > 0 ? JpegOutcome::kPartial : JpegOutcome::kComplete;
}

bool GuardedCreate(jpeg_decompress_struct* info) {
    if (setjmp(reinterpret_cast<Errors*>(info->err)->jump) != 0) return false;
    jpeg_create_decompress(info);
    return true;
}

}  // namespace

JpegDecompressor::JpegDecompressor() : coder_(std::make_unique<Coder>()) {
    InstallErrors(coder_->errors, coder_->info.err);
    coder_->created = GuardedCreate(&coder_->info);
    if (!coder_->created) return;
    InstallArena(reinterpret_cast<j_common_ptr>(&coder_->info), coder_->memory);
    coder_->progress.progress_monitor = CountScans;
    coder_->info.progress = &coder_->progress;
}

JpegDecompressor::~JpegDecompressor() {
    if (coder_->created) jpeg_destroy_decompress(&coder_->info);
}

bool JpegDecompressor::Usable() const {
    return coder_->created;
}

bool JpegDecompressor::ReadSize(const unsigned char* jpeg, std::size_t size, int& width,
                                int& height) {
    if (!coder_->created || jpeg == nullptr || size == 0) return false;
    DecodeJob job{jpeg, size, nullptr, false};
    if (GuardedDecode(&coder_->info, &job) == JpegOutcome::kFailed) return false;
    width = job.width;
    height = job.height;
    return width >= 1 && height >= 1 && coder_->info.jpeg_color_space != JCS_UNKNOWN;
}

JpegOutcome JpegDecompressor::Decode(const unsigned char* jpeg, std::size_t size,
                                     const JpegPixels& target, bool fast) {
    if (!coder_->created || jpeg == nullptr || size == 0 || target.first == nullptr) {
        return JpegOutcome::kFailed;
    }
    DecodeJob job{jpeg, size, &target, fast};
    return GuardedDecode(&coder_->info, &job);
}

}  // namespace platform
