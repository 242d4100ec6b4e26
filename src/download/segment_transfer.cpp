#include "download/segment_transfer.h"

#include "util/utf8_path.h"

#include <curl/curl.h>
#include <openssl/evp.h>

#include <cstdio>
#include <filesystem>
#include <mutex>

namespace fs = std::filesystem;

void CompletionEvent::set()
{
    // Notified under the lock: the woken waiter may destroy the event as soon as it has it.
    std::lock_guard lock(mutex_);
    signalled_ = true;
    cv_.notify_one();
}

void CompletionEvent::wait()
{
    std::unique_lock lock(mutex_);
    cv_.wait(lock, [this] { return signalled_; });
    signalled_ = false;
}

bool CompletionEvent::waitFor(std::chrono::milliseconds timeout)
{
    std::unique_lock lock(mutex_);
    if (!cv_.wait_for(lock, timeout, [this] { return signalled_; }))
        return false;
    signalled_ = false;
    return true;
}

namespace {

std::string withoutLineEnd(std::string s)
{
    while (!s.empty() && (s.back() == '\r' || s.back() == '\n' || s.back() == ' '))
        s.pop_back();
    return s;
}

std::string rangeHeader(const ByteRange& range)
{
    if (range.whole())
        return "Range:bytes=0-";
    return "Range:bytes=" + std::to_string(range.offset) + "-" +
           std::to_string(range.offset + std::max<int64_t>(range.length, 1) - 1);
}

// The caches every request of this file shares: connections (kept alive between segments of the
// same server), DNS answers and TLS sessions. Made once and never released, since a transfer
// thread that was let go on its own may still be using it while the program ends.
struct SharedCaches {
    CURLSH* share = nullptr;
    std::mutex locks[CURL_LOCK_DATA_LAST];

    static void lock(CURL*, curl_lock_data data, curl_lock_access, void* self)
    {
        static_cast<SharedCaches*>(self)->locks[data].lock();
    }
    static void unlock(CURL*, curl_lock_data data, void* self)
    {
        static_cast<SharedCaches*>(self)->locks[data].unlock();
    }
};

CURLSH* sharedCaches()
{
    static SharedCaches* caches = [] {
        ensureCurlInitialised();
        auto* c = new SharedCaches;
        c->share = curl_share_init();
        if (c->share) {
            curl_share_setopt(c->share, CURLSHOPT_LOCKFUNC, &SharedCaches::lock);
            curl_share_setopt(c->share, CURLSHOPT_UNLOCKFUNC, &SharedCaches::unlock);
            curl_share_setopt(c->share, CURLSHOPT_USERDATA, c);
            curl_share_setopt(c->share, CURLSHOPT_SHARE, CURL_LOCK_DATA_CONNECT);
            curl_share_setopt(c->share, CURLSHOPT_SHARE, CURL_LOCK_DATA_DNS);
            curl_share_setopt(c->share, CURLSHOPT_SHARE, CURL_LOCK_DATA_SSL_SESSION);
        }
        return c;
    }();
    return caches->share;
}

// The shared cache keeps this many connections open for reuse: libcurl's default of 5 would
// close most of those that a run's parallel transfers hand back, and every segment would then
// pay for a new connection (and TLS handshake).
constexpr long kKeptConnections = 64;

// The settings of a segment request (and of keys and initialisation sections): direct
// connection, the shared caches, the range asked for. The headers list must outlive the
// transfer.
void prepareSegmentRequest(Transfer& transfer, const std::string& url, const ByteRange& range,
                           TransferSetup setup, CurlHeaderList& headers)
{
    setup.share = sharedCaches();
    setup.keptConnections = kKeptConnections;
    transfer.prepare(url, setup);
    headers.append(rangeHeader(range));
    curl_easy_setopt(transfer.handle(), CURLOPT_HTTPHEADER, headers.get());
}

bool rangeAnswerOk(const ByteRange& range, long status)
{
    // A request for part of a resource must be answered with that part.
    return range.whole() || status == 206;
}

SegmentFailure segmentFailure(SegmentError kind)
{
    return SegmentFailure{kind, {}};
}

SegmentFailure transferFailure(TransferError error)
{
    return SegmentFailure{SegmentError::Transfer, std::move(error)};
}

} // namespace

CrackedUrl crackUrl(const std::string& url)
{
    CrackedUrl out;
    ensureCurlInitialised();
    CURLU* u = curl_url();
    if (u == nullptr)
        return out;
    std::string clean = withoutLineEnd(url);
    if (curl_url_set(u, CURLUPART_URL, clean.c_str(), CURLU_URLENCODE) == CURLUE_OK) {
        auto part = [&](CURLUPart p, unsigned flags = 0) {
            char* v = nullptr;
            std::string s;
            if (curl_url_get(u, p, &v, flags) == CURLUE_OK && v) {
                s = v;
                curl_free(v);
            }
            return s;
        };
        std::string scheme = part(CURLUPART_SCHEME);
        out.scheme = scheme == "http" ? 1 : scheme == "https" ? 2 : 0;
        out.host = part(CURLUPART_HOST);
        std::string port = part(CURLUPART_PORT, CURLU_DEFAULT_PORT);
        out.port = port.empty() ? 0 : std::atoi(port.c_str());
        out.path = part(CURLUPART_PATH);
        if (out.path.empty())
            out.path = "/";
        std::string query = part(CURLUPART_QUERY);
        std::string fragment = part(CURLUPART_FRAGMENT);
        if (!query.empty())
            out.extra += "?" + query;
        if (!fragment.empty())
            out.extra += "#" + fragment;
        out.ok = out.scheme != 0 && !out.host.empty();
    }
    curl_url_cleanup(u);
    return out;
}

bool ChunkBuffer::add(const char* data, size_t size)
{
    if (first_) {
        first_ = false;
        capacity_ = std::max(capacity_, size);
        buffer_.reserve(capacity_);
        return sink_(data, size);
    }
    if (buffer_.size() + size > capacity_) {
        if (!flush())
            return false;
        if (size > capacity_) {
            capacity_ = size;
            buffer_.reserve(capacity_);
        }
    }
    buffer_.append(data, size);
    return true;
}

bool ChunkBuffer::flush()
{
    if (buffer_.empty())
        return true;
    bool ok = sink_(buffer_.data(), buffer_.size());
    buffer_.clear();
    return ok;
}

struct SegmentTransfer::State {
    std::string url, path;
    TransferOptions options;
    std::shared_ptr<CompletionEvent> done;
    std::atomic<bool> stopRequested{false};

    mutable std::mutex mutex;
    std::condition_variable ended;
    bool finished = false;
    TransferOutcome outcome = TransferOutcome::Pending;
    long status = 0;
    SegmentFailure failure;
    std::atomic<int64_t> written{0};

    void finish(TransferOutcome result, long httpStatus, SegmentFailure why = {})
    {
        {
            std::lock_guard lock(mutex);
            outcome = result;
            status = httpStatus;
            failure = std::move(why);
            finished = true;
        }
        ended.notify_all();
        if (done)
            done->set();
    }
};

namespace {

struct EvpCtx {
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    ~EvpCtx() { EVP_CIPHER_CTX_free(ctx); }
};

// Receives the answer: checks the status before the first byte, decrypts, buffers, writes.
struct Receiver {
    SegmentTransfer::State* st = nullptr;
    CURL* curl = nullptr;
    std::string tempPath;
    UniqueFile file;
    EvpCtx cipher;
    bool cipherReady = false;
    long status = 0;
    bool rejected = false;
    bool writeFailed = false;
    bool decryptFailed = false;
    BodyLimit limit{kSegmentBodyLimit};
    std::string plain;
    ChunkBuffer buffer{[this](const char* d, size_t n) {
        if (std::fwrite(d, 1, n, file.get()) != n)
            return false;
        st->written += static_cast<int64_t>(n);
        return true;
    }};

    bool open()
    {
        curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
        if (status < 200 || status > 299 || !rangeAnswerOk(st->options.range, status)) {
            rejected = true;
            return false;
        }
        file = openUtf8File(tempPath, "wb");
        if (file == nullptr) {
            writeFailed = true;
            return false;
        }
        if (st->options.decrypt) {
            cipherReady = cipher.ctx &&
                          EVP_DecryptInit_ex(cipher.ctx, EVP_aes_128_cbc(), nullptr,
                                             st->options.key.data(), st->options.iv.data()) == 1;
            if (!cipherReady) {
                writeFailed = true;
                return false;
            }
        }
        return true;
    }

    bool take(const char* data, size_t n)
    {
        if (!st->options.decrypt)
            return buffer.add(data, n);
        plain.resize(n + 16);
        int outLen = 0;
        if (EVP_DecryptUpdate(cipher.ctx, reinterpret_cast<unsigned char*>(plain.data()), &outLen,
                              reinterpret_cast<const unsigned char*>(data),
                              static_cast<int>(n)) != 1) {
            decryptFailed = true;
            return false;
        }
        return outLen == 0 || buffer.add(plain.data(), static_cast<size_t>(outLen));
    }

    // Ends decryption (checks the padding) and writes what is pending.
    bool complete()
    {
        if (st->options.decrypt) {
            plain.resize(32);
            int outLen = 0;
            if (EVP_DecryptFinal_ex(cipher.ctx, reinterpret_cast<unsigned char*>(plain.data()),
                                    &outLen) != 1) {
                decryptFailed = true;
                return false;
            }
            if (outLen > 0 && !buffer.add(plain.data(), static_cast<size_t>(outLen)))
                return false;
        }
        return buffer.flush();
    }

    static size_t onData(char* data, size_t size, size_t count, void* p)
    {
        auto* r = static_cast<Receiver*>(p);
        size_t n = size * count;
        if (r->file == nullptr && !r->open())
            return 0;
        if (n == 0)
            return 0;
        // An answer past its limit or its Content-Length ends here; its part file goes.
        if (!r->limit.admit(r->curl, n))
            return 0;
        if (!r->take(data, n)) {
            r->writeFailed = true;
            return 0;
        }
        return n;
    }
};

// The transfer body, on the transfer thread. Every path ends with finish(), which sets the
// completion event.
void runTransfer(const std::shared_ptr<SegmentTransfer::State>& st)
{
    CrackedUrl cracked = crackUrl(st->url);
    if (!cracked.ok) {
        st->finish(TransferOutcome::Failed, 0, segmentFailure(SegmentError::BadAddress));
        return;
    }
    Transfer transfer;
    if (!transfer.valid()) {
        st->finish(TransferOutcome::Failed, 0, segmentFailure(SegmentError::NoHandle));
        return;
    }
    const TransferOptions& o = st->options;
    TransferSetup setup;
    setup.policy.caFile = o.caFile;
    setup.connectTimeoutMs = o.connectTimeoutMs;
    setup.idleTimeoutMs = o.stallTimeoutMs;
    setup.lowSpeedBytes = o.lowSpeedBytes;
    setup.lowSpeedSeconds = o.lowSpeedSeconds;
    setup.cancelled = [st] {
        return st->stopRequested.load() || (st->options.cancel && st->options.cancel->load());
    };
    CurlHeaderList headers;
    prepareSegmentRequest(transfer, withoutLineEnd(st->url), o.range, setup, headers);
    CURL* curl = transfer.handle();

    Receiver rx;
    rx.limit = BodyLimit(o.maxBytes);
    rx.st = st.get();
    rx.curl = curl;
    rx.tempPath = st->path + o.partSuffix;
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &Receiver::onData);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &rx);
    const CURLcode rc = transfer.perform(rx.limit.hit());
    long status = rx.status;
    if (status == 0)
        status = transfer.status();

    const bool opened = rx.file != nullptr;
    bool ok = rc == CURLE_OK && opened && !rx.rejected && !rx.writeFailed;
    SegmentFailure why;
    if (ok && !rx.complete()) {
        ok = false;
        why = segmentFailure(rx.decryptFailed ? SegmentError::DecryptFailed
                                              : SegmentError::WriteFailed);
    }
    if (!closeFile(rx.file) && ok) {
        ok = false;
        why = segmentFailure(SegmentError::WriteFailed);
    }
    if (ok) {
        std::error_code ec;
        fs::rename(utf8Path(rx.tempPath), utf8Path(st->path), ec);
        if (ec) {
            ok = false;
            why = segmentFailure(SegmentError::WriteFailed);
        }
    }
    if (ok) {
        st->finish(TransferOutcome::Completed, status);
        return;
    }
    std::error_code ec;
    fs::remove(utf8Path(rx.tempPath), ec);
    const TransferError& error = transfer.error();
    const bool stopped = error.kind == TransferFailure::Cancelled;
    // An answer past its limit fails as the transfer says (TooLarge), whatever else was seen.
    if (!why && !rx.limit.hit()) {
        if (rc == CURLE_OK && !opened && !rx.rejected && !rx.writeFailed)
            why = segmentFailure(SegmentError::EmptyAnswer);
        else if (rx.rejected && !rangeAnswerOk(o.range, status))
            why = segmentFailure(SegmentError::RangeRefused);
        else if (rx.rejected)
            why = transferFailure(httpStatusError(curl, status));
        else if (rx.writeFailed && !stopped)
            why = segmentFailure(rx.decryptFailed ? SegmentError::DecryptFailed
                                                  : SegmentError::WriteFailed);
    }
    if (!why)
        why = transferFailure(error);
    st->finish(why.stopped() ? TransferOutcome::Stopped : TransferOutcome::Failed, status,
               std::move(why));
}

} // namespace

SegmentTransfer::SegmentTransfer() : state_(std::make_shared<State>())
{}

SegmentTransfer::~SegmentTransfer()
{
    stop();
}

void SegmentTransfer::start(const std::string& url, const std::string& filePath,
                            std::shared_ptr<CompletionEvent> done, const TransferOptions& options)
{
    if (thread_.joinable())
        return; // one URL per transfer
    state_->done = std::move(done);
    if (url.empty() || filePath.empty()) {
        state_->finish(TransferOutcome::Failed, 0, segmentFailure(SegmentError::NoTarget));
        return;
    }
    state_->url = url;
    state_->path = filePath;
    state_->options = options;
    // Transfer thread: runs the request and writes the file; owns the shared state it uses.
    thread_ = std::thread(runTransfer, state_);
}

void SegmentTransfer::requestStop()
{
    if (state_)
        state_->stopRequested = true;
}

void SegmentTransfer::stop()
{
    if (!thread_.joinable())
        return;
    state_->stopRequested = true;
    bool endedInTime;
    {
        std::unique_lock lock(state_->mutex);
        endedInTime = state_->ended.wait_for(lock, std::chrono::milliseconds(2000),
                                             [this] { return state_->finished; });
    }
    if (endedInTime)
        thread_.join();
    else
        thread_.detach(); // it holds its own reference to the state and ends at its next callback
}

TransferOutcome SegmentTransfer::outcome() const
{
    if (!state_)
        return TransferOutcome::Pending;
    std::lock_guard lock(state_->mutex);
    return state_->outcome;
}

long SegmentTransfer::httpStatus() const
{
    if (!state_)
        return 0;
    std::lock_guard lock(state_->mutex);
    return state_->status;
}

SegmentFailure SegmentTransfer::failure() const
{
    std::lock_guard lock(state_->mutex);
    return state_->failure;
}

bool SegmentTransfer::decryptFailed() const
{
    std::lock_guard lock(state_->mutex);
    return state_->failure.kind == SegmentError::DecryptFailed;
}

BodyLimitHit SegmentTransfer::limitHit() const
{
    std::lock_guard lock(state_->mutex);
    return state_->failure.transfer.limit;
}

int64_t SegmentTransfer::bytesWritten() const
{
    if (!state_)
        return 0;
    return state_->written.load();
}

FetchResult fetchBytes(const std::string& url, const ByteRange& range, int connectTimeoutMs,
                       int stallTimeoutMs, const std::function<bool()>& cancel, int64_t maxBytes,
                       const TransferPolicy& policy)
{
    FetchResult out;
    Transfer transfer;
    if (!transfer.valid() || !crackUrl(url).ok) {
        out.failure = TransferError::of(TransferFailure::BadAddress, "bad address");
        return out;
    }
    TransferSetup setup;
    setup.policy = policy;
    setup.connectTimeoutMs = connectTimeoutMs;
    setup.idleTimeoutMs = stallTimeoutMs;
    setup.lowSpeedBytes = 1024;
    setup.lowSpeedSeconds = 15;
    setup.cancelled = cancel;
    CurlHeaderList headers;
    prepareSegmentRequest(transfer, withoutLineEnd(url), range, setup, headers);
    BodyCollector body(maxBytes);
    body.install(transfer.handle());
    const CURLcode rc = transfer.perform(body.limitHit());
    out.status = transfer.status();
    out.limitHit = body.limitHit();
    out.ok = rc == CURLE_OK && out.status >= 200 && out.status <= 299 &&
             rangeAnswerOk(range, out.status);
    if (!out.ok) {
        if (rc == CURLE_OK)
            transfer.refuseStatus(out.status);
        out.failure = transfer.error();
        return out;
    }
    out.body = body.take();
    return out;
}
