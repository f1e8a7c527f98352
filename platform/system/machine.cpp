// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/machine.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <limits>
#include <map>
#include <set>
#include <string_view>
#include <utility>

#include "platform/capture/capture_drivers.h"
#include "platform/files.h"
#include "platform/system/user_dirs.h"

namespace platform {
namespace {

constexpr DWORD kMjpg = MAKEFOURCC('M', 'J', 'P', 'G');
constexpr int kLargestSide = 16384;
constexpr double kLargestSkewPpm = 100000;
constexpr std::size_t kLargestFile = 1 << 20;

// Only these have (or can be faked as having) a compressor; the compression manager decides
// whether an installed one really exists.
const std::set<std::string> kKnownCodecs{"MJPG", "DIVX"};

std::string Trim(std::string_view s) {
    const auto first = s.find_first_not_of(" \t");
    if (first == std::string_view::npos) return {};
    const auto last = s.find_last_not_of(" \t");
    return std::string(s.substr(first, last - first + 1));
}

std::string Lower(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

std::string Upper(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return out;
}

std::vector<std::string> SplitLines(std::string_view text) {
    if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);
    std::vector<std::string> lines;
    std::string line;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c != '\r' && c != '\n') {
            line += c;
            continue;
        }
        lines.push_back(std::move(line));
        line.clear();
        if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
    }
    if (!line.empty()) lines.push_back(std::move(line));
    return lines;
}

// A comment starts a line or follows a blank, so a folder such as "/data/take#2" keeps its '#'.
std::string_view StripComment(std::string_view line) {
    for (std::size_t i = 0; i < line.size(); ++i) {
        const bool marker = line[i] == ';' || line[i] == '#';
        if (marker && (i == 0 || line[i - 1] == ' ' || line[i - 1] == '\t'))
            return line.substr(0, i);
    }
    return line;
}

std::vector<std::string> Words(std::string_view s) {
    std::vector<std::string> words;
    std::string word;
    for (const char c : s) {
        if (c == ' ' || c == '\t' || c == ',') {
            if (!word.empty()) words.push_back(std::move(word));
            word.clear();
        } else {
            word += c;
        }
    }
    if (!word.empty()) words.push_back(std::move(word));
    return words;
}

template <typename T>
std::optional<T> ParseNumber(std::string_view s) {
    T value{};
    const char* end = s.data() + s.size();
    const auto [stop, error] = std::from_chars(s.data(), end, value);
    if (s.empty() || error != std::errc{} || stop != end) return std::nullopt;
    return value;
}

std::optional<bool> ParseYesNo(std::string_view s) {
    const std::string word = Lower(s);
    if (word == "yes" || word == "true" || word == "on" || word == "1") return true;
    if (word == "no" || word == "false" || word == "off" || word == "0") return false;
    return std::nullopt;
}

// A reader of whole numbers from `low` to `high`.
template <typename T>
auto InRange(T low, T high) {
    return [=](std::string_view s) -> std::optional<T> {
        const auto value = ParseNumber<T>(s);
        if (!value || *value < low || *value > high) return std::nullopt;
        return value;
    };
}

std::optional<long> ParseCount(std::string_view s) {
    return InRange(0L, std::numeric_limits<long>::max())(s);
}

std::optional<FrameSize> ParseSize(std::string_view s) {
    const auto x = s.find_first_of("xX");
    if (x == std::string_view::npos) return std::nullopt;
    const auto side = InRange(1, kLargestSide);
    const auto width = side(s.substr(0, x));
    const auto height = side(s.substr(x + 1));
    if (!width || !height) return std::nullopt;
    return FrameSize{*width, *height};
}

std::optional<std::vector<FrameSize>> ParseSizes(std::string_view s) {
    std::vector<FrameSize> sizes;
    for (const std::string& word : Words(s)) {
        const auto size = ParseSize(word);
        if (!size) return std::nullopt;
        sizes.push_back(*size);
    }
    return sizes;
}

std::string SizeText(FrameSize size) {
    return std::to_string(size.width) + "x" + std::to_string(size.height);
}

std::string SizesText(const std::vector<FrameSize>& sizes) {
    if (sizes.empty()) return "none";
    std::string text;
    for (const FrameSize& size : sizes) text += (text.empty() ? "" : " ") + SizeText(size);
    return text;
}

std::string NumberText(double value) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%g", value);
    return buffer;
}

std::optional<UINT> ParseDriveType(std::string_view s) {
    const std::string word = Lower(s);
    if (word == "fixed") return DRIVE_FIXED;
    if (word == "removable") return DRIVE_REMOVABLE;
    if (word == "remote") return DRIVE_REMOTE;
    if (word == "cdrom") return DRIVE_CDROM;
    if (word == "ramdisk") return DRIVE_RAMDISK;
    return std::nullopt;
}

std::optional<char> ParseDriveLetter(std::string_view key) {
    if (key.size() == 2 && key[1] == ':') key.remove_suffix(1);
    if (key.size() != 1) return std::nullopt;
    const char letter = Upper(key)[0];
    if (letter < 'A' || letter > 'Z') return std::nullopt;
    return letter;
}

std::string HomeFolder() {
    const char* home = std::getenv("HOME");
    if (home != nullptr && home[0] == '/') return home;
    const passwd* entry = getpwuid(getuid());
    if (entry != nullptr && entry->pw_dir != nullptr && entry->pw_dir[0] == '/')
        return entry->pw_dir;
    return {};
}

// Drive folders are compared and joined as text, so a trailing '/' or a "." would get in the way.
std::string FolderText(std::string_view folder) {
    std::string text = std::filesystem::path(folder).lexically_normal().string();
    while (text.size() > 1 && text.back() == '/') text.pop_back();
    return text;
}

// TYPE:/FOLDER
std::optional<DriveDescription> ParseDrive(std::string_view s) {
    const auto colon = s.find(':');
    const auto type = ParseDriveType(s.substr(0, colon));
    const std::string folder = colon == std::string_view::npos ? "" : Trim(s.substr(colon + 1));
    if (!type || !folder.starts_with('/')) return std::nullopt;
    return DriveDescription{*type, FolderText(folder)};
}

std::string ProgramName() {
    return program_invocation_short_name;
}

// How many bytes of a quoted piece of the file a warning shows before cutting it with "...".
constexpr std::size_t kShownQuoted = 60;

// The length of the UTF-8 sequence at `at` that shows as text: 0 for a byte that is no such
// sequence's start, or that starts a control character (C0, DEL, or C1 such as U+009B, which a
// terminal reads as an escape).
std::size_t PrintableSequence(std::string_view text, std::size_t at) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(at);
    if (lead >= 0x20 && lead < 0x7F) return 1;
    const std::size_t length = lead >= 0xC2 && lead <= 0xDF   ? 2
                               : lead >= 0xE0 && lead <= 0xEF ? 3
                               : lead >= 0xF0 && lead <= 0xF4 ? 4
                                                              : 0;
    if (length == 0 || at + length > text.size()) return 0;
    for (std::size_t i = 1; i < length; ++i)
        if ((byte(at + i) & 0xC0) != 0x80) return 0;
    if (lead == 0xC2 && byte(at + 1) < 0xA0) return 0;   // U+0080 to U+009F
    if (lead == 0xE0 && byte(at + 1) < 0xA0) return 0;   // overlong
    if (lead == 0xED && byte(at + 1) >= 0xA0) return 0;  // surrogates
    if (lead == 0xF0 && byte(at + 1) < 0x90) return 0;   // overlong
    if (lead == 0xF4 && byte(at + 1) >= 0x90) return 0;  // past U+10FFFF
    return length;
}

// A byte that shows as no text, as \xNN.
std::string Escaped(char byte) {
    char escaped[5];
    std::snprintf(escaped, sizeof escaped, "\\x%02X", static_cast<unsigned char>(byte));
    return escaped;
}

// A warning is one line of plain text whatever the file holds: control characters and bytes
// that are no UTF-8 are shown as \xNN. With `limit`, each piece between double quotes or square
// brackets (a key, a value, a line, a section name) longer than that many bytes is cut, whole
// characters kept, and so is the whole line past ten times that (a kept list of sizes may be
// long).
std::string Printable(std::string_view text, std::size_t limit = 0) {
    std::string shown;
    char closing = 0;  // the end of the piece being shown, if any
    std::size_t inPiece = 0;
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t length = PrintableSequence(text, i);
        const std::size_t step = std::max<std::size_t>(length, 1);  // an escaped byte counts one
        if (limit > 0 && shown.size() > 10 * limit) return shown + "...";
        if (closing == 0 && (text[i] == '"' || text[i] == '[')) {
            closing = text[i] == '"' ? '"' : ']';
            inPiece = 0;
        } else if (closing != 0 && text[i] == closing) {
            closing = 0;
        } else if (closing != 0 && limit > 0 && (inPiece += step) > limit) {
            const std::size_t end = text.find(closing, i);
            shown += "...";
            i = end == std::string_view::npos ? text.size() : end;
            continue;
        }
        if (length == 0)
            shown += Escaped(text[i]);
        else
            shown.append(text, i, length);
        i += step;
    }
    return shown;
}

struct Entry {
    int line = 0;
    std::string key;  // lower case, except in [codecs] and [drives]
    std::string value;
};

class Parser {
  public:
    explicit Parser(std::string path) : path_(std::move(path)) {
        machine_ = DefaultMachineDescription();
        machine_.path = path_;
    }

    MachineDescription Run(std::string_view text) {
        int number = 0;
        for (const std::string& line : SplitLines(text)) Line(++number, line);
        Finish();
        return std::move(machine_);
    }

  private:
    using Reader = void (Parser::*)(const Entry&);

    struct Section {
        // The section's first header removes the defaults that the section replaces.
        void (Parser::*replace)() = nullptr;
        std::map<std::string, Reader> keys{};  // lower case
        // For the sections whose keys are data (a driver index, a FourCC, a drive letter).
        Reader other = nullptr;
        bool keyCaseKept = false;  // a FourCC or a drive letter is shown as written
    };

    static const std::map<std::string, Section> kSections;  // defined after the readers it names

    // [driver0] to [driver9] share the entry "driverN", which no header can name as headers are
    // lowered.
    static const Section* SectionNamed(const std::string& name) {
        const bool driver =
            name.size() == 7 && name.starts_with("driver") && name[6] >= '0' && name[6] <= '9';
        const auto found = kSections.find(driver ? "driverN" : name);
        return found == kSections.end() ? nullptr : &found->second;
    }

    void Warn(int line, const std::string& what) const {
        std::fprintf(stderr, "%s: machine description %s line %d: %s\n", ProgramName().c_str(),
                     Printable(path_).c_str(), line, Printable(what, kShownQuoted).c_str());
    }

    void Bad(const Entry& e, const std::string& why, const std::string& kept) const {
        Warn(e.line, "key \"" + e.key + "\": \"" + e.value + "\" " + why + "; using " + kept);
    }

    template <typename T, typename Parse>
    void Set(const Entry& e, T& target, Parse parse, const std::string& why,
             const std::string& kept) {
        if (const auto value = parse(e.value))
            target = *value;
        else
            Bad(e, why, kept);
    }

    // `choices` pairs each word (lower case) with its value; the value kept is named by its word.
    template <typename T>
    void Choose(const Entry& e, T& target, std::initializer_list<std::pair<const char*, T>> choices,
                const std::string& why) {
        const std::string word = Lower(e.value);
        for (const auto& [name, value] : choices) {
            if (word != name) continue;
            target = value;
            return;
        }
        for (const auto& [name, value] : choices)
            if (value == target) return Bad(e, why, name);
    }

    void SetYesNo(const Entry& e, bool& flag) {
        Set(e, flag, ParseYesNo, "is not yes or no", flag ? "yes" : "no");
    }

    void SetText(const Entry& e, std::string& text) {
        if (e.value.empty()) return Bad(e, "is empty", "\"" + text + "\"");
        text = e.value;
    }

    void Line(int number, std::string_view raw) {
        const std::string line = Trim(StripComment(raw));
        if (line.empty()) return;
        if (line.front() == '[' && line.back() == ']') return Header(number, line);
        const auto equals = line.find('=');
        if (equals == std::string::npos || equals == 0)
            return Warn(number,
                        "\"" + line + "\" is neither a [section] nor a key = value; ignored");
        Key({number, Trim(line.substr(0, equals)), Trim(line.substr(equals + 1))});
    }

    void Header(int number, const std::string& header) {
        name_ = Lower(Trim(header.substr(1, header.size() - 2)));
        section_ = SectionNamed(name_);
        if (section_ == nullptr)
            Warn(number, "unknown section [" + name_ + "]; its keys are ignored");
        const bool first = firstHeader_.emplace(name_, number).second;
        if (first && section_ != nullptr && section_->replace != nullptr)
            (this->*section_->replace)();
    }

    void Key(Entry e) {
        if (firstHeader_.empty())
            return Warn(e.line, "key \"" + e.key + "\" comes before any [section]; ignored");
        if (section_ == nullptr) return;  // its header was warned about
        if (!section_->keyCaseKept) e.key = Lower(e.key);
        NoteRepeat(e);
        const auto found = section_->keys.find(e.key);
        const Reader read = found == section_->keys.end() ? section_->other : found->second;
        if (read == nullptr)
            return Warn(e.line, "unknown key \"" + e.key + "\" in [" + name_ + "]; ignored");
        (this->*read)(e);
    }

    void NoteRepeat(const Entry& e) {
        const std::string id = name_ + "/" + Upper(e.key);
        const auto [at, fresh] = seen_.emplace(id, e.line);
        if (!fresh) {
            Warn(e.line, "key \"" + e.key + "\" repeats line " + std::to_string(at->second) +
                             "; the last one counts");
            at->second = e.line;
        }
    }

    // [drivers]

    void RemoveDrivers() { machine_.drivers = {}; }

    void DriversSlot(const Entry& e) {
        const auto index = InRange(0, 9)(e.key);
        if (!index)
            return Warn(e.line,
                        "key \"" + e.key + "\" in [drivers] is not a driver index 0 to 9; ignored");
        auto& slot = machine_.drivers[static_cast<std::size_t>(*index)];
        slot = DriverNamed(e.value);
        if (!slot)
            Bad(e, "is not a driver (testcard or v4l2:/dev/videoN)", "no driver at index " + e.key);
    }

    void DriversAudio(const Entry& e) {
        if (e.value.empty()) {
            const auto& now = machine_.audio;
            return Bad(e, "is empty", now ? "\"" + *now + "\"" : "each device's own input");
        }
        machine_.audio = Lower(e.value) == "none" ? "none" : e.value;
    }

    // [driverN]

    DriverDescription& Described() { return described_[name_.back() - '0']; }

    void DriverName(const Entry& e) { SetText(e, Described().name); }
    void DriverVersion(const Entry& e) { SetText(e, Described().version); }
    void DriverOverlay(const Entry& e) { SetYesNo(e, Described().overlay); }
    void DriverConnect(const Entry& e) { SetYesNo(e, Described().connect); }

    void DriverFormat(const Entry& e) {
        DriverDescription& d = Described();
        const std::vector<std::string> words = Words(e.value);
        const std::string kind = words.empty() ? "" : Upper(words[0]);
        const auto size = words.size() == 2 ? ParseSize(words[1]) : std::nullopt;
        if ((kind != "RGB24" && kind != "MJPG") || !size) {
            const std::string now =
                (d.compression == kMjpg ? "MJPG " : "RGB24 ") + SizeText(d.size);
            return Bad(e, "is not \"RGB24 WIDTHxHEIGHT\" or \"MJPG WIDTHxHEIGHT\"", now);
        }
        d.compression = kind == "MJPG" ? kMjpg : BI_RGB;
        d.size = *size;
    }

    void DriverAccepts(const Entry& e) {
        DriverDescription& d = Described();
        if (Lower(e.value) == "any") {
            d.acceptsAny = true;
            d.accepts.clear();
            return;
        }
        const auto sizes = ParseSizes(e.value);
        if (!sizes) {
            const std::string now = d.acceptsAny ? "any" : SizesText(d.accepts);
            return Bad(e, "is neither \"any\" nor a list of sizes WIDTHxHEIGHT", now);
        }
        d.acceptsAny = false;
        d.accepts = *sizes;
    }

    void DriverSkewPpm(const Entry& e) {
        double& skew = Described().skewPpm;
        const auto value = ParseNumber<double>(e.value);
        if (!value || !std::isfinite(*value)) return Bad(e, "is not a number", NumberText(skew));
        if (std::fabs(*value) > kLargestSkewPpm)
            return Bad(e, "is not between -100000 and 100000", NumberText(skew));
        skew = *value;
    }

    void DriverNoise(const Entry& e) {
        int& noise = Described().noise;
        Set(e, noise, InRange(0, 100), "is not a whole number from 0 to 100",
            std::to_string(noise));
    }

    // [codecs]

    void CodecsKey(const Entry& e) {
        const std::string fourcc = Upper(e.key);
        if (!kKnownCodecs.contains(fourcc))
            return Warn(e.line, "codec \"" + e.key +
                                    "\" is unknown (there is no compressor for it; known: MJPG, "
                                    "DIVX); ignored");
        const auto installed = ParseYesNo(e.value);
        if (!installed) {
            const auto now = machine_.codecs.find(fourcc);
            const bool on = now != machine_.codecs.end() && now->second;
            return Bad(e, "is not yes or no", on ? "yes" : "no");
        }
        machine_.codecs[fourcc] = *installed;
    }

    // [display]

    void DisplayBackend(const Entry& e) {
        using Backend = DisplayDescription::Backend;
        Choose(e, machine_.display.backend,
               {{"machine", Backend::Machine}, {"x11", Backend::X11}, {"auto", Backend::Automatic}},
               "is not machine, x11 or auto");
    }

    void DisplaySize(const Entry& e) {
        FrameSize& size = machine_.display.size;
        Set(e, size, ParseSize, "is not a size WIDTHxHEIGHT", SizeText(size));
    }

    void SizeList(const Entry& e, std::vector<FrameSize>& sizes) {
        Set(e, sizes, ParseSizes, "is not a list of sizes WIDTHxHEIGHT", SizesText(sizes));
    }

    void DisplayModes(const Entry& e) { SizeList(e, machine_.display.modes); }
    void DisplayRestart(const Entry& e) { SizeList(e, machine_.display.restart); }
    void DisplayFailed(const Entry& e) { SizeList(e, machine_.display.failed); }

    // [drives]

    void RemoveDrives() { machine_.drives.clear(); }

    void DrivesKey(const Entry& e) {
        const auto letter = ParseDriveLetter(e.key);
        if (!letter)
            return Warn(e.line,
                        "key \"" + e.key + "\" in [drives] is not a drive letter A to Z; ignored");
        const auto drive = ParseDrive(e.value);
        if (!drive) {
            Bad(e, "is not TYPE:/FOLDER (fixed, removable, remote, cdrom or ramdisk)",
                "no drive " + std::string(1, *letter) + ":");
            machine_.drives.erase(*letter);
            return;
        }
        machine_.drives[*letter] = *drive;
    }

    // [user]

    void UserClock(const Entry& e) {
        Choose(e, machine_.user.virtualClock, {{"real", false}, {"virtual", true}},
               "is not real or virtual");
    }

    void UserMessages(const Entry& e) {
        Choose(e, machine_.user.messagesToStderr, {{"dialog", false}, {"stderr", true}},
               "is not dialog or stderr");
    }

    void EscapeAfter(const Entry& e, std::optional<long>& after) {
        const auto value = ParseCount(e.value);
        if (!value)
            return Bad(e, "is not a whole number of 0 or more",
                       after ? std::to_string(*after) : "0 (never)");
        after = *value == 0 ? std::nullopt : value;
    }

    void UserEscapeAfterMs(const Entry& e) { EscapeAfter(e, machine_.user.escapeAfterMs); }
    void UserEscapeAfterFrames(const Entry& e) { EscapeAfter(e, machine_.user.escapeAfterFrames); }

    void UserStall(const Entry& e) {
        const std::vector<std::string> words = Words(e.value);
        const char* why = "is not message|write AT_MS FOR_MS";
        const char* kept = machine_.user.stall ? "the stall given before" : "no stall";
        if (words.size() != 3) return Bad(e, why, kept);
        const std::string kind = Lower(words[0]);
        const auto at = ParseCount(words[1]);
        const auto length = ParseCount(words[2]);
        if ((kind != "message" && kind != "write") || !at || !length) return Bad(e, why, kept);
        machine_.user.stall = ScriptedStall{
            kind == "write" ? ScriptedStall::Kind::Write : ScriptedStall::Kind::Message, *at,
            *length};
    }

    // A [driverN] section may come before or after [drivers]; it counts only for an installed
    // driver, so it is applied once the whole file is read.
    void Finish() {
        for (const auto& [index, driver] : described_) {
            const std::string name = "driver" + std::to_string(index);
            const int line = firstHeader_.at(name);
            auto& slot = machine_.drivers[static_cast<std::size_t>(index)];
            if (slot && slot->kind == "v4l2")
                Warn(line,
                     "[" + name + "] describes a V4L2 device, which describes itself; ignored");
            else if (slot)
                slot = driver;
            else
                Warn(line, "[" + name + "] describes index " + std::to_string(index) +
                               ", where no driver is installed; ignored");
        }
    }

    std::string path_;
    MachineDescription machine_;
    std::string name_;                        // the section being read, lower case
    const Section* section_ = nullptr;        // null under an unknown section
    std::map<std::string, int> firstHeader_;  // each section's first header line
    std::map<int, DriverDescription> described_;
    std::map<std::string, int> seen_;
};

const std::map<std::string, Parser::Section> Parser::kSections{
    {"drivers",
     {.replace = &Parser::RemoveDrivers,
      .keys = {{"audio", &Parser::DriversAudio}},
      .other = &Parser::DriversSlot}},
    {"driverN",
     {.keys = {{"name", &Parser::DriverName},
               {"version", &Parser::DriverVersion},
               {"format", &Parser::DriverFormat},
               {"accepts", &Parser::DriverAccepts},
               {"overlay", &Parser::DriverOverlay},
               {"connect", &Parser::DriverConnect},
               {"skew_ppm", &Parser::DriverSkewPpm},
               {"noise", &Parser::DriverNoise}}}},
    {"codecs", {.other = &Parser::CodecsKey, .keyCaseKept = true}},
    {"display",
     {.keys = {{"backend", &Parser::DisplayBackend},
               {"size", &Parser::DisplaySize},
               {"modes", &Parser::DisplayModes},
               {"restart", &Parser::DisplayRestart},
               {"failed", &Parser::DisplayFailed}}}},
    {"drives",
     {.replace = &Parser::RemoveDrives, .other = &Parser::DrivesKey, .keyCaseKept = true}},
    {"user",
     {.keys = {{"clock", &Parser::UserClock},
               {"escape_after_ms", &Parser::UserEscapeAfterMs},
               {"escape_after_frames", &Parser::UserEscapeAfterFrames},
               {"messages", &Parser::UserMessages},
               {"stall", &Parser::UserStall}}}},
};

// Opened without waiting (a FIFO with no writer would block start-up for good) and read only
// when it is a regular file: a FIFO or a device is refused.
int OpenRegular(const std::string& path, std::string& problem) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    struct stat status {};
    if (fd < 0 || ::fstat(fd, &status) != 0) {
        problem = "cannot be read (" + std::string(std::strerror(errno)) + ")";
    } else if (S_ISDIR(status.st_mode)) {
        problem = "is a folder";
    } else if (!S_ISREG(status.st_mode)) {
        problem = "is not a regular file (a FIFO or a device)";
    } else {
        return fd;
    }
    if (fd >= 0) ::close(fd);
    return -1;
}

// At most kLargestFile + 1 bytes, so that a larger file is seen to be so.
bool ReadAtMost(int fd, std::string& text) {
    text.assign(kLargestFile + 1, '\0');
    std::size_t got = 0;
    while (got < text.size()) {
        const ssize_t n = ::read(fd, text.data() + got, text.size() - got);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        if (n == 0) break;
        got += static_cast<std::size_t>(n);
    }
    text.resize(got);
    return true;
}

std::optional<std::string> ReadFile(const std::string& path, std::string& problem) {
    const int fd = OpenRegular(path, problem);
    if (fd < 0) return std::nullopt;
    std::string text;
    const bool read = ReadAtMost(fd, text);
    const int error = errno;
    ::close(fd);
    if (!read) {
        problem = "cannot be read (" + std::string(std::strerror(error)) + ")";
        return std::nullopt;
    }
    if (text.size() > kLargestFile) {
        problem = "is larger than 1 MiB";
        return std::nullopt;
    }
    return text;
}

MachineDescription Load() {
    const char* variable = std::getenv("PLATFORM_MACHINE");
    if (variable == nullptr || variable[0] == '\0') return DefaultMachineDescription();
    return ReadMachineDescription(variable);
}

MachineDescription& Current() {
    static MachineDescription current = Load();
    return current;
}

}  // namespace

MachineDescription DefaultMachineDescription() {
    MachineDescription machine;
    InstallFoundDrivers(machine.drivers);
    const std::string home = HomeFolder();
    if (!home.empty()) machine.drives['C'] = DriveDescription{DRIVE_FIXED, FolderText(home)};
    // The user's videos folder is a drive of its own, so that picking it needs no typing.
    if (const std::string videos = UserVideosFolder(home); !videos.empty())
        machine.drives['V'] = DriveDescription{DRIVE_FIXED, FolderText(videos)};
    machine.drives['Z'] = DriveDescription{DRIVE_FIXED, "/"};
    return machine;
}

MachineDescription ReadMachineDescription(const std::string& path) {
    std::string problem;
    const auto text = ReadFile(path, problem);
    if (text) return ParseMachineDescription(*text, path);
    std::fprintf(stderr, "%s: machine description %s %s; using the defaults\n",
                 ProgramName().c_str(), Printable(path).c_str(), problem.c_str());
    return DefaultMachineDescription();
}

MachineDescription ParseMachineDescription(const std::string& text, const std::string& path) {
    return Parser(path).Run(text);
}

const MachineDescription& Machine() {
    return Current();
}

MachineDescription SetMachine(MachineDescription description) {
    return std::exchange(Current(), std::move(description));
}

}  // namespace platform
