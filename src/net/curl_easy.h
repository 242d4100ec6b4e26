#pragma once
// The pieces every libcurl transfer of the program shares: the one global set-up, owners of the
// easy handle and of header lists, the body and header callbacks, the browser-like default header
// block, the options common to every exchange and the stall watch.
#include <curl/curl.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

// The user agent of every request that names none of its own.
extern const char* const kDefaultUserAgent;

// Initialises libcurl once per process (thread-safe); every user of libcurl calls it first.
void ensureCurlInitialised();

struct CurlEasyFree {
    void operator()(CURL* c) const { curl_easy_cleanup(c); }
};
using CurlEasy = std::unique_ptr<CURL, CurlEasyFree>;

// A libcurl header list that frees itself.
class CurlHeaderList {
public:
    void append(const std::string& line);
    // Adds "Name: value", or "Name;" for an empty value (a bare "Name:" would remove the header).
    void appendHeader(const std::string& name, const std::string& value);
    curl_slist* get() const { return list_.get(); }

private:
    struct Free {
        void operator()(curl_slist* l) const { curl_slist_free_all(l); }
    };
    std::unique_ptr<curl_slist, Free> list_;
};

// Keeps libcurl from adding headers of its own beyond Host and the body's length: an empty
// "Accept:", "Expect:", "Content-Type:" (when a body goes out) and "Proxy-Connection:" (through
// an HTTP proxy) unless the request sets them itself. has(name) tells, ignoring case.
void suppressLibraryHeaders(CurlHeaderList& list, const std::function<bool(const char*)>& has,
                            bool sendsBody, bool httpProxy);

// Appends the browser-like defaults a header block lacks (its names searched ignoring case), in
// this order: Accept, Referer (the URL), Accept-Language, User-Agent when withUserAgent, and for a
// POST (method 1) Content-Type. An empty block takes the first line without a leading "\r\n".
std::string withDefaultHeaders(std::string headers, const std::string& url, int method,
                               bool withUserAgent);

// What every transfer of the program trusts: the peer's certificate and host name are always
// checked against the system's certificate store and, when caFile names a PEM bundle, against the
// certificates of that bundle too (a private server's authority).
struct TransferPolicy {
    std::string caFile; // empty: the system store alone
};

// The protocol and certificate options of every libcurl transfer, set in one place: http and
// https only, for the first request and for redirects, and no redirect from an https address to
// plain http; the peer and its host name verified as policy says. Nothing turns checking off.
void applyTransferPolicy(CURL* curl, const std::string& url, const TransferPolicy& policy);

// Why a transfer failed, as a value: the kind, the host whose answer failed (after redirects)
// and libcurl's short reason.
enum class TransferFailure {
    None,
    Certificate, // the peer's certificate or host name did not verify, or the bundle was unusable
    Transport,   // anything else: refused, unsupported address, time-out, cut connection
};
struct TransferError {
    TransferFailure kind = TransferFailure::None;
    std::string host;
    std::string detail;
};
// The error of a transfer that ended with rc (CURLE_OK gives kind None); errorBuffer is the
// transfer's CURLOPT_ERRORBUFFER (may be empty).
TransferError transferErrorOf(CURL* curl, CURLcode rc, const char* errorBuffer);

// The options every exchange shares: the address, HTTP/1.1, no signals, redirects followed (at
// most ten) unless switched off, the transfer policy, and the proxy ("" is a direct connection;
// libcurl then also ignores the proxy variables of the environment).
void applyCommonOptions(CURL* curl, const std::string& url, const std::string& proxy,
                        bool followRedirects, const TransferPolicy& policy);

// The most bytes of a page answer (catalogue and history pages, playlists, the update page) the
// program reads; a longer answer is refused, never cut short.
inline constexpr int64_t kPageBodyLimit = int64_t{16} * 1024 * 1024;

// Why a body limit ended a transfer.
enum class BodyLimitError {
    None,
    TooLarge,            // more bytes than the limit arrived, or the answer announced more
    BeyondContentLength, // more bytes arrived than the answer's own Content-Length
};

// The error value a body limit records when it ends a transfer: which bound it was and how far
// the answer went.
struct BodyLimitHit {
    BodyLimitError error = BodyLimitError::None;
    int64_t allowed = 0; // the bytes allowed: the limit, or the Content-Length announced
    int64_t reached = 0; // the bytes that had arrived (or were announced) when it was refused
    explicit operator bool() const { return error != BodyLimitError::None; }
};

// A short reason for an error text: "body over the limit of 64 bytes (65536 announced or
// arrived)", "body beyond its Content-Length of 100 bytes"; empty for no hit.
std::string bodyLimitText(const BodyLimitHit& hit);

// Counts the body bytes of one answer as they arrive in a write callback. The callback asks
// admit() before it keeps a chunk and returns 0 when it is refused, which ends the transfer
// (CURLE_WRITE_ERROR) with the hit recorded. Bytes are counted as they arrive from the server:
// no content decoding is asked of libcurl, so they are the bytes Content-Length counts.
class BodyLimit {
public:
    explicit BodyLimit(int64_t maxBytes) : max_(maxBytes) {}
    // False when n more bytes take the body past the limit or past the Content-Length of the
    // answer, and at the first chunk of an answer that announced more than the limit.
    bool admit(CURL* curl, size_t n);
    const BodyLimitHit& hit() const { return hit_; }
    int64_t received() const { return received_; }
    // The Content-Length of the answer (-1 when it has none, or before the first chunk).
    int64_t announced() const { return announced_; }

private:
    int64_t max_;
    int64_t received_ = 0;
    int64_t announced_ = -1;
    bool started_ = false;
    BodyLimitHit hit_;
};

// Collects the response body into a string, at most maxBytes of it (install it before the
// transfer). A longer answer ends the transfer from the write callback; limitHit() says so.
class BodyCollector {
public:
    explicit BodyCollector(int64_t maxBytes) : limit_(maxBytes) {}
    BodyCollector(const BodyCollector&) = delete;
    BodyCollector& operator=(const BodyCollector&) = delete;
    void install(CURL* curl);
    // Takes the write callback off the handle (the handle may outlive this object).
    static void uninstall(CURL* curl);
    const std::string& body() const { return body_; }
    std::string take() { return std::move(body_); }
    const BodyLimitHit& limitHit() const { return limit_.hit(); }

private:
    static size_t onData(char* data, size_t size, size_t count, void* self);
    CURL* curl_ = nullptr;
    BodyLimit limit_;
    std::string body_;
};

// Collects the header block of the last response: a new status line (after a redirect, a
// "100 Continue" or a proxy's CONNECT answer) starts over. Every line ends with "\r\n", also when
// the server ended it with a bare LF, so that the lines split the same way whatever the server
// sent.
class ResponseHeaderCollector {
public:
    // keepRawBlock: the status line and the closing empty line are kept as well.
    explicit ResponseHeaderCollector(bool keepRawBlock) : raw_(keepRawBlock) {}
    void install(CURL* curl);
    const std::string& text() const { return text_; }
    std::string take() { return std::move(text_); }

private:
    static size_t onHeader(char* data, size_t size, size_t count, void* self);
    bool raw_;
    std::string text_;
};

// Ends a libcurl transfer that makes no progress (no byte sent or received, waiting for the
// answer included) for idleMs once the connection is ready; connecting itself is bounded by the
// connect time-out alone. Install it on an easy handle before the transfer; when it fired,
// curl_easy_perform returns CURLE_ABORTED_BY_CALLBACK and fired() is true. An optional cancel
// check ends the transfer the same way (cancelled() is then true).
class IdleTimeout {
public:
    explicit IdleTimeout(long idleMs, std::function<bool()> cancel = {})
            : idleMs_(idleMs), cancel_(std::move(cancel))
    {}
    void install(CURL* curl);
    // Takes the callbacks off the handle (the handle may outlive this object).
    static void uninstall(CURL* curl);
    bool fired() const { return fired_; }
    bool cancelled() const { return cancelled_; }

private:
    static int onProgress(void* self, curl_off_t dlTotal, curl_off_t dlNow, curl_off_t ulTotal,
                          curl_off_t ulNow);
    static int onConnected(void* self, char* conn_primary_ip, char* conn_local_ip,
                           int conn_primary_port, int conn_local_port);
    long idleMs_;
    std::function<bool()> cancel_;
    std::chrono::steady_clock::time_point last_ = std::chrono::steady_clock::now();
    curl_off_t down_ = -1, up_ = -1;
    bool connected_ = false;
    bool fired_ = false;
    bool cancelled_ = false;
};
