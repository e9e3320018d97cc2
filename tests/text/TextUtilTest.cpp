#include "text/TextUtil.h"
#include "CaseRows.h"

#include <cmath>
#include <gtest/gtest.h>
#include <limits>

namespace mrvn {
namespace {

using Pieces = std::vector<std::string>;

TEST(RemoveAllSpaces, RemovesOnlyAsciiAndIdeographicSpaces)
{
    const struct
    {
        std::string_view in, out;
    } cases[] = {
        {"", ""},
        {"   ", ""},
        {" a b ", "ab"},
        {"\xE3\x80\x80"
         "12\xE3\x80\x80"
         "3",
         "123"},
        {"\t1\n2\r", "\t1\n2\r"},
        {"\xC2\xA0x", "\xC2\xA0x"},       // no-break space stays
        {"\xEF\xBC\x91", "\xEF\xBC\x91"}, // full-width digit stays
        {"\xE3\x80", "\xE3\x80"},         // a cut-off U+3000 is not one
        {"中 文", "中文"},
    };
    mrvn::test::ForEachRow(
        cases, [](const auto& c) { return c.in; },
        [&](const auto& c) { EXPECT_EQ(RemoveAllSpaces(c.in), c.out) << c.in; });
}

TEST(SplitText, PiecesEmptyPiecesAndMaximum)
{
    const struct
    {
        std::string_view text, separator;
        int maxCount;
        Pieces expected;
    } cases[] = {
        {"", "|", -1, {}},
        {"a", "|", -1, {"a"}},
        {"a|b", "|", -1, {"a", "b"}},
        {"a|b|", "|", -1, {"a", "b"}},
        {"|", "|", -1, {""}},
        {"||", "|", -1, {"", ""}},
        {"|a||b", "|", -1, {"", "a", "", "b"}},
        {"a|b|c", "|", 2, {"a", "b"}},
        {"a|b|c", "|", 3, {"a", "b", "c"}},
        {"a|b|c", "|", 0, {}},
        {"a|b|c", "|", 1, {"a"}},
        {"头分割线尾分割线", "分割线", -1, {"头", "尾"}},
        {"版本1.5分割线说明", "分割线", 1, {"版本1.5"}},
        {"abab", "ab", -1, {"", ""}},
    };
    mrvn::test::ForEachRow(
        cases, [](const auto& c) { return c.text; },
        [&](const auto& c) {
            EXPECT_EQ(SplitText(c.text, c.separator, c.maxCount), c.expected)
                << c.text << " / " << c.maxCount;
        });
}

TEST(TextToNumber, IntegersFoldFullWidthAndSaturate)
{
    const struct
    {
        std::string_view text;
        std::int64_t value64;
        std::int32_t value32;
    } cases[] = {
        {"", 0, 0},
        {"abc", 0, 0},
        {"42", 42, 42},
        {"  \t\n42abc", 42, 42},
        {"-17", -17, -17},
        {"+8", 8, 8},
        {"- 8", 0, 0},
        {"\xEF\xBC\x91\xEF\xBC\x92", 12, 12}, // １２
        {"\xEF\xBC\x8D\xEF\xBC\x93", -3, -3}, // －３
        {"\xE3\x80\x80\xE3\x80\x80"
         "7",
         7, 7},                             // leading U+3000
        {"\xEF\xBC\x95\xEF\xBD\x81", 5, 5}, // ５ａ
        {"3.9", 3, 3},
        {"2147483647", 2147483647, 2147483647},
        {"2147483648", 2147483648LL, 2147483647},
        {"-2147483649", -2147483649LL, -2147483647 - 1},
        {"9223372036854775807", std::numeric_limits<std::int64_t>::max(), 2147483647},
        {"9223372036854775808", std::numeric_limits<std::int64_t>::max(), 2147483647},
        {"-9223372036854775808", std::numeric_limits<std::int64_t>::min(), -2147483647 - 1},
        {"-99999999999999999999", std::numeric_limits<std::int64_t>::min(), -2147483647 - 1},
        {"0x1F", 0, 0},
        {"中12", 0, 0},
    };
    mrvn::test::ForEachRow(
        cases, [](const auto& c) { return c.text; },
        [&](const auto& c) {
            EXPECT_EQ(TextToInt64(c.text), c.value64) << c.text;
            EXPECT_EQ(TextToInt32(c.text), c.value32) << c.text;
        });
}

TEST(TextToNumber, DoublesAreDecimalOnly)
{
    const struct
    {
        std::string_view text;
        double value;
    } cases[] = {
        {"", 0.0},       {"1.5", 1.5},   {"  -2.25kg", -2.25},
        {".5", 0.5},     {"5.", 5.0},    {".", 0.0},
        {"1e3", 1000.0}, {"1E-2", 0.01}, {"1e", 1.0},
        {"1e+", 1.0},    {"0x10", 0.0},  {"inf", 0.0},
        {"nan", 0.0},    {"1,5", 1.0},   {"\xEF\xBC\x91\xEF\xBC\x8E\xEF\xBC\x95", 1.5}, // １．５
        {"1e-400", 0.0},
    };
    mrvn::test::ForEachRow(
        cases, [](const auto& c) { return c.text; },
        [&](const auto& c) { EXPECT_DOUBLE_EQ(TextToDouble(c.text), c.value) << c.text; });
    EXPECT_EQ(TextToDouble("1e400"), HUGE_VAL);
    EXPECT_EQ(TextToDouble("-1e400"), -HUGE_VAL);
}

TEST(IsIntegerText, OnlyPlainDecimalThatFits)
{
    const struct
    {
        std::string_view text;
        bool expected;
    } cases[] = {
        {"0", true},
        {"-0", true},
        {"123", true},
        {"-9223372036854775808", true},
        {"9223372036854775807", true},
        {"9223372036854775808", false},
        {"-9223372036854775809", false},
        {"", false},
        {"-", false},
        {"+1", false},
        {" 1", false},
        {"1 ", false},
        {"1.0", false},
        {"\xEF\xBC\x91", false},
        {"--1", false},
    };
    mrvn::test::ForEachRow(
        cases, [](const auto& c) { return c.text; },
        [&](const auto& c) { EXPECT_EQ(IsIntegerText(c.text), c.expected) << c.text; });
}

TEST(Gbk, RoundTripsWhatCodePage936Holds)
{
    const struct
    {
        std::string_view utf8, gbk;
    } cases[] = {
        {"", ""},
        {"abc 123", "abc 123"},
        {"中文", "\xD6\xD0\xCE\xC4"},
        {"\xE3\x80\x80", "\xA1\xA1"},           // ideographic space
        {"\xEF\xBC\x81", "\xA3\xA1"},           // full-width "!"
        {"\xE2\x82\xAC", "\x80"},               // euro sign, single byte in 936
        {"誠臶臸", "\xD5\x5C\xC5\x5B\xC5\x5D"}, // trail bytes "\", "[", "]"
        {"·", "\xA1\xA4"},
    };
    mrvn::test::ForEachRow(
        cases, [](const auto& c) { return c.utf8; },
        [&](const auto& c) {
            EXPECT_EQ(Utf8ToGbk(c.utf8), c.gbk) << c.utf8;
            EXPECT_EQ(GbkToUtf8(c.gbk), c.utf8) << c.utf8;
        });
}

TEST(Gbk, UnmappableAndInvalidInputCostOneQuestionMarkEach)
{
    const struct
    {
        std::string_view utf8, gbk;
    } toGbk[] = {
        {"a😀b", "a?b"},
        {"𠀀中", "?\xD6\xD0"},
        {"\xE4\xB6\xB6", "?"}, // U+4DB6, outside the code page
        {"x\xFFy", "x?y"},
        {"\xE4\xB8", "?"},                  // truncated
        {"\xC0\xAF", "??"},                 // overlong
        {"\xED\xA0\x80", "???"},            // surrogate
        {std::string_view("a\0b", 3), "a"}, // ends at the zero byte
        {"中\xFF文", "\xD6\xD0?\xCE\xC4"},
    };
    mrvn::test::ForEachRow(
        toGbk, [](const auto& c) { return c.utf8; },
        [&](const auto& c) { EXPECT_EQ(Utf8ToGbk(c.utf8), c.gbk) << c.utf8; });

    const struct
    {
        std::string_view gbk, utf8;
    } toUtf8[] = {
        {"\xFF", "?"},
        {"a\x81", "a?"}, // lead byte at the end
        {"\x81"
         "0",
         "?0"}, // a lead byte before a non-trail keeps it
#ifdef _WIN32
        // Windows' table gives the pairs of GBK's user-defined area private-use characters.
        {"\xA2\xE3"
         "b",
         "\xEE\x9D\xAC"
         "b"},
#else
        {"\xA2\xE3"
         "b",
         "?b"}, // a pair outside the table is one character
#endif
        {"\xD6\xD0\xFF\xCE\xC4", "中?文"},
    };
    mrvn::test::ForEachRow(
        toUtf8, [](const auto& c) { return c.gbk; },
        [&](const auto& c) { EXPECT_EQ(GbkToUtf8(c.gbk), c.utf8); });
}

// IsValidUtf8 says whether CleanUtf8 keeps the bytes as they are.
TEST(CleanUtf8, EachInvalidSequenceBecomesOneQuestionMark)
{
    const struct
    {
        std::string_view in, out;
    } cases[] = {
        {"", ""},
        {"plain ascii text longer than eight", "plain ascii text longer than eight"},
        {std::string_view("abcdefghij\0klm", 14), "abcdefghij"},
        {std::string_view("\0abc", 4), ""},
        {"中文😀", "中文😀"},
        {"\xF4\x8F\xBF\xBF", "\xF4\x8F\xBF\xBF"}, // U+10FFFF
        {"\xF4\x90\x80\x80", "????"},             // beyond U+10FFFF
        {"\xC0\x80", "??"},
        {"\xE0\x80\x80", "???"},
        {"\xED\xBF\xBF", "???"},
        {"\xE4\xB8", "?"},
        {"\xE4\xB8x", "?x"},
        {"\xF0\x9F\x98", "?"},
        {"\x80\x80", "??"},
        {"abcdefgh\xFFijklmnop", "abcdefgh?ijklmnop"},
        {"\xC3\xA9\xFE", "é?"},
    };
    mrvn::test::ForEachRow(
        cases, [](const auto& c) { return c.in; },
        [&](const auto& c) {
            EXPECT_EQ(CleanUtf8(c.in), c.out);
            EXPECT_EQ(IsValidUtf8(c.in), c.in == c.out);
        });
}

TEST(ReplaceAll, LeftToRightWithoutRescanning)
{
    const struct
    {
        std::string_view text, from, to, out;
    } cases[] = {
        {"", "a", "b", ""},
        {"aaa", "a", "b", "bbb"},
        {"aaa", "aa", "b", "ba"},
        {"@x@x", "@x", "@x@x", "@x@x@x@x"},
        {"abc", "", "z", "abc"},
        {"abc", "c", "", "ab"},
        {"数量=@数量", "@数量", "5", "数量=5"},
    };
    mrvn::test::ForEachRow(
        cases, [](const auto& c) { return c.text; },
        [&](const auto& c) { EXPECT_EQ(ReplaceAll(c.text, c.from, c.to), c.out); });
}

} // namespace
} // namespace mrvn
