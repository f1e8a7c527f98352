// SPDX-License-Identifier: GPL-2.0-or-later
// What the command line settles before any window exists: a short usage or the version, the Qt
// platform the program runs on, and whether it has a display to run on.
#pragma once

#include <QByteArray>
#include <QStringList>
#include <optional>

// "--help" or "--version" as the first argument prints on standard output and gives main its exit
// status (0); any other first argument keeps its meaning. Otherwise chooses the Qt platform for
// this process (see XcbWanted) before QApplication exists, and when that platform would find no
// display (see XDisplayMissing) says so in one line on standard error and gives the status 1.
std::optional<int> HandleCommandLine(int argc, char** argv);

// The program places its window, switches the display mode and parks the cursor, which a Wayland
// client may not do: on a Wayland session (WAYLAND_DISPLAY set or XDG_SESSION_TYPE "wayland") it
// runs through XWayland, unless the user chose a platform (QT_QPA_PLATFORM set, or "-platform" /
// "--platform" among the arguments).
bool XcbWanted(const QByteArray& waylandDisplay, const QByteArray& sessionType,
               const QByteArray& qpaPlatform, const QStringList& arguments);

// The platform is X11 (Qt's default here, "xcb" in QT_QPA_PLATFORM or after "-platform") and no
// X display is named, neither by DISPLAY nor by Qt's "-display" argument.
bool XDisplayMissing(const QByteArray& display, const QByteArray& qpaPlatform,
                     const QStringList& arguments);
