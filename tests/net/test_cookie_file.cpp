// A browser cookie as a Netscape cookie-file line, the form libcurl's cookie engine reads.
#include "net/cookie_file.h"

#include <gtest/gtest.h>

namespace {

TEST(CookieFileLine, EveryFieldInItsPlace)
{
    auto cookie = [](std::string domain, std::string path, bool secure, bool httpOnly,
                     std::int64_t expires) {
        BrowserCookie c;
        c.domain = std::move(domain);
        c.path = std::move(path);
        c.name = "sid";
        c.value = "a=b;c";
        c.secure = secure;
        c.httpOnly = httpOnly;
        c.expires = expires;
        return c;
    };
    struct Case {
        const char* what;
        BrowserCookie cookie;
        std::string line;
    };
    const Case cases[] = {
        {"a host-only session cookie", cookie("127.0.0.1", "/", false, false, 0),
         "127.0.0.1\tFALSE\t/\tFALSE\t0\tsid\ta=b;c"},
        {"a domain cookie includes subdomains", cookie(".example.org", "/a", false, false, 0),
         ".example.org\tTRUE\t/a\tFALSE\t0\tsid\ta=b;c"},
        {"Secure, with an expiry", cookie("h.example", "/", true, false, 1893456000),
         "h.example\tFALSE\t/\tTRUE\t1893456000\tsid\ta=b;c"},
        {"HttpOnly is the line's prefix", cookie("127.0.0.1", "/p", false, true, 0),
         "#HttpOnly_127.0.0.1\tFALSE\t/p\tFALSE\t0\tsid\ta=b;c"},
        {"an empty path is the root", cookie("127.0.0.1", "", false, false, 0),
         "127.0.0.1\tFALSE\t/\tFALSE\t0\tsid\ta=b;c"},
        {"a negative expiry is a session cookie", cookie("127.0.0.1", "/", false, false, -5),
         "127.0.0.1\tFALSE\t/\tFALSE\t0\tsid\ta=b;c"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(netscapeCookieLine(c.cookie), c.line) << c.what;
}

// A cookie whose fields would break the line apart (or be read as another line) is left out.
TEST(CookieFileLine, FieldsThatWouldBreakTheLineLeaveTheCookieOut)
{
    for (const std::string& bad :
         {std::string("a\tb"), std::string("a\nb"), std::string("a\rb"), std::string("a\0b", 3)}) {
        BrowserCookie c;
        c.domain = "127.0.0.1";
        c.name = "n";
        c.value = bad;
        EXPECT_EQ(netscapeCookieLine(c), "");
        c.value = "v";
        c.path = "/" + bad;
        EXPECT_EQ(netscapeCookieLine(c), "");
        c.path = "/";
        c.name = bad;
        EXPECT_EQ(netscapeCookieLine(c), "");
    }
    BrowserCookie noDomain;
    noDomain.name = "n";
    EXPECT_EQ(netscapeCookieLine(noDomain), "");
    BrowserCookie noName;
    noName.domain = "127.0.0.1";
    EXPECT_EQ(netscapeCookieLine(noName), "");
}

} // namespace
