// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/codepage.h"

#include <gtest/gtest.h>

#include <QString>
#include <string>

namespace {

using platform::AnsiToUtf8;
using platform::Utf8ToAnsi;

std::string AllBytes() {
    std::string bytes;
    for (int b = 0; b < 256; ++b) bytes += static_cast<char>(b);
    return bytes;
}

bool IsValidUtf8(const std::string& text) {
    const QString decoded = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
    return decoded.toUtf8() == QByteArray(text.data(), static_cast<qsizetype>(text.size()));
}

TEST(Codepage, FrenchTextIsOneBytePerLetter) {
    EXPECT_EQ(Utf8ToAnsi("Stéréo"), "St\xE9r\xE9o");
    EXPECT_EQ(AnsiToUtf8("St\xE9r\xE9o"), "Stéréo");
    EXPECT_EQ(Utf8ToAnsi("Fréquence : àâçèêëîïôùûüÿ"),
              "Fr\xE9quence : \xE0\xE2\xE7\xE8\xEA\xEB\xEE\xEF\xF4\xF9\xFB\xFC\xFF");
}

TEST(Codepage, WindowsRangeUsesItsOwnCharacters) {
    EXPECT_EQ(AnsiToUtf8("\x80\x85\x92\x9C\x9F"), "€…’œŸ");
    EXPECT_EQ(Utf8ToAnsi("€…’œŸ"), "\x80\x85\x92\x9C\x9F");
}

TEST(Codepage, UndefinedBytesBecomeTheirControlCharacters) {
    EXPECT_EQ(AnsiToUtf8("\x81\x8D\x8F\x90\x9D"), "\u0081\u008D\u008F\u0090\u009D");
    EXPECT_EQ(Utf8ToAnsi("\u0081\u008D\u008F\u0090\u009D"), "\x81\x8D\x8F\x90\x9D");
}

TEST(Codepage, EveryByteSurvivesTheRoundTrip) {
    const std::string bytes = AllBytes();
    const std::string utf8 = AnsiToUtf8(bytes);
    EXPECT_TRUE(IsValidUtf8(utf8));
    EXPECT_EQ(Utf8ToAnsi(utf8), bytes);
}

TEST(Codepage, CharactersWithoutAnAnsiFormBecomeOneQuestionMarkEach) {
    EXPECT_EQ(Utf8ToAnsi("a日本b"), "a??b");
    EXPECT_EQ(Utf8ToAnsi("x😀y"), "x?y");
    // The control characters that are not the five undefined bytes have no byte of their own.
    EXPECT_EQ(Utf8ToAnsi("\u0080\u0098"), "??");
}

TEST(Codepage, MalformedUtf8BecomesOneQuestionMarkPerByte) {
    EXPECT_EQ(Utf8ToAnsi("a\x80z"), "a?z");                  // stray continuation byte
    EXPECT_EQ(Utf8ToAnsi("a\xC3"), "a?");                    // cut at the end
    EXPECT_EQ(Utf8ToAnsi("a\xE2\x82z"), "a??z");             // cut in the middle
    EXPECT_EQ(Utf8ToAnsi("\xC0\xAF\xE0\x80\xAF"), "?????");  // overlong
    EXPECT_EQ(Utf8ToAnsi("\xED\xA0\x80"), "???");            // surrogate
    EXPECT_EQ(Utf8ToAnsi("\xF4\x90\x80\x80\xFF"), "?????");  // beyond U+10FFFF, never a lead
}

TEST(Codepage, NulBytesAndEmptyTextPassThrough) {
    const std::string withNuls("a\0\xE9\0", 4);
    EXPECT_EQ(AnsiToUtf8(withNuls), std::string("a\0é\0", 5));
    EXPECT_EQ(Utf8ToAnsi(std::string("a\0é\0", 5)), withNuls);
    EXPECT_EQ(AnsiToUtf8(""), "");
    EXPECT_EQ(Utf8ToAnsi(""), "");
}

TEST(Codepage, LongTextsCrossTheConverterBuffers) {
    // Odd lengths put a two-byte character across every internal buffer boundary.
    std::string ansi;
    for (int i = 0; i < 300001; ++i) ansi += (i % 3 == 0) ? '\xE9' : (i % 3 == 1) ? '\x81' : 'a';
    const std::string utf8 = AnsiToUtf8(ansi);
    EXPECT_EQ(utf8.size(), ansi.size() + 200001);
    EXPECT_EQ(Utf8ToAnsi(utf8), ansi);
    EXPECT_EQ(Utf8ToAnsi(std::string(100001, '\xFF')), std::string(100001, '?'));
}

}  // namespace
