#include "util/marker_text.h"
#include "util/text_number.h"

#include <gtest/gtest.h>

#include <limits>

namespace {

struct BetweenCase {
    const char* text;
    const char* left;
    const char* right;
    int start;
    bool caseInsensitive;
    const char* expected;
};

class TextBetweenTest : public ::testing::TestWithParam<BetweenCase> {};

TEST_P(TextBetweenTest, CutsTheTextBetweenTheMarkers)
{
    const BetweenCase& c = GetParam();
    EXPECT_EQ(textBetween(c.text, c.left, c.right, c.start, c.caseInsensitive), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TextBetweenTest,
    ::testing::Values(
        BetweenCase{"https://host.example/a/b", "//", "/", 1, false, "host.example"},
        BetweenCase{"a//b/c", "//", "/", 1, false, "b"},
        BetweenCase{"[版本1]7.4[版本2]", "[版本1]", "[版本2]", 1, false, "7.4"},
        // The right marker is looked for only after the left one.
        BetweenCase{"]x[版本1]7.4", "[版本1]", "]", 1, false, ""},
        BetweenCase{"no markers here", "<", ">", 1, false, ""},
        BetweenCase{"ab", "a", "b", 1, false, ""},
        // "#引号" in a marker stands for a double quote.
        BetweenCase{"\"x\"", "#引号", "#引号", 1, false, "x"},
        BetweenCase{"src=\"a.ts\" id", "src=#引号", "#引号", 1, false, "a.ts"},
        // Start positions count bytes from 1: "中" is three bytes, so the first "k=" is at byte 4.
        BetweenCase{"中k=1;k=2;", "k=", ";", 4, false, "1"},
        BetweenCase{"中k=1;k=2;", "k=", ";", 5, false, "2"},
        BetweenCase{"中k=1;k=2;", "k=", ";", 9, false, ""},
        BetweenCase{"中k=1;k=2;", "k=", ";", 0, false, "1"},
        BetweenCase{"short", "s", "t", 99, false, ""},
        // Only ASCII letters fold, and only when asked.
        BetweenCase{"<A>x</a>", "<a>", "</A>", 1, true, "x"},
        BetweenCase{"<A>x</a>", "<a>", "</A>", 1, false, ""},
        BetweenCase{"User-Agent: UA\r\n", "user-agent:", "\r\n", 1, true, " UA"}));

TEST(TextAfterLastTest, TakesWhatFollowsTheLastMarker)
{
    EXPECT_EQ(textAfterLast("x/y/z.ts", "/"), "z.ts");
    EXPECT_EQ(textAfterLast("x/y/z.ts", "\\"), "");
    EXPECT_EQ(textAfterLast("dir/", "/"), "");
    EXPECT_EQ(textAfterLast("第1集的第2集", "第"), "2集");
}

TEST(TextToIntTest, TakesTheLeadingDigits)
{
    const struct {
        const char* text;
        int32_t expected;
    } cases[] = {
        {"12ab", 12},
        {"abc", 0},
        {"", 0},
        {"0800", 800},
        {"-1", -1},
        {" 7", 7},
        {"1|2|3", 1},
        {"+5", 5},
        {"-", 0},
        {"9.9", 9},
        {"99999999999", std::numeric_limits<int32_t>::max()},
        {"-99999999999", std::numeric_limits<int32_t>::min()},
    };
    for (const auto& c : cases)
        EXPECT_EQ(textToInt(c.text), c.expected) << '"' << c.text << '"';
}

} // namespace
