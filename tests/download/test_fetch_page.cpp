// fetchPage against the recording loopback server, and the URL helpers it connects with.
#include "download/fetch_page.h"

#include "net/http_text.h"
#include "support/test_server.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace {

const std::string kAgent = std::string("User-Agent: ") + kUserAgent;

std::vector<std::string> linesAfterHost(const RecordedRequest& r)
{
    EXPECT_FALSE(r.headerLines.empty());
    if (r.headerLines.empty())
        return {};
    EXPECT_EQ(r.headerLines[0].rfind("Host: ", 0), 0u) << r.raw;
    return {r.headerLines.begin() + 1, r.headerLines.end()};
}

TEST(UrlHelpers, HostPortAndPath)
{
    struct Case {
        std::string url, host, hostWithPort;
        int port;
        std::string path;
    } cases[] = {
        {"HTTP://Example.COM:8080/a/B?x=1", "example.com", "example.com:8080", 8080, "/a/B?x=1"},
        {"https://Media.example.com", "media.example.com", "media.example.com", 443, "/"},
        {"https://h.example:8443/p/q.m3u8", "h.example", "h.example:8443", 8443, "/p/q.m3u8"},
        {"h.example/x/y.ts", "h.example", "h.example", 80, "/x/y.ts"},
        {"http://127.0.0.1:5000", "127.0.0.1", "127.0.0.1:5000", 5000, "/"},
        {"http://h.example/index.m3u8?k=HTTP://H.EXAMPLE/", "h.example", "h.example", 80,
         "/index.m3u8?k=HTTP://H.EXAMPLE/"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(hostOf(c.url), c.host) << c.url;
        EXPECT_EQ(hostOf(c.url, true), c.hostWithPort) << c.url;
        EXPECT_EQ(portOf(c.url), c.port) << c.url;
        EXPECT_EQ(pathOf(c.url), c.path) << c.url;
    }
}

TEST(FetchPage, DefaultsAndTheRawResponse)
{
    TestServer server;
    server.on("/list.m3u8", CannedResponse{200,
                                           {"Content-Type: application/vnd.apple.mpegurl",
                                            "Set-Cookie: s=9; Path=/"},
                                           "#EXTM3U\n"});
    const std::string url = server.url("/list.m3u8?t=1");
    std::string headers, cookies;
    FetchPageOptions o;
    o.returnedHeaders = &headers;
    o.returnedCookies = &cookies;
    EXPECT_EQ(fetchPage(url, o), "#EXTM3U\n");
    EXPECT_EQ(headers, "HTTP/1.1 200 OK\r\nContent-Type: application/vnd.apple.mpegurl\r\n"
                       "Set-Cookie: s=9; Path=/\r\nContent-Length: 8\r\n\r\n");
    EXPECT_EQ(cookies, "s=9");

    auto r = server.lastRequest();
    ASSERT_TRUE(r);
    EXPECT_EQ(r->requestLine, "GET /list.m3u8?t=1 HTTP/1.1");
    EXPECT_EQ(r->headerLines[0], "Host: " + server.hostPort());
    EXPECT_EQ(linesAfterHost(*r),
              (std::vector<std::string>{kAgent, "Accept: */*", "Referer: " + url,
                                        "Accept-Language: zh-cn"}));
}

TEST(FetchPage, EveryMethodName)
{
    TestServer server;
    server.on("/m", CannedResponse{200, {}, "ok"});
    struct Case {
        int method;
        std::string name;
    } cases[] = {{0, "GET"},     {1, "POST"},   {2, "HEAD"},  {3, "PUT"},
                 {4, "OPTIONS"}, {5, "DELETE"}, {6, "TRACE"}, {7, "CONNECT"},
                 {8, "PATCH"},   {9, "GET"},    {-1, "GET"}};
    for (const auto& c : cases) {
        FetchPageOptions o;
        o.method = c.method;
        EXPECT_EQ(fetchPage(server.url("/m"), o), c.name == "HEAD" ? "" : "ok") << c.method;
        auto r = server.lastRequest();
        ASSERT_TRUE(r);
        EXPECT_EQ(r->requestLine, c.name + " /m HTTP/1.1");
        // Every method but GET and HEAD carries a body, an empty one too.
        const bool body = c.name != "GET" && c.name != "HEAD";
        EXPECT_EQ(r->header("Content-Length"),
                  body ? std::optional<std::string>("0") : std::nullopt)
            << c.name;
        EXPECT_EQ(r->header("Content-Type"),
                  c.name == "POST" ? std::optional<std::string>("application/x-www-form-urlencoded")
                                   : std::nullopt)
            << c.name;
        EXPECT_EQ(r->header("Expect"), std::nullopt);
    }
}

TEST(FetchPage, HeaderBlockForms)
{
    TestServer server;
    const std::string url = server.url("/h");
    struct Case {
        const char* what;
        std::string extra;
        std::optional<std::string> cookies;
        bool complete, normalise;
        std::vector<std::string> expected;
    } cases[] = {
        {"a User-Agent line is the agent and stays a line",
         "user-agent: Agent/2",
         {},
         true,
         true,
         {"User-Agent: Agent/2", "Accept: */*", "Referer: " + url, "Accept-Language: zh-cn"}},
        {"names as written",
         "x-lower: v\r\nuser-agent: a",
         {},
         false,
         false,
         {"x-lower: v", "user-agent: a"}},
        {"names capitalised, lines without colon dropped",
         "x-lower: v\r\njunk",
         {},
         false,
         true,
         {kAgent, "X-Lower: v"}},
        {"names as written, lines without a name or with a bare LF still dropped",
         "x-lower: v\r\njunk\r\n: novalue\r\nx-a: 1\nX-Injected: 2",
         {},
         false,
         false,
         {kAgent, "x-lower: v"}},
        {"a cookie pair",
         "",
         "a=1; b=2",
         true,
         true,
         {kAgent, "Accept: */*", "Referer: " + url, "Accept-Language: zh-cn", "Cookie: a=1; b=2"}},
        {"a cookie text that is already a line",
         "",
         "Cookie: a=1",
         false,
         true,
         {kAgent, "Cookie: a=1"}},
        {"an empty cookie text adds nothing", "", "", false, true, {kAgent}},
        {"given Accept and Referer",
         "Accept: text/html\r\nReferer: http://r/",
         {},
         true,
         true,
         {kAgent, "Accept: text/html", "Referer: http://r/", "Accept-Language: zh-cn"}},
    };
    for (const auto& c : cases) {
        FetchPageOptions o;
        o.extraHeaders = c.extra;
        o.cookies = c.cookies;
        o.completeHeaders = c.complete;
        o.normaliseHeaderNames = c.normalise;
        fetchPage(url, o);
        auto r = server.lastRequest();
        ASSERT_TRUE(r) << c.what;
        EXPECT_EQ(linesAfterHost(*r), c.expected) << c.what << "\n" << r->raw;
    }
}

TEST(FetchPage, ReturnedCookiesMergeTheSentOnes)
{
    TestServer server;
    server.on("/c", CannedResponse{200,
                                   {"Set-Cookie: b=3; Path=/", "Set-Cookie: a=deleted; Max-Age=0",
                                    "Set-Cookie: bare=1"}});
    struct Case {
        std::optional<std::string> sent;
        bool merge;
        std::string returned;
    } cases[] = {
        {"a=1; c=2", true, "b=3;  c=2"},
        {"Cookie: c=2", true, "b=3; c=2"},
        {"a=1; c=2", false, "b=3; a=deleted"},
        {std::nullopt, true, "b=3; a=deleted"},
    };
    for (const auto& c : cases) {
        std::string cookies = "stale";
        FetchPageOptions o;
        o.cookies = c.sent;
        o.mergeCookies = c.merge;
        o.returnedCookies = &cookies;
        fetchPage(server.url("/c"), o);
        EXPECT_EQ(cookies, c.returned) << c.sent.value_or("(none)");
    }
}

TEST(FetchPage, LargeBodiesAndLongHeaderBlocksComeBackWhole)
{
    TestServer server;
    std::string big(30 * 1024 * 1024, '\0');
    for (size_t i = 0; i < big.size(); ++i)
        big[i] = static_cast<char>(i * 7 % 253);
    std::vector<std::string> many;
    for (int i = 0; i < 200; ++i)
        many.push_back("X-Filler-" + std::to_string(i) + ": " + std::string(40, 'f'));
    server.on("/big.ts", CannedResponse{200, many, big});
    server.on("/up", CannedResponse{200, {}, "stored"});

    std::string headers;
    FetchPageOptions o;
    o.returnedHeaders = &headers;
    o.maxBodyBytes = 32 * 1024 * 1024;
    EXPECT_TRUE(fetchPage(server.url("/big.ts"), o) == big);
    EXPECT_GT(headers.size(), 5000u);
    EXPECT_NE(headers.find("X-Filler-199: "), std::string::npos);

    FetchPageOptions post;
    post.method = 1;
    post.bodyText = "ignored";
    post.bodyBytes = big.substr(0, 5 * 1024 * 1024);
    EXPECT_EQ(fetchPage(server.url("/up"), post), "stored");
    auto r = server.lastRequest();
    ASSERT_TRUE(r);
    EXPECT_EQ(r->body, post.bodyBytes);

    post.bodyBytes.clear();
    fetchPage(server.url("/up"), post);
    EXPECT_EQ(server.lastRequest()->body, "ignored");
}

TEST(FetchPage, Redirects)
{
    TestServer server;
    server.on("/from", CannedResponse{301, {"Location: /to"}, "moved"});
    server.on("/to", CannedResponse{200, {}, "here"});
    EXPECT_EQ(fetchPage(server.url("/from")), "here");
    std::string headers;
    FetchPageOptions o;
    o.noRedirect = true;
    o.returnedHeaders = &headers;
    EXPECT_EQ(fetchPage(server.url("/from"), o), "moved");
    EXPECT_EQ(headers.rfind("HTTP/1.1 301 Moved Permanently\r\n", 0), 0u);
    EXPECT_EQ(server.count("/to"), 1);
}

TEST(FetchPage, ProxyForms)
{
    TestServer origin;
    origin.on("/seg.ts", CannedResponse{200, {}, "segment"});
    TestServer tlsOrigin(TestServer::Scheme::Https);
    tlsOrigin.on("/s.m3u8", CannedResponse{200, {}, "secure"});

    // An HTTP proxy gets the absolute address.
    TestServer proxy;
    proxy.on("/seg.ts", CannedResponse{200, {}, "from proxy"});
    FetchPageOptions o;
    o.proxy = proxy.hostPort();
    EXPECT_EQ(fetchPage(origin.url("/seg.ts"), o), "from proxy");
    EXPECT_EQ(proxy.lastRequest()->requestLine, "GET " + origin.url("/seg.ts") + " HTTP/1.1");
    EXPECT_EQ(proxy.lastRequest()->header("Proxy-Connection"), std::nullopt);
    EXPECT_EQ(origin.count("/seg.ts"), 0);

    // An https address goes through the same proxy in a tunnel.
    proxy.enableConnect(true);
    o.policy.caFile = TestServer::certificateFile();
    EXPECT_EQ(fetchPage(tlsOrigin.url("/s.m3u8"), o), "secure");
    EXPECT_EQ(proxy.lastRequest()->requestLine, "CONNECT " + tlsOrigin.hostPort() + " HTTP/1.1");

    // A SOCKS proxy relays to the origin.
    SocksProxy socks;
    FetchPageOptions s;
    s.proxy = socks.hostPort();
    s.socksProxy = true;
    EXPECT_EQ(fetchPage(origin.url("/seg.ts"), s), "segment");
    EXPECT_EQ(socks.targets(), std::vector<std::string>{origin.hostPort()});
    EXPECT_EQ(socks.versions(), std::vector<int>{4});
}

TEST(FetchPage, FailuresAndErrorPages)
{
    TestServer server;
    server.on("/missing", CannedResponse{404, {}, "error page"});
    server.on("/cut", CannedResponse{200, {}, std::string(200000, 'c')}.cutAfter(10000));
    server.on("/hang", CannedResponse{200, {}, std::string(1000, 'h')}.stallAfter(10));
    std::string error, headers = "stale";
    FetchPageOptions o;
    o.errorText = &error;
    o.returnedHeaders = &headers;
    o.timeoutSeconds = 1;

    EXPECT_EQ(fetchPage(server.url("/missing"), o), "error page");
    EXPECT_EQ(error, "HTTP 404");
    EXPECT_EQ(fetchPage(server.url("/cut"), o), "");
    EXPECT_NE(error, "");
    EXPECT_EQ(headers, "");
    EXPECT_EQ(fetchPage(server.url("/hang"), o), "");
    EXPECT_NE(error.find("timed out"), std::string::npos) << error;
    int closedPort;
    {
        TestServer gone;
        closedPort = gone.port();
    }
    EXPECT_EQ(fetchPage("http://127.0.0.1:" + std::to_string(closedPort) + "/x", o), "");
    EXPECT_NE(error, "");
}

TEST(FetchPage, ATricklingServerEndsTheCallUnderALowSpeedLimit)
{
    // One byte every 200 ms never trips the idle limit; the low-speed limit ends it.
    TestServer server;
    server.on("/trickle", CannedResponse{200, {}, std::string(4000, 't')}.slowly(
                              1, std::chrono::milliseconds(200)));
    std::string error;
    FetchPageOptions o;
    o.errorText = &error;
    o.timeoutSeconds = 5;
    o.lowSpeedBytes = 1024;
    o.lowSpeedSeconds = 2;
    EXPECT_EQ(fetchPage(server.url("/trickle"), o), "");
    EXPECT_NE(error.find("too slow"), std::string::npos) << error;
}

// A page past the limit, announced or endless, is a failed call with the limit's reason; none of
// it comes back and no headers or cookies are reported.
TEST(FetchPage, AnAnswerPastTheBodyLimitFails)
{
    TestServer server;
    server.on("/announced",
              CannedResponse{200, {"Set-Cookie: a=1; Path=/"}, std::string(17 * 1024 * 1024, 'a')});
    server.on("/endless", CannedResponse{200, {}, "#EXTINF:1,\nseg.ts\n"}.endless());
    for (const char* path : {"/announced", "/endless"}) {
        SCOPED_TRACE(path);
        std::string error, headers = "stale", cookies = "stale";
        BodyLimitHit hit;
        FetchPageOptions o;
        o.errorText = &error;
        o.returnedHeaders = &headers;
        o.returnedCookies = &cookies;
        o.bodyLimitHit = &hit;
        EXPECT_EQ(fetchPage(server.url(path), o), "");
        EXPECT_EQ(hit.error, BodyLimitError::TooLarge);
        EXPECT_EQ(hit.allowed, kPageBodyLimit);
        EXPECT_NE(error.find("body over the limit"), std::string::npos) << error;
        EXPECT_EQ(headers, "");
        EXPECT_EQ(cookies, "");
    }
}

// The cancel check ends a call to a server that never answers, long before its time-out.
TEST(FetchPage, ACancelledCallEndsAtOnce)
{
    TestServer server;
    server.on("/hang", CannedResponse{200, {}, std::string(100000, 'h')}.slowly(
                           100, std::chrono::milliseconds(500)));
    std::atomic<bool> cancel{false};
    std::thread canceller([&] {
        server.waitForRequests(1, std::chrono::seconds(30));
        cancel = true;
    });
    std::string error;
    FetchPageOptions o;
    o.errorText = &error;
    o.timeoutSeconds = 600;
    o.cancelled = [&] { return cancel.load(); };
    EXPECT_EQ(fetchPage(server.url("/hang"), o), "");
    canceller.join();
    EXPECT_EQ(error, "cancelled");
}

TEST(FetchPage, ManyThreadsAtOnce)
{
    TestServer server(TestServer::Scheme::Https);
    server.onHandler("/n", [](const RecordedRequest& r, int) {
        return CannedResponse{200, {}, r.target};
    });
    std::vector<std::thread> threads;
    std::vector<int> good(6, 0);
    FetchPageOptions o;
    o.policy.caFile = TestServer::certificateFile();
    for (int i = 0; i < 6; ++i)
        // Worker thread: its own fetches, nothing shared but the server.
        threads.emplace_back([&, i] {
            for (int k = 0; k < 4; ++k) {
                const std::string path = "/n?i=" + std::to_string(i) + "&k=" + std::to_string(k);
                good[i] += fetchPage(server.url(path), o) == path;
            }
        });
    for (auto& t : threads)
        t.join();
    EXPECT_EQ(good, std::vector<int>(6, 4));
}

// A page over HTTPS is taken only from a server whose certificate verifies under the policy: the
// test authority trusted through the certificate file, and the host named in the certificate.
TEST(FetchPage, RefusesAPageWhoseCertificateDoesNotVerify)
{
    TestServer right(TestServer::Scheme::Https);
    TestServer wrong(TestServer::Scheme::Https, "127.0.0.1", TestServer::Certificate::WrongName);
    for (TestServer* s : {&right, &wrong})
        s->on("/list.m3u8", CannedResponse{200, {}, "#EXTM3U\n"});
    struct Case {
        const char* what;
        TestServer* server;
        bool trustAuthority;
        bool accepted;
    };
    const Case cases[] = {
        {"trusted authority, right name", &right, true, true},
        {"authority not trusted", &right, false, false},
        {"trusted authority, wrong name", &wrong, true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        c.server->clearRecords();
        FetchPageOptions o;
        if (c.trustAuthority)
            o.policy.caFile = TestServer::certificateFile();
        std::string error;
        TransferError failure;
        o.errorText = &error;
        o.failure = &failure;
        const std::string body = fetchPage(c.server->url("/list.m3u8"), o);
        EXPECT_EQ(body, c.accepted ? "#EXTM3U\n" : "");
        EXPECT_EQ(failure.kind, c.accepted ? TransferFailure::None : TransferFailure::Certificate)
            << error;
        EXPECT_EQ(failure.host, c.accepted ? "" : "127.0.0.1");
        EXPECT_EQ(c.server->count("/list.m3u8"), c.accepted ? 1 : 0);
    }
}

// A playlist redirected from https to plain http, or to any address that is not http(s), is not
// fetched from there: the call fails and the other server sees no connection.
TEST(FetchPage, RedirectsStayOnWebAddressesAndNeverLeaveHttps)
{
    TestServer plain;
    plain.on("/list.m3u8", CannedResponse{200, {}, "plain"});
    TestServer tls(TestServer::Scheme::Https);
    tls.on("/down", CannedResponse{302, {"Location: " + plain.url("/list.m3u8")}});
    tls.on("/ftp", CannedResponse{301, {"Location: ftp://" + plain.hostPort() + "/list.m3u8"}});
    tls.on("/up", CannedResponse{302, {"Location: /list.m3u8"}});
    tls.on("/list.m3u8", CannedResponse{200, {}, "secure"});
    plain.on("/ftp", CannedResponse{302, {"Location: ftp://" + plain.hostPort() + "/list.m3u8"}});
    struct Case {
        const char* what;
        std::string url;
        std::string body;
        int plainConnections;
    };
    const Case cases[] = {
        {"https to http", tls.url("/down"), "", 0},
        {"https to ftp", tls.url("/ftp"), "", 0},
        {"http to ftp", plain.url("/ftp"), "", 1},
        {"https within https", tls.url("/up"), "secure", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const int before = plain.connectionCount();
        FetchPageOptions o;
        o.policy.caFile = TestServer::certificateFile();
        std::string error;
        o.errorText = &error;
        EXPECT_EQ(fetchPage(c.url, o), c.body);
        EXPECT_EQ(error.empty(), !c.body.empty()) << error;
        EXPECT_EQ(plain.connectionCount() - before, c.plainConnections);
        EXPECT_EQ(plain.count("/list.m3u8"), 0);
    }
}

// Cookies handed over in the cookie-file form go only where they belong: to their own host (a
// redirect to another host included), below their own path, and Secure ones over https only.
// For a matching request the Cookie line is the one the plain cookie text gives.
TEST(FetchPage, CookieFileLinesGoOnlyToTheirOwnHostPathAndScheme)
{
    TestServer first;                                         // 127.0.0.1, the player page's host
    TestServer second(TestServer::Scheme::Http, "127.0.0.2"); // another host
    TestServer secondTls(TestServer::Scheme::Https, "127.0.0.2"); // the same host over https
    for (TestServer* s : {&first, &second, &secondTls})
        s->onPrefix("/", [](const RecordedRequest&, int) { return CannedResponse{200, {}, "ok"}; });
    first.on("/away", CannedResponse{302, {"Location: " + second.url("/a/list.m3u8")}});
    // (libcurl counts plain http to 127.0.0.1 itself as a secure context, so the Secure cookie
    // belongs to the second host.)
    const std::string cookies = "127.0.0.1\tFALSE\t/\tFALSE\t0\tsid\t42\n"
                                "#HttpOnly_127.0.0.1\tFALSE\t/a\tFALSE\t0\tonlyA\t1\n"
                                "127.0.0.2\tFALSE\t/\tFALSE\t0\tother\to\n"
                                "127.0.0.2\tFALSE\t/\tTRUE\t0\tsafe\ts\r\n"
                                "ALL\n";
    struct Case {
        const char* what;
        TestServer* server;
        std::string url;
        std::string path; // the request that is checked
        std::optional<std::string> cookie;
    };
    const Case cases[] = {
        {"the host, the root path", &first, first.url("/b/list.m3u8"), "/b/list.m3u8", "sid=42"},
        {"the host, below /a", &first, first.url("/a/list.m3u8"), "/a/list.m3u8",
         "onlyA=1; sid=42"},
        {"/ab is not below /a", &first, first.url("/ab"), "/ab", "sid=42"},
        {"another host over http: no Secure one", &second, second.url("/a/x"), "/a/x", "other=o"},
        {"another host over https: the Secure one too", &secondTls, secondTls.url("/b"), "/b",
         "other=o; safe=s"},
        {"a redirect to another host", &second, first.url("/away"), "/a/list.m3u8", "other=o"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        c.server->clearRecords();
        FetchPageOptions o;
        o.cookieFile = cookies;
        o.policy.caFile = TestServer::certificateFile();
        EXPECT_EQ(fetchPage(c.url, o), "ok");
        auto reqs = c.server->requestsFor(c.path);
        ASSERT_EQ(reqs.size(), 1u);
        EXPECT_EQ(reqs[0].header("Cookie"), c.cookie) << reqs[0].raw;
        EXPECT_EQ(reqs[0].raw.find("Cookie:"), reqs[0].raw.rfind("Cookie:")); // one Cookie line
    }
    // The redirecting host saw its own cookie, and none of the other host's.
    EXPECT_EQ(first.requestsFor("/away").at(0).header("Cookie"), "sid=42");
}

} // namespace
