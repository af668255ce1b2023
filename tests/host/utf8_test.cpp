// The one rule of well-formed UTF-8 and the one count of UTF-16 units
// (common/Utf8.h), which the stub's names and the builder's both follow.
#include <gtest/gtest.h>

#include <string>

#include "ZipInput.h"
#include "common/Utf8.h"

// Each sequence at the edges of the rule: the stub makes U+FFFD of what it
// refuses, and the builder refuses the same, so a name is read alike by
// both.
TEST(Utf8Rule, OverlongSurrogatesAndPastTheLastCodePointAreRefused)
{
    const struct {
        const char *what;
        std::string bytes;
        uint32_t length;
    } cases[] = {
        {"ASCII", "A", 1},
        {"the first two-byte form", "\xC2\x80", 2},
        {"an overlong two-byte form", "\xC1\xBF", 0},
        {"the first three-byte form", "\xE0\xA0\x80", 3},
        {"an overlong three-byte form", "\xE0\x9F\xBF", 0},
        {"the last before the surrogates", "\xED\x9F\xBF", 3},
        {"a surrogate", "\xED\xA0\x80", 0},
        {"the first four-byte form", "\xF0\x90\x80\x80", 4},
        {"an overlong four-byte form", "\xF0\x8F\xBF\xBF", 0},
        {"U+10FFFF", "\xF4\x8F\xBF\xBF", 4},
        {"past U+10FFFF", "\xF4\x90\x80\x80", 0},
        {"a lead byte above F4", "\xF5\x80\x80\x80", 0},
        {"a lone continuation byte", "\x80", 0},
        {"a sequence cut short", "\xE0\xA0", 0},
        {"a continuation that is ASCII", "\xC2\x41", 0},
        {"a continuation that is a lead byte", "\xE2\x82\xC2", 0},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(Utf8SequenceLength((const uint8_t *)c.bytes.data(), (uint32_t)c.bytes.size()), c.length) << c.what;
        EXPECT_EQ(mksfx::ValidUtf8(c.bytes), c.length == c.bytes.size()) << c.what;
    }
}

// Path limits count UTF-16 units: a Hangul syllable is one, an emoji two.
TEST(Utf16Count, FourByteSequencesCountTwice)
{
    EXPECT_EQ(Utf16Units("a\xEA\xB0\x80\xF0\x9F\x98\x80"), 4u);
    EXPECT_EQ(Utf16Units(""), 0u);
    EXPECT_EQ(Utf16Units(nullptr), 0u);
}
