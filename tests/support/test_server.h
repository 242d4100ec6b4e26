#pragma once
// A recording HTTP/HTTPS server on 127.0.0.1 for tests.
//
//   TestServer server;                                  // plain HTTP, ephemeral port
//   TestServer tls(TestServer::Scheme::Https);          // HTTPS, certificate of the test CA
//   TestServer other(TestServer::Scheme::Http, "127.0.0.2");   // a second loopback host
//   TestServer wrong(TestServer::Scheme::Https, "127.0.0.1", TestServer::Certificate::WrongName);
//   server.on("/list.m3u8", {200, {"Content-Type: application/vnd.apple.mpegurl"}, body});
//   server.on("/flaky", {{404}, {404}, {200, {}, "ok"}});   // per attempt; the last one repeats
//   server.on("/slow", CannedResponse{200, {}, "x"}.after(std::chrono::milliseconds(300)));
//   server.on("/hang", CannedResponse::stall());        // accepts and never answers
//   server.on("/cut", CannedResponse{200, {}, big}.cutAfter(1000));   // closes mid-body
//   server.on("/flood", CannedResponse{200, {}, "#EXTINF:1,\nx.ts\n"}.endless()); // never ends
//   server.onHandler("/echo", [](const RecordedRequest& r, int attempt) { ... });
//   std::string url = server.url("/list.m3u8");         // "http://127.0.0.1:<port>/list.m3u8"
//   ... exercise the code ...
//   server.requests();        // every request exactly as it arrived, in arrival order
//   server.count("/flaky");   // requests for that path (query ignored)
//
//   server.serveFolder("/media/", dir);                  // GET /media/a/b.ts -> dir/a/b.ts
//
// Routes are matched on the whole target first ("/a?b=1"), then on the path without the query,
// then on the longest prefix route (onPrefix, serveFolder); attempts count per matched route.
// An absolute-form target as sent to a proxy ("GET http://host:port/a HTTP/1.1") is matched on
// its path too. Unknown paths get 404 "not found" (change with setFallback).
//
// Every response carries "Content-Length" unless the canned header lines name it or the response
// is sent with closeToEnd (body delimited by closing the connection). Connections are kept alive
// (HTTP/1.1) unless the request says "Connection: close". HEAD gets the headers of the canned
// response (with the body's Content-Length) and no body. "Expect: 100-continue" is answered with
// "100 Continue". Request bodies are read by Content-Length or chunked transfer coding.
//
// With enableConnect(true) the server also acts as an HTTP proxy for CONNECT to 127.0.0.1 ports
// (it answers "200 Connection established" and relays bytes); the CONNECT request is recorded.
//
// All methods are thread-safe. The destructor stops the server: stalled responses and delays end
// at once, open connections are shut down, and every thread is joined.
#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

struct CannedResponse {
    int status = 200;
    std::vector<std::string> headers; // whole header lines without CR LF, "Name: value"
    std::string body;
    std::string reason; // status text; empty: the usual one for the status

    // Wait this long before answering (ends early when the server stops).
    std::chrono::milliseconds delay{0};
    // Send the body in pieces of chunkBytes with chunkDelay between them (a slow transfer).
    std::size_t chunkBytes = 0;
    std::chrono::milliseconds chunkDelay{0};

    enum class Behaviour {
        Normal,
        Stall,        // accept the request and never answer
        StallMidBody, // send the headers and the first partBytes of the body, then hang
        CutMidBody,   // send the headers and the first partBytes of the body, then close
        Endless,      // send the body again and again, with no length, until the client leaves
    };
    Behaviour behaviour = Behaviour::Normal;
    std::size_t partBytes = 0;
    bool closeToEnd = false; // no Content-Length: the body ends when the connection closes

    CannedResponse() = default;
    CannedResponse(int status, std::vector<std::string> headers = {}, std::string body = {})
            : status(status), headers(std::move(headers)), body(std::move(body))
    {}

    static CannedResponse stall()
    {
        CannedResponse r;
        r.behaviour = Behaviour::Stall;
        return r;
    }
    CannedResponse after(std::chrono::milliseconds d) const
    {
        CannedResponse r = *this;
        r.delay = d;
        return r;
    }
    CannedResponse stallAfter(std::size_t bytes) const
    {
        CannedResponse r = *this;
        r.behaviour = Behaviour::StallMidBody;
        r.partBytes = bytes;
        return r;
    }
    CannedResponse cutAfter(std::size_t bytes) const
    {
        CannedResponse r = *this;
        r.behaviour = Behaviour::CutMidBody;
        r.partBytes = bytes;
        return r;
    }
    // An answer that never ends: the body repeated (in pieces of chunkBytes with chunkDelay between
    // them, when set) until the client closes the connection or the server stops.
    CannedResponse endless() const
    {
        CannedResponse r = *this;
        r.behaviour = Behaviour::Endless;
        r.closeToEnd = true;
        return r;
    }
    CannedResponse slowly(std::size_t bytes, std::chrono::milliseconds gap) const
    {
        CannedResponse r = *this;
        r.chunkBytes = bytes;
        r.chunkDelay = gap;
        return r;
    }
};

// One request as it came over the wire.
struct RecordedRequest {
    std::string raw;         // the exact bytes: request line, headers, blank line, body
    std::string requestLine; // "GET /a?b=1 HTTP/1.1"
    std::string method;      // "GET"
    std::string target;      // "/a?b=1" (or the absolute form sent to a proxy)
    std::string path;        // "/a"
    std::string version;     // "HTTP/1.1"
    std::vector<std::string> headerLines; // in the order sent, exactly as sent, without CR LF
    std::string body;                     // decoded body (chunked coding removed)
    int attempt = 0;                      // 1 for the first request of its route, 2 for the next...
    int connection = 0;                   // number of the connection it came on (1, 2, ...)
    bool tls = false;

    // Value of the first header with that name (case-insensitive), spaces trimmed; nullopt if none.
    std::optional<std::string> header(const std::string& name) const;
    // Names of the header lines in order, as written.
    std::vector<std::string> headerNames() const;
};

class TestServer {
public:
    enum class Scheme { Http, Https };
    // The certificate an HTTPS server presents; the test CA (certificateFile()) issued both.
    enum class Certificate {
        Loopback,  // for 127.0.0.1, 127.0.0.2 and localhost
        WrongName, // for wrong.example only: no loopback address matches it
    };
    using Handler = std::function<CannedResponse(const RecordedRequest&, int attempt)>;

    explicit TestServer(Scheme scheme = Scheme::Http);
    // Listens on address (a 127.0.0.0/8 address, such as "127.0.0.2").
    TestServer(Scheme scheme, const std::string& address,
               Certificate certificate = Certificate::Loopback);
    ~TestServer();
    TestServer(const TestServer&) = delete;
    TestServer& operator=(const TestServer&) = delete;

    int port() const;
    // "http://<address>:<port>" or "https://<address>:<port>".
    std::string baseUrl() const;
    // baseUrl() + path (path starts with "/").
    std::string url(const std::string& path) const;
    // "<address>:<port>" (127.0.0.1 unless given), also as a proxy address.
    std::string hostPort() const;

    void on(const std::string& route, CannedResponse response);
    // Answer n (1-based) is used for attempt n; the last answer repeats.
    void on(const std::string& route, std::vector<CannedResponse> perAttempt);
    void onHandler(const std::string& route, Handler handler);
    // Answers every path that starts with prefix and has no route of its own.
    void onPrefix(const std::string& prefix, Handler handler);
    // Serves the files below folder under the path prefix (which ends with "/"); 404 for missing
    // files and for paths that try to leave the folder.
    void serveFolder(const std::string& prefix, const std::string& folder);
    void setFallback(CannedResponse response);
    void enableConnect(bool on);

    std::vector<RecordedRequest> requests() const;
    std::vector<RecordedRequest> requestsFor(const std::string& path) const;
    std::optional<RecordedRequest> lastRequest() const;
    int count(const std::string& path) const;
    int connectionCount() const; // connections accepted so far
    void clearRecords();         // forget recorded requests and restart attempt numbers
    // Waits until at least n requests have arrived; false on time-out.
    bool waitForRequests(std::size_t n, std::chrono::milliseconds timeout) const;

    // The test certificate authority's certificate (a PEM file in a temporary folder made at run
    // time): what a client trusts, through 证书文件, to accept the HTTPS servers of the process.
    static std::string certificateFile();
    // The key of the servers' certificates.
    static std::string keyFile();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// A SOCKS proxy on 127.0.0.1 (SOCKS4, SOCKS4a and SOCKS5 without authentication) that relays to
// 127.0.0.1 targets only and records where each client asked to go ("127.0.0.1:8080" or
// "name:port" for requests by host name, which it resolves itself).
class SocksProxy {
public:
    SocksProxy();
    ~SocksProxy();
    SocksProxy(const SocksProxy&) = delete;
    SocksProxy& operator=(const SocksProxy&) = delete;

    int port() const;
    std::string hostPort() const;             // "127.0.0.1:<port>"
    std::vector<std::string> targets() const; // in arrival order
    std::vector<int> versions() const;        // 4 or 5 per connection

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// A loopback port with nothing listening on it (bound once to learn a free port, then closed), for
// tests of refused connections.
int closedLoopbackPort();
