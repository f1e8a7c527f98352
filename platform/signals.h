// SPDX-License-Identifier: GPL-2.0-or-later
// The system's requests to end the program (SIGTERM, SIGINT, SIGHUP), turned into a call on the
// GUI thread's event loop, where the program can end the way its user would end it.
#pragma once

#include <functional>

namespace platform {

// From now on, the first of SIGTERM, SIGINT or SIGHUP calls `onRequest` from the event loop of
// the calling thread (which must run a QCoreApplication's loop, nested loops included). Any of
// them again within 3 seconds of that first one is the same request sent twice (`timeout`
// signals the process and then its group; a closing terminal may hang up twice) and is ignored,
// so the orderly end runs to its close; one coming later ends the process at once, killed by
// that signal. A SIGHUP ignored when the process started (`nohup`) stays ignored. SIGXFSZ is
// ignored, so a write past the file size limit (`ulimit -f`) fails with EFBIG instead of killing
// the program. Call it once, after the QCoreApplication is made.
void HandleSystemSignals(std::function<void()> onRequest);

}  // namespace platform
