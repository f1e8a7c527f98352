// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/codepage.h"

#include <iconv.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <mutex>
#include <optional>

namespace platform {
namespace {

const iconv_t kNoConverter = reinterpret_cast<iconv_t>(-1);
constexpr std::size_t kIconvFailed = static_cast<std::size_t>(-1);

// An iconv handle is stateful: one conversion at a time, whatever thread asks.
class Converter {
  public:
    Converter(const char* to, const char* from) : handle_(iconv_open(to, from)) {}
    ~Converter() {
        if (handle_ != kNoConverter) iconv_close(handle_);
    }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;

    bool available() const { return handle_ != kNoConverter; }
    iconv_t handle() const { return handle_; }
    std::mutex& mutex() { return mutex_; }

  private:
    iconv_t handle_;
    std::mutex mutex_;
};

Converter& FromAnsi() {
    static Converter converter("UTF-8", "WINDOWS-1252");
    return converter;
}

Converter& ToAnsi() {
    static Converter converter("WINDOWS-1252", "UTF-8");
    return converter;
}

bool IsUndefinedAnsiByte(char32_t c) {
    return c == 0x81 || c == 0x8D || c == 0x8F || c == 0x90 || c == 0x9D;
}

void AppendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

struct Decoded {
    char32_t codePoint;
    std::size_t length;
};

bool IsContinuation(unsigned char byte) {
    return (byte & 0xC0) == 0x80;
}

// One well-formed UTF-8 sequence at the front of `s`, or nothing.
std::optional<Decoded> DecodeUtf8(std::string_view s) {
    const auto lead = static_cast<unsigned char>(s[0]);
    if (lead < 0x80) return Decoded{lead, 1};
    static constexpr std::array<char32_t, 5> kSmallest{0, 0, 0x80, 0x800, 0x10000};
    const std::size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 0;
    if (length == 0 || lead > 0xF4 || s.size() < length) return std::nullopt;
    char32_t c = lead & (0x7F >> length);
    for (std::size_t i = 1; i < length; ++i) {
        const auto byte = static_cast<unsigned char>(s[i]);
        if (!IsContinuation(byte)) return std::nullopt;
        c = (c << 6) | (byte & 0x3F);
    }
    if (c < kSmallest[length] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return std::nullopt;
    return Decoded{c, length};
}

// iconv hands its whole input to an inner UTF-32 step and, at a character it cannot convert,
// converts again up to that character: fed a long text with many such characters, it would take
// quadratic time. Small slices keep each refusal cheap.
constexpr std::size_t kSlice = 256;

// Converts the front of `in` and drops what it used; false when `in` starts with a sequence the
// converter refuses.
bool ConvertSlice(Converter& converter, std::string_view& in, std::string& out) {
    const std::string_view slice = in.substr(0, kSlice);
    char* source = const_cast<char*>(slice.data());  // iconv never writes its input
    std::size_t sourceLeft = slice.size();
    std::array<char, 4 * kSlice> buffer;  // room for any slice: at most 3 bytes for one
    char* target = buffer.data();
    std::size_t targetLeft = buffer.size();
    const bool converted =
        iconv(converter.handle(), &source, &sourceLeft, &target, &targetLeft) != kIconvFailed;
    // A character cut by the end of the slice is whole in the next one.
    const bool goOn = converted || errno == E2BIG || (errno == EINVAL && slice.size() < in.size());
    out.append(buffer.data(), static_cast<std::size_t>(target - buffer.data()));
    in.remove_prefix(slice.size() - sourceLeft);
    return goOn;
}

// What a converter refuses is handed to a fallback, which appends its replacement and returns
// how many input bytes it consumed (at least one).
template <typename Fallback>
std::string Convert(Converter& converter, std::string_view in, Fallback fallback) {
    std::string out;
    out.reserve(in.size());
    const std::lock_guard lock(converter.mutex());
    if (converter.available()) iconv(converter.handle(), nullptr, nullptr, nullptr, nullptr);
    while (!in.empty()) {
        if (converter.available() && ConvertSlice(converter, in, out)) continue;
        in.remove_prefix(fallback(in, out));
    }
    return out;
}

// With a converter, only the undefined bytes arrive here; without one, every byte does.
std::size_t AnsiFallback(std::string_view rest, std::string& out) {
    AppendUtf8(out, static_cast<unsigned char>(rest[0]));
    return 1;
}

}  // namespace

std::string AnsiToUtf8(std::string_view ansi) {
    return Convert(FromAnsi(), ansi, AnsiFallback);
}

std::string Utf8ToAnsi(std::string_view utf8) {
    const bool latin1 = !ToAnsi().available();
    return Convert(ToAnsi(), utf8, [latin1](std::string_view rest, std::string& out) {
        const std::optional<Decoded> decoded = DecodeUtf8(rest);
        if (!decoded) {
            out += '?';
            return std::size_t{1};
        }
        const char32_t c = decoded->codePoint;
        const bool hasByte = c <= 0xFF && (latin1 || IsUndefinedAnsiByte(c));
        out += hasByte ? static_cast<char>(c) : '?';
        return decoded->length;
    });
}

}  // namespace platform
