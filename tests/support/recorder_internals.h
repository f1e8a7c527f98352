// SPDX-License-Identifier: GPL-2.0-or-later
// What tests and benchmarks need of a Recorder beyond its public face: its state, to put it where
// a long capture would have taken it (a file of 2 GB, a drift), and events that are only
// remembered.
#pragma once

#include <string>
#include <vector>

#include "recording/recorder.h"

struct RecorderInternals {
    static RecordingState& State(Recorder& recorder) { return recorder.state_; }
};

namespace support {

// Every event a recording sends, kept in order of kind.
struct RememberedEvents : RecorderEvents {
    void FileNamed(const QString& path) override { names.push_back(path); }
    void LogLines(const QStringList& lines) override { log += lines; }
    void Tell(const std::string& text, bool warning) override {
        texts.push_back(text);
        warnings += warning ? 1 : 0;
    }
    void StopCapture() override { ++stops; }

    std::vector<QString> names;
    QStringList log;
    std::vector<std::string> texts;
    int warnings = 0;
    int stops = 0;
};

}  // namespace support
