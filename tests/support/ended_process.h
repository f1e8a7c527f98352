// SPDX-License-Identifier: GPL-2.0-or-later
// A process number nobody holds: that of a child which has ended and been waited for, as a
// program killed mid-save leaves behind.
#pragma once

#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

inline pid_t EndedProcess() {
    const pid_t child = ::fork();
    if (child == 0) ::_exit(0);
    ::waitpid(child, nullptr, 0);
    return child;
}
