#include "util/regex_matcher.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// A playlist as the downloader sees it: segment lines hold a "/", the last line has no line feed
// and the lines end with CR LF.
const std::string kPlaylist =
    "#EXTM3U\r\n#EXTINF:10,\r\n/seg/a0.ts\r\n#EXTINF:10,\r\n/seg/a1.ts\r\n/seg/a2.ts";

TEST(RegexMatcherTest, PlaylistLinesIncludingTheCarriageReturnButNotAnUnterminatedLastLine)
{
    RegexMatcher m;
    ASSERT_TRUE(m.match("/(.*?)\n", kPlaylist));
    ASSERT_EQ(m.matchCount(), 2);
    EXPECT_EQ(m.matchText(1), "/seg/a0.ts\r\n");
    EXPECT_EQ(m.submatchText(1, 1), "seg/a0.ts\r");
    EXPECT_EQ(m.submatchText(2, 1), "seg/a1.ts\r");
    EXPECT_EQ(m.matchText(3), "") << "the last line has no line feed";
    EXPECT_EQ(m.submatchCount(), 1);
    EXPECT_EQ(m.getPattern(), "/(.*?)\n");
}

TEST(RegexMatcherTest, ThreeLinesTwoWithSlash)
{
    RegexMatcher m;
    ASSERT_TRUE(m.match("/(.*?)\n", "http://h/x.ts\nplain\n/y.ts\n"));
    ASSERT_EQ(m.matchCount(), 2);
    EXPECT_EQ(m.matchText(1), "//h/x.ts\n");
    EXPECT_EQ(m.submatchText(1, 1), "/h/x.ts");
    EXPECT_EQ(m.submatchText(2, 1), "y.ts");
    int position = -1;
    EXPECT_EQ(m.matchText(2, &position), "/y.ts\n");
    EXPECT_EQ(position, 21) << "bytes from 1";
}

TEST(RegexMatcherTest, OptionsCaseMultilineAndGlobal)
{
    RegexMatcher m;
    ASSERT_TRUE(m.match("ts$", "a.TS\nb.ts\nc.ts"));
    EXPECT_EQ(m.matchCount(), 3) << "case-insensitive and multiline by default";

    ASSERT_TRUE(m.match("ts$", "a.TS\nb.ts\nc.ts", true));
    EXPECT_EQ(m.matchCount(), 2);

    ASSERT_TRUE(m.match("ts$", "a.TS\nb.ts\nc.ts", false, false));
    EXPECT_EQ(m.matchCount(), 1) << "without multiline $ is the very end";
    ASSERT_TRUE(m.match("ts$", "a.ts\n", false, false));
    EXPECT_EQ(m.matchCount(), 0) << "not even before a final line feed";

    ASSERT_TRUE(m.match("^", "a\nb\n"));
    EXPECT_EQ(m.matchCount(), 3) << "line starts, including the one after the last line feed";
    ASSERT_TRUE(m.match("^#EXT", "#EXTM3U\r\n#EXTINF:1,\r\nx", false, false));
    EXPECT_EQ(m.matchCount(), 1) << "without multiline only the start";

    ASSERT_TRUE(m.match("\\d+", "1 22 333", false, true, false));
    ASSERT_EQ(m.matchCount(), 1) << "without global only the first";
    EXPECT_EQ(m.matchText(1), "1");
}

// Multiline "^" and "$" stop at a carriage return as at a line feed (old Mac line ends, CR LF
// playlists), while "." still takes a carriage return and anchors inside classes or escaped stay
// characters.
TEST(RegexMatcherTest, MultilineAnchorsHonourCarriageReturns)
{
    struct Case {
        const char* pattern;
        std::string subject;
        int count;
        const char* first;
    } cases[] = {
        {"ts$", "a.ts\r\nb.ts\rc.ts", 3, "ts"},
        {"^#\\w", "#A\r#B\r\n#C\nx#D", 3, "#A"},
        {"^\\w+$", "one\rtwo\r\nthree", 3, "one"},
        {"a.b", "a\rb", 1, "a\rb"},
        {"[$^]", "a$b^", 2, "$"},
        {"[^$]x", "$x yx", 1, "yx"},
        {"[]$]", "]$", 2, "]"},
        {"\\$\\d", "$1 $2", 2, "$1"},
        {"\\^", "a^b", 1, "^"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pattern);
        RegexMatcher m;
        ASSERT_TRUE(m.match(c.pattern, c.subject));
        EXPECT_EQ(m.matchCount(), c.count);
        EXPECT_EQ(m.matchText(1), c.first);
        EXPECT_EQ(m.getPattern(), c.pattern);
    }
    RegexMatcher whole;
    ASSERT_TRUE(whole.match("ts$", "a.ts\rb.ts", false, false));
    EXPECT_EQ(whole.matchCount(), 1) << "without multiline $ is still the very end";
}

// When the engine gives up on a subject (its match limit), the match reports failure instead of
// a collection cut short.
TEST(RegexMatcherTest, AnEngineLimitIsAFailureNotAShortCollection)
{
    const std::string subject = "x x " + std::string(40, 'a') + "!";
    RegexMatcher m;
    EXPECT_FALSE(m.match("x|(a+)+b", subject));
    EXPECT_EQ(m.matchCount(), 0);
    EXPECT_EQ(m.matchText(1), "");
    ASSERT_TRUE(m.match("x|(a+)+b", "x x aab"));
    EXPECT_EQ(m.matchCount(), 3);
}

TEST(RegexMatcherTest, JavaScriptEscapesAndUtf8Subjects)
{
    RegexMatcher m;
    ASSERT_TRUE(m.match("[\\u4e00-\\u9fa5]+", "第12集 大结局"));
    ASSERT_EQ(m.matchCount(), 3);
    EXPECT_EQ(m.matchText(1), "第");
    EXPECT_EQ(m.matchText(3), "大结局");
    ASSERT_TRUE(m.match("\\x41.", "xAé"));
    EXPECT_EQ(m.matchText(1), "Aé") << "\"\\x41\" is \"A\" and \".\" is one whole character";
    // A subject that is not valid UTF-8 is still searched.
    ASSERT_TRUE(m.match("ts", "\xff\xfe.ts"));
    EXPECT_EQ(m.matchCount(), 1);
}

TEST(RegexMatcherTest, EmptyMatchesMoveOnByOneCharacter)
{
    RegexMatcher m;
    ASSERT_TRUE(m.match("a*", "baa中"));
    ASSERT_EQ(m.matchCount(), 4);
    EXPECT_EQ(m.matchText(1), "");
    EXPECT_EQ(m.matchText(2), "aa");
    EXPECT_EQ(m.matchText(3), "");
    EXPECT_EQ(m.matchText(4), "");
}

TEST(RegexMatcherTest, RejectedPatternGivesFalseAndEmptyResults)
{
    RegexMatcher m;
    ASSERT_TRUE(m.match("(a)", "a"));
    EXPECT_FALSE(m.match("(unbalanced", "unbalanced"));
    EXPECT_EQ(m.matchCount(), 0);
    EXPECT_EQ(m.matchText(1), "");
    EXPECT_EQ(m.submatchText(1, 1), "");
    EXPECT_EQ(m.submatchCount(), 0);
    EXPECT_EQ(m.replace("x"), "");

    RegexMatcher fresh;
    EXPECT_EQ(fresh.matchCount(), 0);
    EXPECT_EQ(fresh.getPattern(), "");
    EXPECT_EQ(fresh.matchText(1), "");
}

TEST(RegexMatcherTest, GroupsOutsideTheCollectionAndUnsetGroups)
{
    RegexMatcher m;
    ASSERT_TRUE(m.match("(\\w+)=(\\d+)?", "a=1 b= c=3"));
    ASSERT_EQ(m.matchCount(), 3);
    EXPECT_EQ(m.submatchCount(), 2);
    EXPECT_EQ(m.submatchText(3, 2), "3");
    EXPECT_EQ(m.submatchText(2, 2), "") << "group took no part";
    EXPECT_EQ(m.submatchText(1, 3), "");
    EXPECT_EQ(m.submatchText(1, 0), "");
    EXPECT_EQ(m.submatchText(0, 1), "");
    EXPECT_EQ(m.submatchText(4, 1), "");

    ASSERT_TRUE(m.match("(x)(y)", "no match here"));
    EXPECT_EQ(m.submatchCount(), 0) << "no first match";
}

TEST(RegexMatcherTest, QuoteSubstitution)
{
    RegexMatcher m;
    ASSERT_TRUE(m.match("a#引号b", "a\"b", false, true, true, true));
    EXPECT_EQ(m.matchCount(), 1);
    EXPECT_EQ(m.getPattern(), "a\"b");
    ASSERT_TRUE(m.match("a#引号b", "a\"b"));
    EXPECT_EQ(m.matchCount(), 0) << "only when asked";
    ASSERT_TRUE(m.match("src=#引号(.*?)#引号", "<a src=\"1.ts\"> <a src=\"2.ts\">", false, true,
                        true, true));
    EXPECT_EQ(m.submatchText(2, 1), "2.ts");
}

TEST(RegexMatcherTest, ReplaceUsesTheMatchesOfTheLastRun)
{
    RegexMatcher m;
    ASSERT_TRUE(m.match("(\\w+)@(\\w+)", "ann@x, bob@y"));
    EXPECT_EQ(m.replace("$2:$1"), "x:ann, y:bob");
    EXPECT_EQ(m.replace("[$&]$$"), "[ann@x]$, [bob@y]$");
    EXPECT_EQ(m.replace("$3$0"), "$3$0, $3$0") << "groups that do not exist stay literal";
    ASSERT_TRUE(m.match("b", "abc"));
    EXPECT_EQ(m.replace("<$`|$'>"), "a<a|c>c");
    ASSERT_TRUE(m.match("o", "foo", false, true, false));
    EXPECT_EQ(m.replace("0"), "f0o") << "without global only the first";
}

TEST(RegexMatcherTest, CopiesShareTheResultAndKeepTheirOwnSubject)
{
    RegexMatcher m;
    ASSERT_TRUE(m.match("(\\d)", "a1b2"));
    RegexMatcher copy = m;
    ASSERT_TRUE(m.match("z", "zzz"));
    EXPECT_EQ(copy.matchCount(), 2);
    EXPECT_EQ(copy.submatchText(2, 1), "2");
    EXPECT_EQ(m.matchCount(), 3);
}

TEST(IsChineseTextTest, Cases)
{
    const struct {
        const char* text;
        bool withEngine;
        bool withoutEngine;
    } cases[] = {
        // One case a line, each with its note.
        // clang-format off
        {"中", true, true},
        {"a", false, false},
        {"中a", false, false},
        {"\u3000", false, false}, // the full-width space alone
        {"中文", true, true},
        {"中 文", false, false},  // the space is gone for the length test only
        {"é", false, true},       // two UTF-8 bytes, but not an ideograph
        {"龥", true, true},       // U+9FA5, the last one
        {"龦", false, true},      // U+9FA6
        {"中\n", false, false},
        {"", false, false},
        // clang-format on
    };
    for (const auto& c : cases) {
        EXPECT_EQ(isChineseText(c.text), c.withEngine) << c.text;
        EXPECT_EQ(isChineseText(c.text, false), c.withoutEngine) << c.text;
    }
}

} // namespace
