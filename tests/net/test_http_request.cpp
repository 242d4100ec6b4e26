// HttpRequest against the recording loopback server: the request exactly as it goes over the
// wire, and what the caller gets back.
#include "net/http_request.h"

#include "support/test_server.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <thread>

namespace {

using namespace std::chrono_literals;

const std::string kAgent = std::string("User-Agent: ") + kUserAgent;

// The header lines after Host, which libcurl always sends first.
std::vector<std::string> linesAfterHost(const RecordedRequest& r)
{
    EXPECT_FALSE(r.headerLines.empty());
    if (r.headerLines.empty())
        return {};
    EXPECT_EQ(r.headerLines[0].rfind("Host: ", 0), 0u) << r.raw;
    return {r.headerLines.begin() + 1, r.headerLines.end()};
}

TEST(HttpRequest, DefaultsOnlySendsTheFourBrowserHeadersInOrder)
{
    TestServer server;
    server.on("/p", CannedResponse{200, {"X-A: 1", "Content-Type: text/plain"}, "hello"});
    HttpRequest req;
    const std::string url = server.url("/p?q=1");
    EXPECT_EQ(req.send(url), "hello");
    EXPECT_EQ(req.statusCode(), 200);
    EXPECT_EQ(req.errorText(), "");
    EXPECT_EQ(req.responseHeaders(), "X-A: 1\r\nContent-Type: text/plain\r\nContent-Length: 5\r\n");
    EXPECT_EQ(req.receivedCookies(), "");

    auto r = server.lastRequest();
    ASSERT_TRUE(r);
    EXPECT_EQ(r->requestLine, "GET /p?q=1 HTTP/1.1");
    EXPECT_EQ(r->headerLines[0], "Host: " + server.hostPort());
    EXPECT_EQ(linesAfterHost(*r), (std::vector<std::string>{"Accept: */*", "Referer: " + url,
                                                            "Accept-Language: zh-cn", kAgent}));
    EXPECT_EQ(r->body, "");
}

TEST(HttpRequest, HeaderBlockComposition)
{
    TestServer server;
    const std::string url = server.url("/h");
    struct Case {
        const char* what;
        RequestOptions options;
        std::vector<std::string> expected; // after Host
    };
    auto opts = [](std::string extra, bool complete = true, bool capitalise = true) {
        RequestOptions o;
        o.extraHeaders = std::move(extra);
        o.completeHeaders = complete;
        o.capitalizeNames = capitalise;
        return o;
    };
    auto withCookies = [&](std::optional<std::string> c) {
        RequestOptions o;
        o.cookies = std::move(c);
        return o;
    };
    const std::vector<std::string> defaults = {"Accept: */*", "Referer: " + url,
                                               "Accept-Language: zh-cn", kAgent};
    auto defaultsAfter = [&](std::vector<std::string> first) {
        first.insert(first.end(), defaults.begin(), defaults.end());
        return first;
    };
    Case cases[] = {
        {"lower-case user agent keeps its value under the name User-Agent",
         opts("user-agent: MyAgent/1.0"),
         {"User-Agent: MyAgent/1.0", "Accept: */*", "Referer: " + url, "Accept-Language: zh-cn"}},
        {"Connection: keep-alive is left to the library, other values are sent",
         opts("Connection: keep-alive\r\nx-a: 1\r\nConnection: close"),
         defaultsAfter({"X-A: 1", "Connection: close"})},
        {"given Accept and Referer are not repeated",
         opts("accept: text/html\r\nreferer: http://other/"),
         {"Accept: text/html", "Referer: http://other/", "Accept-Language: zh-cn", kAgent}},
        {"single line without completion", opts("x-token: abc", false), {"X-Token: abc"}},
        {"single line, names as written", opts("x-token: abc", false, false), {"x-token: abc"}},
        {"nothing at all", opts("", false), {}},
        {"lines without a name are skipped",
         opts("\r\nnocolon\r\n: v\r\nA: 1", false, false),
         {"A: 1"}},
        {"cookies go before the header lines", withCookies("a=1; b=2"),
         defaultsAfter({"Cookie: a=1; b=2"})},
        {"an empty cookie text still sends the header", withCookies(""),
         defaultsAfter({"Cookie:"})},
        {"a cookie text with its own Cookie: prefix", withCookies("Cookie: a=1"),
         defaultsAfter({"Cookie: a=1"})},
        {"cookies not given", withCookies(std::nullopt), defaults},
    };
    for (const auto& c : cases) {
        server.clearRecords();
        HttpRequest req;
        req.send(url, c.options);
        auto r = server.lastRequest();
        ASSERT_TRUE(r) << c.what;
        EXPECT_EQ(linesAfterHost(*r), c.expected) << c.what << "\n" << r->raw;
    }
}

TEST(HttpRequest, EveryMethodIndexAndItsBody)
{
    TestServer server;
    server.on("/m", CannedResponse{200, {}, "body"});
    struct Case {
        int method;
        std::string name;
        std::string bodyText, bodyBytes;
        std::optional<std::string> sentBody; // nullopt: no Content-Length at all
    } cases[] = {
        {0, "GET", "", "", std::nullopt},
        {1, "POST", "", "", ""},
        {1, "POST", "a=1&b=2", "", "a=1&b=2"},
        {1, "POST", "ignored", std::string("\0\x01\xff", 3), std::string("\0\x01\xff", 3)},
        {2, "HEAD", "", "", std::nullopt},
        {3, "PUT", "", "", ""},
        {4, "OPTIONS", "", "", std::nullopt},
        {5, "DELETE", "x", "", "x"},
        {6, "TRACE", "", "", std::nullopt},
        {7, "CONNECT", "", "", std::nullopt},
        {8, "PATCH", "p", "", "p"},
        {9, "GET", "", "", std::nullopt},
        {-1, "GET", "", "", std::nullopt},
    };
    for (const auto& c : cases) {
        server.clearRecords();
        HttpRequest req;
        RequestOptions o;
        o.method = c.method;
        o.bodyText = c.bodyText;
        o.bodyBytes = c.bodyBytes;
        const std::string body = req.send(server.url("/m"), o);
        EXPECT_EQ(body, c.name == "HEAD" ? "" : "body") << c.method;
        auto r = server.lastRequest();
        ASSERT_TRUE(r) << c.method;
        EXPECT_EQ(r->requestLine, c.name + " /m HTTP/1.1");
        EXPECT_EQ(r->header("Content-Length"),
                  c.sentBody ? std::optional(std::to_string(c.sentBody->size())) : std::nullopt)
            << c.method;
        EXPECT_EQ(r->body, c.sentBody.value_or(""));
        EXPECT_EQ(r->header("Content-Type").has_value(), c.method == 1) << c.method << r->raw;
        if (c.method == 1) {
            EXPECT_EQ(r->header("Content-Type"), "application/x-www-form-urlencoded");
        }
        EXPECT_EQ(r->header("Expect"), std::nullopt);
    }
}

TEST(HttpRequest, LargeBodiesBothWays)
{
    TestServer server;
    std::string big(24 * 1024 * 1024, '\0');
    for (size_t i = 0; i < big.size(); ++i)
        big[i] = static_cast<char>(i * 131 % 251);
    server.on("/down", CannedResponse{200, {}, big});
    server.on("/up", CannedResponse{204});
    HttpRequest req;
    RequestOptions roomy;
    roomy.maxBodyBytes = 32 * 1024 * 1024;
    const std::string down = req.send(server.url("/down"), roomy);
    EXPECT_TRUE(down == big) << down.size();
    EXPECT_FALSE(req.bodyLimitHit());

    RequestOptions o;
    o.method = 3;
    o.bodyBytes = big.substr(0, 3 * 1024 * 1024);
    req.send(server.url("/up"), o);
    EXPECT_EQ(req.statusCode(), 204);
    auto r = server.lastRequest();
    ASSERT_TRUE(r);
    EXPECT_EQ(r->body, o.bodyBytes);
    EXPECT_EQ(r->header("Expect"), std::nullopt);
}

TEST(HttpRequest, RedirectsFollowedUnlessDisabled)
{
    TestServer server;
    server.on("/from", CannedResponse{302, {"Location: /to", "Set-Cookie: r=1; Path=/"}, "moved"});
    server.on("/to", CannedResponse{200, {"Set-Cookie: t=2; Path=/"}, "arrived"});
    HttpRequest req;
    EXPECT_EQ(req.send(server.url("/from")), "arrived");
    EXPECT_EQ(req.statusCode(), 200);
    EXPECT_EQ(req.receivedCookies(), "t=2"); // the headers of the final response only
    EXPECT_EQ(server.count("/to"), 1);

    RequestOptions o;
    o.disableRedirects = true;
    EXPECT_EQ(req.send(server.url("/from"), o), "moved");
    EXPECT_EQ(req.statusCode(), 302);
    EXPECT_NE(req.responseHeaders().find("Location: /to\r\n"), std::string::npos);
    EXPECT_EQ(server.count("/to"), 1);
}

// An HTTPS server is trusted through the certificate file alone, and only for the names its
// certificate carries; a refusal names the host and libcurl's reason and reaches no request line.
TEST(HttpRequest, HttpsTrustsTheTestAuthorityOnlyThroughTheCertificateFile)
{
    TestServer right(TestServer::Scheme::Https);
    TestServer wrong(TestServer::Scheme::Https, "127.0.0.1", TestServer::Certificate::WrongName);
    for (TestServer* s : {&right, &wrong})
        s->on("/api", CannedResponse{200, {"Content-Type: application/json"}, "{\"a\":1}"});
    const std::string ca = TestServer::certificateFile();
    struct Case {
        const char* what;
        TestServer* server;
        std::string caFile;
        bool accepted;
        const char* reason; // part of libcurl's reason for a refusal
    };
    const Case cases[] = {
        {"the right name, the authority trusted", &right, ca, true, ""},
        {"the authority is not in the system store", &right, "", false, "certificate"},
        {"a certificate for another name", &wrong, ca, false, "subject name"},
        {"a certificate file that cannot be read", &right, "/nonexistent/ca.pem", false, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        c.server->clearRecords();
        HttpRequest req;
        RequestOptions o;
        o.policy.caFile = c.caFile;
        const std::string body = req.send(c.server->url("/api"), o);
        if (c.accepted) {
            EXPECT_EQ(body, "{\"a\":1}");
            EXPECT_EQ(req.errorText(), "");
            EXPECT_EQ(req.failure().kind, TransferFailure::None);
            auto r = c.server->lastRequest();
            ASSERT_TRUE(r);
            EXPECT_TRUE(r->tls);
            EXPECT_EQ(r->requestLine, "GET /api HTTP/1.1"); // HTTP/1.1, not HTTP/2, over TLS too
            continue;
        }
        EXPECT_EQ(body, "");
        EXPECT_EQ(req.statusCode(), 0);
        EXPECT_EQ(req.failure().kind, TransferFailure::Certificate) << req.failure().detail;
        EXPECT_EQ(req.failure().host, "127.0.0.1");
        EXPECT_NE(req.failure().detail.find(c.reason), std::string::npos) << req.failure().detail;
        EXPECT_EQ(req.errorText(), req.failure().detail);
        EXPECT_TRUE(c.server->requests().empty()); // nothing was sent to the server
    }
}

// Only http and https are fetched: another scheme makes no connection, and a redirect goes
// neither to another protocol nor from https down to plain http.
TEST(HttpRequest, FetchesWebAddressesOnlyAndNeverDowngradesAnHttpsRedirect)
{
    TestServer plain;
    plain.on("/to", CannedResponse{200, {}, "plain"});
    TestServer tls(TestServer::Scheme::Https);
    tls.on("/up", CannedResponse{200, {}, "secure"});
    tls.on("/down", CannedResponse{302, {"Location: " + plain.url("/to")}, "moved"});
    tls.on("/ftp", CannedResponse{302, {"Location: ftp://" + plain.hostPort() + "/to"}, "moved"});
    plain.on("/ftp", CannedResponse{302, {"Location: ftp://" + plain.hostPort() + "/to"}, "moved"});
    plain.on("/up", CannedResponse{302, {"Location: " + tls.url("/up")}, "moved"});
    struct Case {
        const char* what;
        std::string url;
        std::string body;     // empty: refused
        int plainConnections; // connections the plain server sees
        TransferFailure kind; // why it was refused
    };
    const Case cases[] = {
        {"https to plain http", tls.url("/down"), "", 0, TransferFailure::RefusedRedirect},
        {"https to ftp", tls.url("/ftp"), "", 0, TransferFailure::RefusedRedirect},
        {"http to ftp", plain.url("/ftp"), "", 1, TransferFailure::RefusedRedirect},
        {"gopher", "gopher://" + plain.hostPort() + "/_GET%20/to%20HTTP/1.0%0D%0A%0D%0A", "", 0,
         TransferFailure::Other},
        {"http up to https", plain.url("/up"), "secure", 1, TransferFailure::None},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const int before = plain.connectionCount();
        HttpRequest req;
        RequestOptions o;
        o.policy.caFile = TestServer::certificateFile();
        EXPECT_EQ(req.send(c.url, o), c.body);
        if (c.body.empty()) {
            EXPECT_EQ(req.statusCode(), 0);
            EXPECT_EQ(req.failure().kind, c.kind) << req.failure().detail;
        }
        EXPECT_EQ(plain.connectionCount() - before, c.plainConnections);
        EXPECT_EQ(plain.count("/to"), 0);
    }
}

TEST(HttpRequest, CookiesReceivedAndMerged)
{
    TestServer server;
    server.on("/c", CannedResponse{200,
                                   {"Set-Cookie: b=3; Path=/", "Set-Cookie: c=4; HttpOnly",
                                    "Set-Cookie: plain=ignored"}});
    struct Case {
        std::optional<std::string> sent;
        bool merge;
        std::string received;
    } cases[] = {
        {"a=1; b=2", true, "b=3;  c=4; a=1"},
        {"Cookie: a=1", true, "b=3;  c=4; a=1"},
        {"a=1; b=2", false, "b=3; c=4"},
        {std::nullopt, true, "b=3; c=4"},
    };
    for (const auto& c : cases) {
        HttpRequest req;
        RequestOptions o;
        o.cookies = c.sent;
        o.mergeCookies = c.merge;
        req.send(server.url("/c"), o);
        EXPECT_EQ(req.receivedCookies(), c.received) << c.sent.value_or("(none)");
    }
}

TEST(HttpRequest, FailuresGiveAnEmptyBodyAndAReason)
{
    TestServer server;
    server.on("/missing", CannedResponse{404, {}, "no such page"});
    server.on("/hang", CannedResponse::stall());
    server.on("/cut", CannedResponse{200, {}, std::string(100000, 'x')}.cutAfter(5000));
    HttpRequest req;

    // An error page is still a response: its body comes back with the status.
    EXPECT_EQ(req.send(server.url("/missing")), "no such page");
    EXPECT_EQ(req.statusCode(), 404);
    EXPECT_EQ(req.errorText(), "HTTP 404");

    RequestOptions quick;
    quick.timeoutSeconds = 1;
    EXPECT_EQ(req.send(server.url("/hang"), quick), "");
    EXPECT_EQ(req.statusCode(), 0);
    EXPECT_TRUE(req.timedOut());
    EXPECT_NE(req.errorText().find("timed out"), std::string::npos) << req.errorText();

    EXPECT_EQ(req.send(server.url("/cut")), "");
    EXPECT_FALSE(req.timedOut());
    EXPECT_EQ(req.statusCode(), 0);
    EXPECT_EQ(req.responseHeaders(), "");
    EXPECT_NE(req.errorText(), "");

    int closedPort;
    {
        TestServer gone;
        closedPort = gone.port();
    }
    EXPECT_EQ(req.send("http://127.0.0.1:" + std::to_string(closedPort) + "/"), "");
    EXPECT_EQ(req.statusCode(), 0);
    EXPECT_NE(req.errorText(), "");
}

// A loopback server that answers every connection with the same bytes as they stand, for
// responses the recording server would not write (bare LF line ends).
class RawServer {
public:
    explicit RawServer(std::string response) : response_(std::move(response))
    {
        fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
        ::listen(fd_, 8);
        socklen_t len = sizeof a;
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len);
        port_ = ntohs(a.sin_port);
        thread_ = std::thread([this] {
            for (;;) {
                const int c = ::accept(fd_, nullptr, nullptr);
                if (c < 0)
                    return;
                std::string request;
                char buf[4096];
                while (request.find("\r\n\r\n") == std::string::npos) {
                    const ssize_t n = ::recv(c, buf, sizeof buf, 0);
                    if (n <= 0)
                        break;
                    request.append(buf, static_cast<size_t>(n));
                }
                (void)!::send(c, response_.data(), response_.size(), MSG_NOSIGNAL);
                ::close(c);
            }
        });
    }
    ~RawServer()
    {
        ::shutdown(fd_, SHUT_RDWR);
        ::close(fd_);
        thread_.join();
    }
    std::string url(const std::string& path) const
    {
        return "http://127.0.0.1:" + std::to_string(port_) + path;
    }

private:
    std::string response_;
    int fd_ = -1;
    int port_ = 0;
    std::thread thread_;
};

// An answer past the limit ends the exchange as a failure, whether it says how long it is or
// never ends; none of it is handed on.
TEST(HttpRequest, AnAnswerPastTheBodyLimitIsAFailure)
{
    TestServer server;
    server.on("/big", CannedResponse{200, {}, std::string(20 * 1024 * 1024, 'b')});
    server.on("/endless", CannedResponse{200, {}, "{\"list\":[],"}.endless());
    server.on("/small", CannedResponse{200, {}, std::string(1000, 's')});
    struct Case {
        const char* path;
        int64_t limit;
        int64_t reached; // 0: not known before it arrives
    } cases[] = {{"/big", kPageBodyLimit, 20 * 1024 * 1024},
                 {"/endless", kPageBodyLimit, 0},
                 {"/small", 999, 1000}};
    HttpRequest req;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        RequestOptions o;
        o.maxBodyBytes = c.limit;
        EXPECT_EQ(req.send(server.url(c.path), o), "");
        EXPECT_EQ(req.statusCode(), 0);
        EXPECT_EQ(req.bodyLimitHit().error, BodyLimitError::TooLarge);
        EXPECT_EQ(req.bodyLimitHit().allowed, c.limit);
        if (c.reached)
            EXPECT_EQ(req.bodyLimitHit().reached, c.reached);
        else
            EXPECT_GT(req.bodyLimitHit().reached, c.limit);
        EXPECT_NE(
            req.errorText().find("body over the limit of " + std::to_string(c.limit) + " bytes"),
            std::string::npos)
            << req.errorText();
    }
    // The next exchange on the same object starts clean; an answer at the limit is whole.
    RequestOptions exact;
    exact.maxBodyBytes = 1000;
    EXPECT_EQ(req.send(server.url("/small"), exact), std::string(1000, 's'));
    EXPECT_FALSE(req.bodyLimitHit());
    EXPECT_EQ(req.errorText(), "");
}

// The collector every fetch uses: an endless answer is cut off at the limit, and what it holds
// never grows past it.
TEST(BodyCollector, AnEndlessAnswerIsRefusedAndTheBodyHeldStaysWithinTheLimit)
{
    TestServer server;
    server.on("/endless", CannedResponse{200, {}, "#EXTINF:1,\nseg.ts\n"}.endless());
    server.on("/declared", CannedResponse{200, {}, std::string(4096, 'd')});
    ensureCurlInitialised();
    struct Case {
        const char* path;
        int64_t limit;
        size_t held; // the body kept when the transfer ended
    } cases[] = {{"/endless", 1024 * 1024, 0}, {"/declared", 4095, 0}, {"/declared", 4096, 4096}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.path) + " " + std::to_string(c.limit));
        CurlEasy easy(curl_easy_init());
        CURL* curl = easy.get();
        curl_easy_setopt(curl, CURLOPT_URL, server.url(c.path).c_str());
        BodyCollector body(c.limit);
        body.install(curl);
        const CURLcode rc = curl_easy_perform(curl);
        BodyCollector::uninstall(curl);
        EXPECT_LE(body.body().size(), static_cast<size_t>(c.limit));
        if (c.held) {
            EXPECT_EQ(rc, CURLE_OK);
            EXPECT_EQ(body.body().size(), c.held);
            EXPECT_FALSE(body.limitHit());
        } else {
            EXPECT_EQ(rc, CURLE_WRITE_ERROR);
            EXPECT_EQ(body.limitHit().error, BodyLimitError::TooLarge);
        }
    }
}

// Servers that end header lines with a bare LF still set their cookies, and the headers come
// back as "\r\n" lines whatever the server used.
TEST(HttpRequest, BareLineFeedHeadersKeepTheirCookies)
{
    RawServer server("HTTP/1.1 200 OK\nContent-Length: 2\nSet-Cookie: sid=42; Path=/\n"
                     "Set-Cookie: lang=zh; Path=/\nConnection: close\n\nok");
    HttpRequest req;
    RequestOptions o;
    o.cookies = "old=1";
    EXPECT_EQ(req.send(server.url("/"), o), "ok");
    EXPECT_EQ(req.statusCode(), 200);
    // The merge keeps the space that followed each ";" and joins with "; ".
    EXPECT_EQ(req.receivedCookies(), "sid=42;  lang=zh; old=1");
    EXPECT_EQ(req.responseHeaders(), "Content-Length: 2\r\nSet-Cookie: sid=42; Path=/\r\n"
                                     "Set-Cookie: lang=zh; Path=/\r\nConnection: close\r\n");
}

// A listening socket whose accept queue is full: further connection attempts hang in SYN.
class BlackHole {
public:
    BlackHole()
    {
        fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
        ::listen(fd_, 0);
        socklen_t len = sizeof a;
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len);
        port_ = ntohs(a.sin_port);
        // Fill the queue with connections that are never accepted.
        for (int i = 0; i < 4; ++i) {
            const int c = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
            ::connect(c, reinterpret_cast<sockaddr*>(&a), sizeof a);
            fillers_.push_back(c);
        }
        std::this_thread::sleep_for(100ms);
    }
    ~BlackHole()
    {
        for (int c : fillers_)
            ::close(c);
        ::close(fd_);
    }
    int port() const { return port_; }

private:
    int fd_ = -1;
    int port_ = 0;
    std::vector<int> fillers_;
};

// Connecting is bounded by the connect time-out alone: a shorter idle limit (a fresh request
// object has 30 s idle against 60 s to connect) must not cut a connection attempt short.
TEST(HttpRequest, IdleLimitWaitsForTheConnection)
{
    ensureCurlInitialised();
    BlackHole hole;
    CurlEasy easy(curl_easy_init());
    CURL* curl = easy.get();
    applyCommonOptions(curl, "http://127.0.0.1:" + std::to_string(hole.port()) + "/", "", true, {});
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, 2500L);
    BodyCollector body(kPageBodyLimit);
    body.install(curl);
    IdleTimeout idle(200);
    idle.install(curl);
    const CURLcode rc = curl_easy_perform(curl);
    IdleTimeout::uninstall(curl);
    EXPECT_FALSE(idle.fired());
    EXPECT_EQ(rc, CURLE_OPERATION_TIMEDOUT) << curl_easy_strerror(rc);

    // Once connected, the idle limit holds: a server that never answers is left after it.
    TestServer server;
    server.on("/hang", CannedResponse::stall());
    applyCommonOptions(curl, server.url("/hang"), "", true, {});
    idle.install(curl);
    EXPECT_EQ(curl_easy_perform(curl), CURLE_ABORTED_BY_CALLBACK);
    IdleTimeout::uninstall(curl);
    EXPECT_TRUE(idle.fired());
}

// A superseded request ends its transfer through the cancel check, long before any time-out.
TEST(HttpRequest, ACancelledTransferEndsAtOnce)
{
    TestServer server;
    server.on("/hang", CannedResponse::stall());
    std::atomic<bool> cancel{false};
    std::thread canceller([&] {
        server.waitForRequests(1, std::chrono::seconds(30));
        cancel = true;
    });
    HttpRequest req;
    RequestOptions o;
    o.timeoutSeconds = 600;
    o.cancelled = [&] { return cancel.load(); };
    EXPECT_EQ(req.send(server.url("/hang"), o), "");
    canceller.join();
    EXPECT_EQ(req.errorText(), "cancelled");
    EXPECT_FALSE(req.timedOut());
    EXPECT_EQ(req.statusCode(), 0);
}

TEST(HttpRequest, TimeoutValues)
{
    EXPECT_EQ(requestTimeoutMs(std::nullopt), 15000);
    EXPECT_EQ(requestTimeoutMs(0), 15000);
    EXPECT_EQ(requestTimeoutMs(-7), 15000);
    EXPECT_EQ(requestTimeoutMs(30), 30000);
    EXPECT_EQ(requestTimeoutMs(-1), std::nullopt);
}

TEST(HttpRequest, ProxyAndItsCredentials)
{
    // The recording server plays the proxy: it receives the absolute address.
    TestServer proxy;
    proxy.on("/via", CannedResponse{200, {}, "proxied"});
    HttpRequest req;
    RequestOptions o;
    o.proxy = proxy.hostPort();
    o.proxyUser = "user";
    o.proxyPassword = "密码";
    const std::string url = "http://127.0.0.1:9/via";
    EXPECT_EQ(req.send(url, o), "proxied");
    auto r = proxy.lastRequest();
    ASSERT_TRUE(r);
    EXPECT_EQ(r->requestLine, "GET " + url + " HTTP/1.1");
    // Basic credentials of the GBK bytes, before every other header line of the program.
    EXPECT_EQ(linesAfterHost(*r),
              (std::vector<std::string>{"Proxy-Authorization: Basic dXNlcjrD3MLr", "Accept: */*",
                                        "Referer: " + url, "Accept-Language: zh-cn", kAgent}));

    // Without a user name no credentials are sent.
    o.proxyUser.clear();
    req.send(url, o);
    EXPECT_EQ(proxy.lastRequest()->header("Proxy-Authorization"), std::nullopt);
}

TEST(HttpRequest, HttpsThroughAProxyKeepsCredentialsAtTheProxy)
{
    TestServer target(TestServer::Scheme::Https);
    target.on("/s", CannedResponse{200, {}, "secret"});
    TestServer proxy;
    proxy.enableConnect(true);
    HttpRequest req;
    RequestOptions o;
    o.proxy = proxy.hostPort();
    o.proxyUser = "u";
    o.proxyPassword = "p";
    o.policy.caFile = TestServer::certificateFile();
    EXPECT_EQ(req.send(target.url("/s"), o), "secret");
    auto connect = proxy.lastRequest();
    ASSERT_TRUE(connect);
    EXPECT_EQ(connect->requestLine, "CONNECT " + target.hostPort() + " HTTP/1.1");
    EXPECT_EQ(connect->header("Proxy-Authorization"), "Basic " + base64Encode("u:p"));
    auto r = target.lastRequest();
    ASSERT_TRUE(r);
    EXPECT_EQ(r->header("Proxy-Authorization"), std::nullopt);
    EXPECT_EQ(r->header("Accept"), "*/*");
}

TEST(HttpRequest, ReusedObjectKeepsTheConnection)
{
    TestServer server;
    server.on("/a", CannedResponse{200, {}, "A"});
    server.on("/b", CannedResponse{200, {}, "B"});
    HttpRequest first;
    EXPECT_EQ(first.send(server.url("/a")), "A");
    HttpRequest second;
    RequestOptions o;
    o.reuseObject = &first;
    EXPECT_EQ(second.send(server.url("/b"), o), "B");
    EXPECT_EQ(second.statusCode(), 200);
    EXPECT_EQ(server.connectionCount(), 1);
    // Options do not leak from one exchange into the next on the same handle.
    RequestOptions post;
    post.method = 1;
    post.bodyText = "x=1";
    post.reuseObject = &first;
    second.send(server.url("/a"), post);
    second.send(server.url("/a"), o);
    auto r = server.lastRequest();
    ASSERT_TRUE(r);
    EXPECT_EQ(r->requestLine, "GET /a HTTP/1.1");
    EXPECT_EQ(r->header("Content-Length"), std::nullopt);
}

TEST(HttpRequest, ManyThreadsAtOnce)
{
    TestServer server;
    server.onHandler("/t", [](const RecordedRequest& r, int) {
        return CannedResponse{200, {}, "echo " + r.target.substr(r.target.find('=') + 1)};
    });
    std::vector<std::thread> threads;
    std::vector<std::string> results(8);
    for (int i = 0; i < 8; ++i)
        // Worker thread: one request object of its own, several exchanges.
        threads.emplace_back([&, i] {
            HttpRequest req;
            for (int k = 0; k < 5; ++k)
                results[i] += req.send(server.url("/t?n=" + std::to_string(i))) + ";";
        });
    for (auto& t : threads)
        t.join();
    for (int i = 0; i < 8; ++i) {
        std::string expected;
        for (int k = 0; k < 5; ++k)
            expected += "echo " + std::to_string(i) + ";";
        EXPECT_EQ(results[i], expected);
    }
    EXPECT_EQ(server.count("/t"), 40);
}

} // namespace
