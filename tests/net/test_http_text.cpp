// Header-line, cookie and Base64 routines of the HTTP request, and charset conversion.
#include "net/charset.h"
#include "net/http_text.h"

#include <gtest/gtest.h>

namespace {

TEST(HeaderLines, NameAndValueAreTrimmedAroundTheFirstColon)
{
    struct Case {
        std::string line, name, value;
    } cases[] = {
        {"  Accept :  */*  ", "Accept", "*/*"},
        {"Referer: http://h:8080/x", "Referer", "http://h:8080/x"},
        {"X-Empty:", "X-Empty", ""},
        {"no colon here", "", ""},
        {":value", "", "value"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(headerName(c.line), c.name) << c.line;
        EXPECT_EQ(headerValue(c.line), c.value) << c.line;
    }
}

TEST(HeaderLines, CapitalizeRewritesEveryNamePieceAndDropsLinesWithoutColon)
{
    EXPECT_EQ(capitalizeHeaderNames("\r\nuser-agent: x\r\nnot a header\r\nx-requested-with:  y \r\n"
                                    "ALL-CAPS: z\r\n1st-piece:v\r\nreferer: http://a-b/c-d"),
              "User-Agent: x\r\nX-Requested-With:  y \r\nALL-CAPS: z\r\n1st-Piece:v\r\n"
              "Referer: http://a-b/c-d");
    EXPECT_EQ(capitalizeHeaderNames("cookie"), "");
    EXPECT_EQ(capitalizeHeaderNames("accept:*/*"), "Accept:*/*");
}

TEST(Cookies, ExtractTakesPairsOfSetCookieLinesWithAttributesOnly)
{
    EXPECT_EQ(extractSetCookies({"HTTP/1.1 200 OK", "Set-Cookie: a=1; Path=/", "set-cookie:b=2",
                                 "SET-COOKIE:  c=3 ;HttpOnly", "X-Set-Cookie: d=4; x",
                                 "Set-Cookie: e=deleted; expires=Thu, 01 Jan 1970 00:00:00 GMT"}),
              "a=1; c=3; e=deleted");
    EXPECT_EQ(extractSetCookies({}), "");
}

TEST(Cookies, MergeKeepsReceivedOrderAndUnrenewedSentCookies)
{
    struct Case {
        std::string sent, received, merged;
    } cases[] = {
        // Items keep the space that followed ";" in their text; the join adds "; ".
        {"a=1; b=2", "b=3; c=4", "b=3;  c=4; a=1"},
        // A deleted cookie is dropped and keeps the sent one of its name from coming back.
        {"a=1; b=2", "b=deleted; c=4", " c=4; a=1"},
        {"  a=1;  ", "a=2", "a=2"},
        {"sid=x", "", "sid=x"},
        {"", "sid=y", "sid=y"},
        {"", "", ""},
        {"a=1;b=1", "a=1", "a=1; b=1"},
        {"k = v", "k=w", "k=w"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(mergeCookies(c.sent, c.received), c.merged) << c.sent << " + " << c.received;
}

TEST(Cookies, NameAndDedupe)
{
    EXPECT_EQ(cookieName(" a = 1"), "a");
    EXPECT_EQ(cookieName("  flag "), "flag");
    EXPECT_EQ(cookieName("x=y=z"), "x");
    EXPECT_EQ(dedupeJoined("x; y; x; z; y", "; "), "x; y; z");
    EXPECT_EQ(dedupeJoined("x;  x", "; "), "x;  x");
    EXPECT_EQ(dedupeJoined("", "; "), "");
}

TEST(Base64, StandardAlphabetAndPadding)
{
    struct Case {
        std::string in, out;
    } cases[] = {
        {"", ""},
        {"f", "Zg=="},
        {"fo", "Zm8="},
        {"foo", "Zm9v"},
        {"foobar", "Zm9vYmFy"},
        {std::string("\xff\xfe\x00", 3), "//4A"},
        {"user:\xc3\xdc\xc2\xeb", "dXNlcjrD3MLr"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(base64Encode(c.in), c.out) << c.in;
}

TEST(Charset, ConvertsBetweenCharsetsAndSubstitutesWhatCannotBeRepresented)
{
    EXPECT_EQ(convertCharset("中文 ok"), "\xd6\xd0\xce\xc4 ok");
    EXPECT_EQ(convertCharset("\xd6\xd0\xce\xc4", "GBK", "UTF-8"), "中文");
    // An emoji has no GBK form; a stray byte is not UTF-8.
    EXPECT_EQ(convertCharset("a\xf0\x9f\x98\x80z\xffq"), "a?z?q");
    EXPECT_EQ(convertCharset(""), "");
    EXPECT_EQ(convertCharset("x", "UTF-8", "NO-SUCH-CHARSET"), "");
    // skip drops the byte-order mark that UTF-16 output starts with.
    EXPECT_EQ(convertCharset("A", "UTF-8", "UTF-16"), std::string("\xff\xfe"
                                                                  "A\0",
                                                                  4));
    EXPECT_EQ(convertCharset("A", "UTF-8", "UTF-16", 2), std::string("A\0", 2));
    EXPECT_EQ(gb18030ToUtf8(utf8ToGb18030("数据 😀")), "数据 😀");
}

// Every spelling of UTF-8 converts alike: one "?" per whole character that GBK lacks and per
// stray byte, never one per byte of a character.
TEST(Charset, EverySpellingOfUtf8ConvertsAlike)
{
    const std::string text = "a\xf0\x9f\x98\x80z\xffq中";
    const std::string expected = "a?z?q\xd6\xd0";
    for (const char* name : {"UTF-8", "utf-8", "utf8", "UTF8", "Utf_8"}) {
        EXPECT_EQ(convertCharset(text, name), expected) << name;
        EXPECT_EQ(convertCharset("\xe4\xb8", name, "GBK"), "?") << name << ": a cut character";
    }
}

} // namespace
