#pragma once
// One segment downloaded into one file on a thread of its own (libcurl), with a completion event
// its owner waits on. The file appears under its name only when the whole answer has arrived.

#include "download/hls_playlist.h"
#include "net/curl_easy.h"

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

// An auto-reset event: set wakes one waiter, which resets it.
class CompletionEvent {
public:
    void set();
    void wait();
    // False when the time ran out before the event was set.
    bool waitFor(std::chrono::milliseconds timeout);

private:
    std::mutex mutex_;
    std::condition_variable cv_;
    bool signalled_ = false;
};

struct CrackedUrl {
    bool ok = false;
    int scheme = 0; // 1 HTTP, 2 HTTPS
    std::string host;
    int port = 0;
    std::string path;  // "/" when the URL has none
    std::string extra; // query and fragment, as written
};

// Splits a URL (trailing CR/LF removed first) into its parts; only http and https crack.
CrackedUrl crackUrl(const std::string& url);

// The most bytes the downloader reads of each kind of answer. A longer answer fails its fetch
// (the limit ends the transfer as soon as it is passed), it is never cut short into a success.
inline constexpr int64_t kPlaylistBodyLimit = kPageBodyLimit; // 16 MiB
// A key is 16 bytes; an answer is refused as soon as more than 64 bytes of it have arrived.
inline constexpr int64_t kKeyBodyLimit = 64;
inline constexpr int64_t kMapBodyLimit = int64_t{16} * 1024 * 1024;
inline constexpr int64_t kSegmentBodyLimit = int64_t{512} * 1024 * 1024;

// Request settings of one transfer beyond the URL.
struct TransferOptions {
    ByteRange range;      // whole resource by default
    bool decrypt = false; // AES-128-CBC with PKCS#7 padding
    std::array<uint8_t, 16> key{};
    std::array<uint8_t, 16> iv{};
    int connectTimeoutMs = 30000; // no connection within this time ends the transfer
    int stallTimeoutMs = 30000;   // no byte within this time ends the transfer
    // A transfer slower than lowSpeedBytes per second for lowSpeedSeconds ends (a server that
    // trickles a byte every few seconds never trips the stall time).
    int lowSpeedBytes = 1024;
    int lowSpeedSeconds = 15;
    // Set from elsewhere to end the transfer (a copy of it that finished first, for one).
    std::shared_ptr<std::atomic<bool>> cancel;
    // The answer is written to filePath + partSuffix and renamed once whole; two copies of one
    // segment in flight at once use different suffixes.
    std::string partSuffix = ".part";
    // A PEM bundle trusted for HTTPS besides the system's store; empty: the system store alone.
    std::string caFile;
    // The most bytes of the answer; one beyond this or beyond its Content-Length fails.
    int64_t maxBytes = kSegmentBodyLimit;
};

enum class TransferOutcome { Pending, Completed, Failed, Stopped };

// Why a segment did not arrive, as a value; download_text.h words it for the logs.
enum class SegmentError {
    None,
    NoTarget,      // no address or no file was given
    BadAddress,    // the address is no http or https URL
    NoHandle,      // libcurl could not make a handle
    NoThread,      // no thread could be started for it
    EmptyAnswer,   // a 2xx answer without a body
    RangeRefused,  // a byte range was asked for and the whole resource came back
    WriteFailed,   // the file could not be written or renamed
    DecryptFailed, // the answer arrived whole but would not decrypt (bad padding, wrong key)
    Transfer,      // the transfer failed: see transfer (a refused status, the limit, a stop...)
};
struct SegmentFailure {
    SegmentError kind = SegmentError::None;
    TransferError transfer; // kind Transfer
    explicit operator bool() const { return kind != SegmentError::None; }
    // The transfer was stopped (abort, or a copy of it that finished first).
    bool stopped() const
    {
        return kind == SegmentError::Transfer && transfer.kind == TransferFailure::Cancelled;
    }
};

// Collects chunks before they are written: the first chunk goes straight to the sink, later ones
// are held until the next would not fit; the capacity (10240 bytes at first) grows to the largest
// chunk seen.
class ChunkBuffer {
public:
    using Sink = std::function<bool(const char* data, size_t size)>;
    explicit ChunkBuffer(Sink sink) : sink_(std::move(sink)) {}
    bool add(const char* data, size_t size);
    bool flush();
    size_t capacity() const { return capacity_; }
    size_t pending() const { return buffer_.size(); }

private:
    Sink sink_;
    std::string buffer_;
    size_t capacity_ = 10240;
    bool first_ = true;
};

class SegmentTransfer {
public:
    SegmentTransfer();
    SegmentTransfer(const SegmentTransfer&) = delete;
    SegmentTransfer& operator=(const SegmentTransfer&) = delete;
    ~SegmentTransfer();

    // Starts downloading url into filePath on a new thread; done is set when the transfer ends,
    // whatever the outcome. An empty URL or path sets done at once and starts nothing.
    void start(const std::string& url, const std::string& filePath,
               std::shared_ptr<CompletionEvent> done, const TransferOptions& options = {});
    // Asks a running transfer to end and returns at once (any thread).
    void requestStop();
    // Ends a running transfer: wakes it, waits up to 2 seconds for its thread, then lets the thread
    // finish alone (it owns what it still uses). Returns at once after a transfer that has ended.
    void stop();

    TransferOutcome outcome() const;
    long httpStatus() const;
    // Why it failed (kind None while it runs and after it completed).
    SegmentFailure failure() const;
    int64_t bytesWritten() const;
    // The answer arrived whole but could not be decrypted (bad padding, wrong key): fetching it
    // again gives the same bytes, so it is no network failure.
    bool decryptFailed() const;
    // Set when the answer went past the transfer's maxBytes or past its Content-Length: the same
    // server would send it again, so it is no passing failure either.
    BodyLimitHit limitHit() const;

    struct State;

private:
    // Made with the transfer and never replaced, so requestStop may read it from any thread.
    const std::shared_ptr<State> state_;
    std::thread thread_;
};

struct FetchResult {
    bool ok = false; // a 2xx answer arrived whole
    long status = 0;
    std::string body;
    std::string url;       // the address that answered, after redirects (empty when not known)
    BodyLimitHit limitHit; // set when the answer went past the fetch's limit (ok is false)
    // Why it is not ok: no answer, a refused status (HttpStatus), the limit (TooLarge), a bad
    // address (Other).
    TransferError failure;
};

// A synchronous GET with the segment request's settings (keys and initialisation sections), of
// at most maxBytes; the fetch ends (kind Cancelled) within a second of cancel answering true.
// Segment transfers and these requests share one libcurl connection cache, DNS cache and TLS
// session cache, so the threads of a run reuse each other's connections.
FetchResult fetchBytes(const std::string& url, const ByteRange& range = {},
                       int connectTimeoutMs = 30000, int stallTimeoutMs = 30000,
                       const std::function<bool()>& cancel = {}, int64_t maxBytes = kMapBodyLimit,
                       const TransferPolicy& policy = {});
