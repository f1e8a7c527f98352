// SPDX-License-Identifier: GPL-2.0-or-later
// The benchmark program's own folder on the disk the recordings go to (not /dev/shm: the disk's
// cost is part of what is measured), made at first use and removed with its files at exit.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <string>

#include "platform/files.h"

struct Scratch {
    Scratch() {
        std::string pattern = "/var/tmp/vistrel_bench_XXXXXX";
        folder = mkdtemp(pattern.data());
    }
    ~Scratch() { std::filesystem::remove_all(folder); }
    std::string Host(const char* name) const { return folder + "/" + name; }
    std::string Windows(const char* name) const { return platform::WindowsPath(Host(name)); }
    std::string folder;
};

inline Scratch& TheScratch() {
    static Scratch scratch;
    return scratch;
}
