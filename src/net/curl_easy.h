#pragma once
// The transfer core every libcurl transfer of the program goes through: the one global set-up,
// the handle holder (Transfer) with the one function that applies the shared options, the error
// value a failed transfer gives, owners of header lists, the body and header callbacks, the
// browser-like default header block and the idle watch.
#include <curl/curl.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

// The user agent of every request that names none of its own in its header block.
inline constexpr const char* kUserAgent =
    "Mozilla/5.0 (Windows NT 10.0; Win64; x64) AppleWebKit/537.36 (KHTML, like Gecko) "
    "Chrome/76.0.3809.132 Safari/537.36";

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

// Why a transfer failed, as a value; the words a user reads are made where it is shown.
enum class TransferFailure {
    None,
    ConnectTimeout, // no connection within the connect time-out
    Timeout,        // no byte for the idle time, or the whole transfer took too long
    TooSlow,        // slower than the low-speed limit for its time
    Certificate, // the peer's certificate or host name did not verify, or the bundle was unusable
    RefusedRedirect, // a redirect to a protocol not allowed (https down to http, ftp), or too many
    TooLarge,        // the body went past its limit or its Content-Length (limit says which)
    HttpStatus,      // an answer arrived whose status the caller does not take (status says which)
    Cancelled,       // the transfer's cancel check answered true
    BadAddress,      // the address is no http or https URL (nothing was sent)
    Other,           // anything else: refused, unsupported address, cut connection
};
struct TransferError {
    TransferFailure kind = TransferFailure::None;
    std::string host;   // the host whose answer failed (after redirects); empty when not known
    std::string detail; // a short reason in English (libcurl's, or the watch's for its own kinds)
    CURLcode code = CURLE_OK; // libcurl's result (CURLE_OK for HttpStatus)
    long status = 0;          // HttpStatus: the status of the answer
    BodyLimitHit limit;       // TooLarge: which bound and how far
    explicit operator bool() const { return kind != TransferFailure::None; }
    // A failure that is not libcurl's (no handle, a bad address, a stop before the start).
    static TransferError of(TransferFailure kind, std::string detail)
    {
        TransferError error;
        error.kind = kind;
        error.detail = std::move(detail);
        return error;
    }
};

// The error of a transfer that ended with rc (CURLE_OK gives kind None); errorBuffer is the
// transfer's CURLOPT_ERRORBUFFER (may be empty). Classifies by libcurl's result alone; Transfer
// adds what its own watch saw.
TransferError transferErrorOf(CURL* curl, CURLcode rc, const char* errorBuffer);

// The error value of an answer whose status the caller refuses ("HTTP 404" as detail).
TransferError httpStatusError(CURL* curl, long status);

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
    // Whether the connection was ready (the request went out) before the transfer ended.
    bool connected() const { return connected_; }
    long idleMs() const { return idleMs_; }

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

// The settings of one transfer that every kind of transfer shares. The request's own parts
// (method, headers, body, the write callback) are set on the handle by its caller.
struct TransferSetup {
    TransferPolicy policy;         // certificates; protocols are http and https only
    std::string proxy;             // "scheme://host:port"; empty: direct, whatever the environment
    bool followRedirects = true;   // at most ten
    long connectTimeoutMs = 30000; // resolving and connecting together
    long idleTimeoutMs = 30000;    // no byte sent or received for this long once connected
    long totalTimeoutMs = 0;       // the whole transfer, 0: no bound
    // Slower than lowSpeedBytes per second for lowSpeedSeconds ends the transfer (both > 0): a
    // server that trickles a byte now and then never trips the idle limit.
    int lowSpeedBytes = 0;
    int lowSpeedSeconds = 0;
    std::function<bool()> cancelled; // ends the transfer at once when it answers true
    bool userAgent = true;           // send kUserAgent; false when the header block names its own
    long httpVersion = CURL_HTTP_VERSION_1_1;
    // Cookies in the Netscape cookie-file form, one a line, handed to libcurl's cookie engine
    // (each request, a redirected one too, carries only those of its host and path).
    std::string cookieFile;
    CURLSH* share = nullptr;  // caches shared with other transfers (connections, DNS, TLS)
    long keptConnections = 0; // the connection cache's size; 0: libcurl's default
};

// The handle holder: one libcurl easy handle (so its connection stays between exchanges), the
// shared options applied in one place, the idle and cancel watch, and the error of the last
// exchange as a value. One object is used by one thread at a time.
class Transfer {
public:
    Transfer();
    Transfer(const Transfer&) = delete;
    Transfer& operator=(const Transfer&) = delete;
    ~Transfer();

    // False when libcurl could not make a handle; nothing else may be called then.
    bool valid() const { return easy_ != nullptr; }
    CURL* handle() const { return easy_.get(); }

    // Clears the options of the previous exchange (open connections stay for reuse) and applies
    // the shared ones for url: address, HTTP version, no signals, redirects, the transfer policy,
    // proxy, user agent, cookies, time-outs, the low-speed limit and the watch.
    void prepare(const std::string& url, const TransferSetup& setup);
    // Runs the exchange. Afterwards error() tells why it failed (kind None when an answer
    // arrived whole; its status is the caller's to judge). limit: the body limit of the
    // collector, when one ended the transfer.
    CURLcode perform(const BodyLimitHit& limit = {});
    CURLcode perform(const BodyLimit& limit) { return perform(limit.hit()); }
    const TransferError& error() const { return error_; }
    // The status of the last answer; 0 when none arrived.
    long status() const;
    // The address that gave the answer, after redirects (empty when not known).
    std::string effectiveUrl() const;
    // Marks the exchange as failed by its answer's status (kind HttpStatus).
    void refuseStatus(long status);

private:
    struct Easy {
        void operator()(CURL* c) const { curl_easy_cleanup(c); }
    };
    std::unique_ptr<CURL, Easy> easy_;
    IdleTimeout watch_{30000};
    TransferSetup setup_;
    char errorBuffer_[CURL_ERROR_SIZE] = {};
    TransferError error_;
};
