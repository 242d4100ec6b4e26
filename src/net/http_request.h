#pragma once
#include <curl/curl.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "net/curl_easy.h"
#include "net/http_text.h"

class HttpRequest;

// Method index: 0 GET, 1 POST, 2 HEAD, 3 PUT, 4 OPTIONS, 5 DELETE, 6 TRACE, 7 CONNECT, 8 PATCH.
// Any other index is taken as GET.
const char* httpMethodName(int method);

// The time-out of each phase (resolve and connect, send, receive) for a timeoutSeconds option:
// nullopt for -1 (keep the object's own), 15000 ms when missing or below 1, else seconds x 1000.
std::optional<long> requestTimeoutMs(std::optional<int> timeoutSeconds);

// Everything a request can be given. "Given" matters for cookies only: a missing cookie text is
// neither sent nor merged, an empty one sends an empty Cookie header.
struct RequestOptions {
    int method = 0;
    std::string bodyText;               // request body when bodyBytes is empty
    std::optional<std::string> cookies; // name=value pairs separated by "; "
    std::string extraHeaders;           // header lines separated by "\r\n"
    bool disableRedirects = false;      // return a redirect response as it is
    std::string bodyBytes;              // request body; takes precedence over bodyText
    std::string proxy;                  // "host:port"; empty = no proxy
    // Per phase (connect, then sending and receiving without progress): missing or < 1: 15 s;
    // n: n s; -1 keeps the object's current ones (60 s to connect, 30 s without data when new).
    std::optional<int> timeoutSeconds;
    std::string proxyUser, proxyPassword;
    int credentialTarget = 1;           // 1: the credentials are for the proxy
    HttpRequest* reuseObject = nullptr; // reuse that object's connection (handle) instead
    bool mergeCookies = true;           // merge the sent cookies into receivedCookies
    bool completeHeaders = true;        // add the browser-like default headers when missing
    bool capitalizeNames = true;        // rewrite header names as Capitalised-Words
    // What the transfer trusts (certificates); the system store alone by default.
    TransferPolicy policy;
    // Checked while the transfer runs; when it answers true the transfer ends at once (empty
    // body, errorText "cancelled"). A superseded request uses it to stop its download.
    std::function<bool()> cancelled;
    // The most body bytes kept; a longer answer ends the exchange as a failure (empty body,
    // bodyLimitHit() set), never as a shortened body.
    int64_t maxBodyBytes = kPageBodyLimit;
};

// One synchronous HTTP exchange on libcurl. An object keeps its libcurl handle (and so its
// connection) between calls, and another request may borrow it through reuseObject. One object
// must not be used by two threads at once; separate objects are independent.
class HttpRequest {
public:
    HttpRequest();
    ~HttpRequest();
    HttpRequest(const HttpRequest&) = delete;
    HttpRequest& operator=(const HttpRequest&) = delete;

    // Performs the request and returns the response body (empty on failure). The outputs below
    // describe the last exchange.
    std::string send(const std::string& url, const RequestOptions& options = {});

    // All response headers as received, lines separated by "\r\n" (status line excluded).
    const std::string& responseHeaders() const { return responseHeaders_; }
    // HTTP status of the last response; 0 when no response arrived.
    int statusCode() const { return statusCode_; }
    // Cookies the response set ("a=1; b=2"), merged with the sent cookies when asked.
    const std::string& receivedCookies() const { return receivedCookies_; }
    // Empty on success; otherwise a short reason ("HTTP 404", libcurl's error text such as
    // "Connection refused", or "timed out: ..." / "... timed out ..." for a time-out).
    const std::string& errorText() const { return errorText_; }
    // True when the last exchange failed because a time-out ran out (connecting or no data).
    bool timedOut() const { return timedOut_; }
    // Set when the last exchange failed because its body went past maxBodyBytes or past its
    // Content-Length.
    const BodyLimitHit& bodyLimitHit() const { return bodyLimitHit_; }
    // Why the last exchange got no answer (kind None when one arrived, an HTTP error included).
    const TransferError& failure() const { return failure_; }

private:
    struct Handle;
    std::unique_ptr<Handle> handle_;
    std::string responseHeaders_;
    int statusCode_ = 0;
    std::string receivedCookies_;
    std::string errorText_;
    bool timedOut_ = false;
    BodyLimitHit bodyLimitHit_;
    TransferError failure_;
};
