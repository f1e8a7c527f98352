// SPDX-License-Identifier: GPL-2.0-or-later
#include <algorithm>
#include <array>
#include <cctype>

#include "resources/resources.h"

// Each file is assembled into read-only data between two labels; the build names the folder.
#define VISTREL_EMBED(symbol, file)                                  \
    asm(".section .rodata\n"                                         \
        ".balign 16\n"                                               \
        ".hidden " #symbol "\n.global " #symbol "\n" #symbol         \
        ":\n"                                                        \
        ".incbin \"" VISTREL_RESOURCE_DIR "/" file                   \
        "\"\n"                                                       \
        ".hidden " #symbol "_end\n.global " #symbol "_end\n" #symbol \
        "_end:\n"                                                    \
        ".previous\n");                                              \
    extern "C" const std::byte symbol[];                             \
    extern "C" const std::byte symbol##_end[];

VISTREL_EMBED(vistrel_resource_startup, "startup.jpg")
VISTREL_EMBED(vistrel_resource_fondd, "FondD.bmp")
VISTREL_EMBED(vistrel_resource_click, "click.wav")
VISTREL_EMBED(vistrel_resource_icon, "vistrel.png")

namespace resources {
namespace {

struct Entry {
    std::string_view name;
    std::string_view type;
    const std::byte* begin;
    const std::byte* end;
};

const std::array<Entry, 4> kEntries{{
    {"Image1", "JPEG", vistrel_resource_startup, vistrel_resource_startup_end},
    {"FondD", "BITMAP", vistrel_resource_fondd, vistrel_resource_fondd_end},
    {"click", "WAV", vistrel_resource_click, vistrel_resource_click_end},
    {"MAINICON", "ICON", vistrel_resource_icon, vistrel_resource_icon_end},
}};

bool SameName(std::string_view a, std::string_view b) {
    return std::ranges::equal(a, b, [](char x, char y) {
        return std::tolower(static_cast<unsigned char>(x)) ==
               std::tolower(static_cast<unsigned char>(y));
    });
}

}  // namespace

std::optional<std::span<const std::byte>> Find(std::string_view name, std::string_view type) {
    for (const Entry& entry : kEntries) {
        if (SameName(entry.name, name) && SameName(entry.type, type)) {
            return std::span<const std::byte>(entry.begin, entry.end);
        }
    }
    return std::nullopt;
}

}  // namespace resources
