// SPDX-License-Identifier: GPL-2.0-or-later
// The user's own folders as the desktop names them (xdg-user-dirs).
#pragma once

#include <string>

namespace platform {

// The videos folder of the user whose home is `home`, as $XDG_CONFIG_HOME/user-dirs.dirs (or
// ~/.config/user-dirs.dirs) names it; empty when it names none, names the home itself, or names
// a folder that is not there.
std::string UserVideosFolder(const std::string& home);

}  // namespace platform
