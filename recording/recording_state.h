// SPDX-License-Identifier: GPL-2.0-or-later
// What a recording knows while it runs: its counters, its drift between picture and sound, the
// file being written and the names of the files to come. The Recorder keeps it; the window's
// status line and the tests read it.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

// FileBytes div 1024 at which a file is full: 2,099,200,000 bytes, under the AVI 1.0 limit with
// room left for the headers and the index.
constexpr std::uint32_t kFullFileKiB = 2'050'000;

struct RecordingState {
    // A write the disk refused (full, past a size limit, failing) ends the capture as the abort
    // key does; what is said about it waits for the end of the capture.
    struct WriteFailure {
        bool Met = false;
        int Error = 0;       // the system's reason, 0 when it gave none
        std::string File;    // the file the write was for
        bool Empty = false;  // whether that file had taken nothing yet
    };

    // Each counter wraps at its own width, and the status line and the log show it so: a 16-bit
    // frame limit reads the low 16 bits of the number typed, a file number goes from 65535 to 0.
    bool FileOpen = false;                // the present file has been opened (or its open tried)
    std::int32_t FileVideoFrames = 0;     // frames written to the present file
    std::int32_t FileAudioBlocks = 0;     // sound buffers written to the present file
    std::uint32_t CaptureFrames = 0;      // frames delivered since the capture began
    std::uint16_t FileIndex = 0;          // the present file's number in its name
    std::uint32_t FileBytes = 0;          // bytes written to the present file
    std::int32_t VideoTimeMs = 0;         // the present file's picture length
    std::int32_t AudioTimeMs = 0;         // the present file's sound length
    std::int32_t Drift = 0;               // picture ahead of sound, in ms
    bool DropPending = false;             // the next frame is left out, the picture being ahead
    bool InsertPending = false;           // the next frame is written twice, the sound being ahead
    std::uint32_t DropCount = 0;          // frames left out for the drift
    std::uint32_t InsertCount = 0;        // frames written twice for the drift
    std::uint32_t DriverDropCount = 0;    // frames the driver says it lost
    std::int32_t TotalDefect = 0;         // drift of finished files not yet paid back, in ms
    std::uint16_t SyncPeriod = 0;         // frames between two looks at the drift
    std::uint64_t CaptureSoundBytes = 0;  // sound delivered since the capture began
    std::optional<std::uint32_t> LastFrameTimeMs;  // when the previous frame was captured
    std::array<char, 256> CurrentFilePath{};       // the present file's name, zero-terminated
    // Set by a roll-over while the full file, still open, waits for the next frame to replace
    // it: it takes the sound that comes meanwhile but is not rolled over again.
    bool FullFileWaiting = false;
    WriteFailure WriteFailed;

    // A new capture: its counters from zero, the drift looked at every 250 frames at first, no
    // refused write. The files' names and the log stay until the capture has been accepted.
    void ResetForCapture();
    // A capture accepted: no file open or waiting, its names counted again from 0.
    void ResetFileNames();
    // A file just opened: its own counts from zero, no drift carried into it, marked open.
    void ResetForFile();
};
