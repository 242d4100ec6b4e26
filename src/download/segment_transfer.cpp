#include "download/segment_transfer.h"

#include "app/transfer_settings.h"
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

void globalInit()
{
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

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
        globalInit();
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

struct CurlHandle {
    CURL* h = nullptr;
    curl_slist* headers = nullptr;
    CurlHandle()
    {
        globalInit();
        h = curl_easy_init();
    }
    ~CurlHandle()
    {
        if (h)
            curl_easy_cleanup(h);
        curl_slist_free_all(headers);
    }
};

// Progress bookkeeping shared by the transfer and the synchronous fetch: wakes on a stop request
// and ends a connection that has carried no byte for the stall time.
struct Watch {
    const std::atomic<bool>* stop = nullptr;
    const std::atomic<int>* cancel = nullptr;
    const std::atomic<bool>* cancelFlag = nullptr;
    int stallMs = 30000;
    curl_off_t lastNow = -1;
    std::chrono::steady_clock::time_point lastChange = std::chrono::steady_clock::now();
    bool stalled = false;
    bool stopped = false;
};

int xferInfo(void* p, curl_off_t, curl_off_t dlnow, curl_off_t, curl_off_t)
{
    auto* w = static_cast<Watch*>(p);
    if ((w->stop && w->stop->load()) || (w->cancel && w->cancel->load()) ||
        (w->cancelFlag && w->cancelFlag->load())) {
        w->stopped = true;
        return 1;
    }
    auto now = std::chrono::steady_clock::now();
    if (dlnow != w->lastNow) {
        w->lastNow = dlnow;
        w->lastChange = now;
    } else if (now - w->lastChange > std::chrono::milliseconds(w->stallMs)) {
        w->stalled = true;
        return 1;
    }
    return 0;
}

constexpr long kKeptConnections = 64;

struct LowSpeed {
    int bytes = 1024;
    int seconds = 15;
};

void applyRequest(CurlHandle& c, const std::string& url, const ByteRange& range, int connectMs,
                  Watch& watch, LowSpeed lowSpeed, char* errorBuffer, const TransferPolicy& policy)
{
    if (CURLSH* share = sharedCaches())
        curl_easy_setopt(c.h, CURLOPT_SHARE, share);
    // The shared cache keeps this many connections open for reuse: libcurl's default of 5 would
    // close most of those that a run's parallel transfers hand back, and every segment would then
    // pay for a new connection (and TLS handshake).
    curl_easy_setopt(c.h, CURLOPT_MAXCONNECTS, kKeptConnections);
    errorBuffer[0] = '\0';
    curl_easy_setopt(c.h, CURLOPT_ERRORBUFFER, errorBuffer);
    if (lowSpeed.bytes > 0 && lowSpeed.seconds > 0) {
        curl_easy_setopt(c.h, CURLOPT_LOW_SPEED_LIMIT, static_cast<long>(lowSpeed.bytes));
        curl_easy_setopt(c.h, CURLOPT_LOW_SPEED_TIME, static_cast<long>(lowSpeed.seconds));
    }
    curl_easy_setopt(c.h, CURLOPT_URL, url.c_str());
    curl_easy_setopt(c.h, CURLOPT_USERAGENT, kSegmentUserAgent);
    // Direct connection, whatever the environment says; no cookie engine.
    curl_easy_setopt(c.h, CURLOPT_PROXY, "");
    curl_easy_setopt(c.h, CURLOPT_NOPROXY, "*");
    curl_easy_setopt(c.h, CURLOPT_HTTP_VERSION, CURL_HTTP_VERSION_1_1);
    curl_easy_setopt(c.h, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(c.h, CURLOPT_MAXREDIRS, 10L);
    applyTransferPolicy(c.h, url, policy);
    curl_easy_setopt(c.h, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(c.h, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(connectMs));
    c.headers = curl_slist_append(c.headers, rangeHeader(range).c_str());
    curl_easy_setopt(c.h, CURLOPT_HTTPHEADER, c.headers);
    curl_easy_setopt(c.h, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(c.h, CURLOPT_XFERINFOFUNCTION, xferInfo);
    curl_easy_setopt(c.h, CURLOPT_XFERINFODATA, &watch);
}

std::string failureText(CURL* h, CURLcode rc, const Watch& w, long status, const char* errorBuffer)
{
    const TransferError error = transferErrorOf(h, rc, errorBuffer);
    if (error.kind == TransferFailure::Certificate)
        return certificateFailureText(error);
    if (w.stopped)
        return "已停止";
    if (w.stalled)
        return "接收超时";
    if (rc == CURLE_OPERATION_TIMEDOUT)
        return std::string(errorBuffer).find("too slow") != std::string::npos ? "速度过慢"
                                                                              : "连接超时";
    if (status != 0 && (status < 200 || status > 299))
        return "HTTP " + std::to_string(status);
    return curl_easy_strerror(rc);
}

std::string sizeText(int64_t bytes)
{
    constexpr int64_t mib = int64_t{1024} * 1024;
    return bytes >= mib && bytes % mib == 0 ? std::to_string(bytes / mib) + " MiB"
                                            : std::to_string(bytes) + " 字节";
}

bool rangeAnswerOk(const ByteRange& range, long status)
{
    // A request for part of a resource must be answered with that part.
    return range.whole() || status == 206;
}

} // namespace

std::string bodyLimitReason(const BodyLimitHit& hit)
{
    switch (hit.error) {
    case BodyLimitError::None: break;
    case BodyLimitError::TooLarge: return "超过 " + sizeText(hit.allowed) + " 上限";
    case BodyLimitError::BeyondContentLength:
        return "超出 Content-Length 声明的 " + sizeText(hit.allowed);
    }
    return {};
}

CrackedUrl crackUrl(const std::string& url)
{
    CrackedUrl out;
    globalInit();
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
    std::string error;
    bool decryptFailed = false;
    BodyLimitHit limitHit;
    std::atomic<int64_t> written{0};

    void finish(TransferOutcome result, long httpStatus, std::string text,
                bool badDecryption = false, BodyLimitHit overLimit = {})
    {
        {
            std::lock_guard lock(mutex);
            outcome = result;
            decryptFailed = badDecryption;
            limitHit = overLimit;
            status = httpStatus;
            error = std::move(text);
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
        st->finish(TransferOutcome::Failed, 0, "地址无效");
        return;
    }
    CurlHandle c;
    if (c.h == nullptr) {
        st->finish(TransferOutcome::Failed, 0, "无法创建连接");
        return;
    }
    Watch watch;
    watch.stop = &st->stopRequested;
    watch.cancelFlag = st->options.cancel.get();
    watch.stallMs = st->options.stallTimeoutMs;
    char errorBuffer[CURL_ERROR_SIZE];
    applyRequest(c, withoutLineEnd(st->url), st->options.range, st->options.connectTimeoutMs, watch,
                 {st->options.lowSpeedBytes, st->options.lowSpeedSeconds}, errorBuffer,
                 TransferPolicy{st->options.caFile});

    Receiver rx;
    rx.limit = BodyLimit(st->options.maxBytes);
    rx.st = st.get();
    rx.curl = c.h;
    rx.tempPath = st->path + st->options.partSuffix;
    curl_easy_setopt(c.h, CURLOPT_WRITEFUNCTION, &Receiver::onData);
    curl_easy_setopt(c.h, CURLOPT_WRITEDATA, &rx);
    CURLcode rc = curl_easy_perform(c.h);
    long status = rx.status;
    if (status == 0)
        curl_easy_getinfo(c.h, CURLINFO_RESPONSE_CODE, &status);

    const bool opened = rx.file != nullptr;
    bool ok = rc == CURLE_OK && opened && !rx.rejected && !rx.writeFailed;
    std::string why;
    if (ok && !rx.complete()) {
        ok = false;
        why = rx.decryptFailed ? "解密失败" : "写入失败";
    }
    if (!closeFile(rx.file) && ok) {
        ok = false;
        why = "写入失败";
    }
    if (ok) {
        std::error_code ec;
        fs::rename(utf8Path(rx.tempPath), utf8Path(st->path), ec);
        if (ec) {
            ok = false;
            why = "写入失败";
        }
    }
    if (ok) {
        st->finish(TransferOutcome::Completed, status, {});
        return;
    }
    std::error_code ec;
    fs::remove(utf8Path(rx.tempPath), ec);
    if (why.empty()) {
        if (rx.limit.hit())
            why = bodyLimitReason(rx.limit.hit());
        else if (rc == CURLE_OK && !opened && !rx.rejected && !rx.writeFailed)
            why = "空响应";
        else if (rx.rejected)
            why = rangeAnswerOk(st->options.range, status) ? "HTTP " + std::to_string(status)
                                                           : "不支持分段请求";
        else if (rx.writeFailed && !watch.stopped)
            why = rx.decryptFailed ? "解密失败" : "写入失败";
        else
            why = failureText(c.h, rc, watch, status, errorBuffer);
    }
    const bool stopped = watch.stopped && !rx.decryptFailed && !rx.limit.hit();
    st->finish(stopped ? TransferOutcome::Stopped : TransferOutcome::Failed, status, why,
               rx.decryptFailed && !stopped, rx.limit.hit());
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
        state_->finish(TransferOutcome::Failed, 0, "地址或文件为空");
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

std::string SegmentTransfer::error() const
{
    if (!state_)
        return {};
    std::lock_guard lock(state_->mutex);
    return state_->error;
}

bool SegmentTransfer::decryptFailed() const
{
    std::lock_guard lock(state_->mutex);
    return state_->decryptFailed;
}

BodyLimitHit SegmentTransfer::limitHit() const
{
    std::lock_guard lock(state_->mutex);
    return state_->limitHit;
}

int64_t SegmentTransfer::bytesWritten() const
{
    if (!state_)
        return 0;
    return state_->written.load();
}

FetchResult fetchBytes(const std::string& url, const ByteRange& range, int connectTimeoutMs,
                       int stallTimeoutMs, const std::atomic<int>* cancel, int64_t maxBytes,
                       const TransferPolicy& policy)
{
    FetchResult out;
    CurlHandle c;
    if (c.h == nullptr || !crackUrl(url).ok) {
        out.error = "地址无效";
        return out;
    }
    Watch watch;
    watch.cancel = cancel;
    watch.stallMs = stallTimeoutMs;
    char errorBuffer[CURL_ERROR_SIZE];
    applyRequest(c, withoutLineEnd(url), range, connectTimeoutMs, watch, LowSpeed{}, errorBuffer,
                 policy);
    BodyCollector body(maxBytes);
    body.install(c.h);
    CURLcode rc = curl_easy_perform(c.h);
    out.failure = transferErrorOf(c.h, rc, errorBuffer);
    curl_easy_getinfo(c.h, CURLINFO_RESPONSE_CODE, &out.status);
    out.limitHit = body.limitHit();
    out.ok = rc == CURLE_OK && out.status >= 200 && out.status <= 299 &&
             rangeAnswerOk(range, out.status);
    if (!out.ok) {
        if (out.limitHit)
            out.error = bodyLimitReason(out.limitHit);
        else
            out.error = rc == CURLE_OK ? "HTTP " + std::to_string(out.status)
                                       : failureText(c.h, rc, watch, out.status, errorBuffer);
        return out;
    }
    out.body = body.take();
    return out;
}
