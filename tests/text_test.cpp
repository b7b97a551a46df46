// The text conventions every parser relies on: 1-based positions, -1 for
// "not found", blanks 1..32, lenient numbers that wrap at 2^32.
#include <gtest/gtest.h>

#include "util/text.h"

namespace {

using std::string;

struct DecimalCase { string text; int32_t value; };

TEST(Numbers, DecimalReadsSignAndDigitsUpToTheFirstOtherCharacter)
{
    const DecimalCase cases[] = {
        {"", 0},         {"-12", -12},       {"+5", 5},          {"12abc", 12},
        {"-", 0},        {"--5", 0},         {"+-5", 0},         {" 12", 0},
        {"3 000", 3},    {"2500ms", 2500},   {"abc", 0},         {"007", 7},
        {"2147483647", 2147483647},
        {"2147483648", INT32_MIN},           {"4294967296", 0},
        {"4294967297", 1},                   {"-2147483648", INT32_MIN},
        {"-4294967295", 1},                  {string("12\0" "3", 4), 12},
    };
    for (const auto& c : cases) EXPECT_EQ(ParseDecimal(c.text), c.value) << "\"" << c.text << "\"";
}

struct HexCase { string text; uint32_t value; };

TEST(Numbers, HexTakesOptionalDollarAndKeepsTheLastEightDigits)
{
    const HexCase cases[] = {
        {"", 0},           {"$1F", 31},          {"1f", 31},         {"$", 0},
        {"0x1F", 0},       {"FFFFFFFF", 0xFFFFFFFFu},                {"123456789", 0x23456789u},
        {"$$1", 0},        {"1A5", 0x1A5},       {"41,", 0x41},      {" 41", 0},
        {"-1", 0},         {"aBcDeF", 0xABCDEF}, {"G1", 0},
    };
    for (const auto& c : cases) EXPECT_EQ(ParseHex(c.text), c.value) << "\"" << c.text << "\"";
}

TEST(Trimming, RemovesControlCharactersAndSpacesAtBothEndsOnly)
{
    EXPECT_EQ(TrimBlanks(" \t\r\nab c\r\n\t "), "ab c");
    EXPECT_EQ(TrimBlanks("\x01\x1f" "x" "\x20\x01"), "x");
    EXPECT_EQ(TrimBlanks(" \t\r\n"), "");
    EXPECT_EQ(TrimBlanks(""), "");
    // Code 33 ("!") and 8-bit bytes are not blanks.
    EXPECT_EQ(TrimBlanks("!a!"), "!a!");
    EXPECT_EQ(TrimBlanks("\xA0x\xFF"), "\xA0x\xFF");
}

TEST(Trimming, ZeroCharactersEndTheTextOnTheLeftAndCountAsBlanksOnTheRight)
{
    EXPECT_EQ(TrimTrailing(string("ab \0\0", 5)), "ab");
    EXPECT_EQ(TrimLeading(string("  ab\0cd", 7)), "ab");
    EXPECT_EQ(TrimBlanks(string(" a\0 b ", 6)), "a");
    EXPECT_EQ(TrimLeading(string("\0ab", 3)), "");
}

TEST(Searching, CharPositionIsOneBasedAndStopsAtZero)
{
    EXPECT_EQ(CharPosition("abc", 'b'), 2);
    EXPECT_EQ(CharPosition("abc", 'a'), 1);
    EXPECT_EQ(CharPosition("abc", 'x'), -1);
    EXPECT_EQ(CharPosition("", 'a'), -1);
    EXPECT_EQ(CharPosition(string("a\0b", 3), 'b'), -1);
    EXPECT_EQ(CharPosition("abc", '\0'), -1);
    EXPECT_EQ(CharPosition("\xE9t\xE9", '\xE9'), 1);
}

TEST(Searching, FirstOfAnyGivesTheEarliestOfTheSet)
{
    EXPECT_EQ(FirstOfAny("ab\r\n", "\r\n"), 3);
    EXPECT_EQ(FirstOfAny("ab\n\r", "\r\n"), 3);
    EXPECT_EQ(FirstOfAny("ab\r\n", ""), -1);
    EXPECT_EQ(FirstOfAny("abc", "xyz"), -1);
    EXPECT_EQ(FirstOfAny("", "\r\n"), -1);
}

TEST(Searching, SubstringPositionFindsExactBytes)
{
    EXPECT_EQ(SubstringPosition("12,1", ",1"), 3);
    EXPECT_EQ(SubstringPosition("12,1", ",0"), -1);
    EXPECT_EQ(SubstringPosition("abc", ""), 4);
    EXPECT_EQ(SubstringPosition("", ""), 1);
    EXPECT_EQ(SubstringPosition("", "a"), -1);
    EXPECT_EQ(SubstringPosition("aab", "ab"), 2);
    EXPECT_EQ(SubstringPosition("ab", "abc"), -1);
    EXPECT_EQ(SubstringPosition("+CKEV: 5,1", "CKEV"), 2);
    EXPECT_EQ(SubstringPosition("+ckev: 5,1", "CKEV"), -1);
    EXPECT_EQ(SubstringPosition(string("ab\0,1", 5), ",1"), -1);
    EXPECT_EQ(SubstringPosition("\xFF\xFE,1", "\xFE,"), 2);
}

struct SplitCase { string text; string token; string rest; };

TEST(Splitting, TheDelimiterBelongsToNeitherPart)
{
    const SplitCase cases[] = {
        {"a,b,c", "a", "b,c"}, {"abc", "abc", ""}, {",b", "", "b"},
        {"a,", "a", ""},       {"", "", ""},       {",", "", ""},
        {" a ,b", " a ", "b"},
    };
    for (const auto& c : cases) {
        string s = c.text, token = "junk";
        SplitToken(s, ",", token);
        EXPECT_EQ(token, c.token) << c.text;
        EXPECT_EQ(s, c.rest) << c.text;
    }
}

TEST(Splitting, LinesEndAtCrOrLfWhicheverComesFirst)
{
    string s = "one\r\ntwo", line;
    SplitToken(s, "\r\n", line);
    EXPECT_EQ(line, "one");
    EXPECT_EQ(s, "\ntwo");
    SplitToken(s, "\r\n", line);
    EXPECT_EQ(line, "");
    EXPECT_EQ(s, "two");
}

TEST(Splitting, TailFromCountsFromOneAndClampsBelow)
{
    EXPECT_EQ(TailFrom("abc", 0), "abc");
    EXPECT_EQ(TailFrom("abc", -7), "abc");
    EXPECT_EQ(TailFrom("abc", 3), "c");
    EXPECT_EQ(TailFrom("abc", 4), "");
    EXPECT_EQ(TailFrom("", 1), "");
}

TEST(ZeroTerminated, NullIsTheEmptyText)
{
    EXPECT_EQ(TextLength(nullptr), 0);
    EXPECT_EQ(TextLength("abc"), 3);
    EXPECT_STREQ(SafeText(nullptr), "");
    const char* text = "xyz";
    EXPECT_EQ(SafeText(text), text);
}

TEST(ZeroTerminated, FindCharIncludesTheTerminator)
{
    const char* text = "abca";
    EXPECT_EQ(FindChar(text, 'a'), text);
    EXPECT_EQ(FindChar(text, 'c'), text + 2);
    EXPECT_EQ(FindChar(text, '\0'), text + 4);
    EXPECT_EQ(FindChar(text, 'x'), nullptr);
}

TEST(ZeroTerminated, CompareLimitedStopsAtCountOrAtTheEndOfTheSecond)
{
    EXPECT_EQ(CompareLimited("abc", "abd", 0), 0);
    EXPECT_EQ(CompareLimited("abc", "abd", 2), 0);
    EXPECT_EQ(CompareLimited("abc", "abd", 3), 'c' - 'd');
    EXPECT_EQ(CompareLimited("ab", "ab", 10), 0);
    EXPECT_EQ(CompareLimited("abc", "ab", 10), 'c');
    EXPECT_EQ(CompareLimited("ab", "abc", 10), -'c');
    // Bytes compare unsigned, so the difference spans -255..255.
    EXPECT_EQ(CompareLimited("\xFF", "\x01", 1), 254);
    EXPECT_EQ(CompareLimited("\x00", "\xFF", 1), -255);
}

} // namespace
