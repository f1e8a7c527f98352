// SPDX-License-Identifier: GPL-2.0-or-later
// Memory the system refuses ends the program with a message, never a hang.
#pragma once

// Qt splits the scaling and the conversion of large pictures over its global thread pool and
// waits for every part; a pool thread that cannot be made (its stack refused) never runs its part,
// and that wait never ends. The pool's threads are made here, once, with small stacks, and kept
// for the whole run. False, after its message, when they could not all be made.
bool StartImageThreads();

// An allocation refused where nothing can answer it (Qt's own code, an event handler) ends the
// program with one line on standard error instead of an abort and its core dump.
void EndOnRefusedMemory();
