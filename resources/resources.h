// SPDX-License-Identifier: GPL-2.0-or-later
// The resources built into the program, found by name and type as the system's resource lookup
// finds them: "click" of type "WAV", "FondD" of type "BITMAP", the start-up picture and the icon.
#pragma once

#include <QImage>
#include <cstddef>
#include <optional>
#include <span>
#include <string_view>

namespace resources {

// The bytes of the resource, or nothing when the program holds none by that name and type.
// Names and types compare without regard to letter case, as resource names do.
std::optional<std::span<const std::byte>> Find(std::string_view name, std::string_view type);

// The start-up picture that covers the video area until live display begins (900 x 700),
// decoded from its JPEG; a null image when it cannot be decoded.
QImage StartupPicture();

// The window icon.
QImage Icon();

}  // namespace resources
