// SPDX-License-Identifier: GPL-2.0-or-later
#include "capture/run_mode.h"

RunMode ParseRunMode(const QString& argument) {
    if (argument == QLatin1String("Capture")) return RunMode::Capture;
    if (argument == QLatin1String("Time")) return RunMode::Time;
    if (argument == QLatin1String("TV")) return RunMode::TV;
    return RunMode::Window;
}

bool FillsTheScreen(RunMode mode) {
    return mode == RunMode::Capture || mode == RunMode::TV;
}
