#include "net/curl_easy.h"

#include "net/http_text.h"

#include <fstream>
#include <iterator>
#include <mutex>

void ensureCurlInitialised()
{
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

void CurlHeaderList::append(const std::string& line)
{
    if (curl_slist* grown = curl_slist_append(list_.get(), line.c_str())) {
        (void)list_.release();
        list_.reset(grown);
    }
}

void CurlHeaderList::appendHeader(const std::string& name, const std::string& value)
{
    append(value.empty() ? name + ";" : name + ": " + value);
}

void suppressLibraryHeaders(CurlHeaderList& list, const std::function<bool(const char*)>& has,
                            bool sendsBody, bool httpProxy)
{
    if (!has("Accept"))
        list.append("Accept:");
    if (!has("Expect"))
        list.append("Expect:");
    if (sendsBody && !has("Content-Type"))
        list.append("Content-Type:");
    if (httpProxy && !has("Proxy-Connection"))
        list.append("Proxy-Connection:");
}

std::string withDefaultHeaders(std::string headers, const std::string& url, int method,
                               bool withUserAgent)
{
    auto add = [&headers](const std::string& line) {
        headers += headers.empty() ? line : "\r\n" + line;
    };
    if (!containsNoCase(headers, "Accept:"))
        add("Accept: */*");
    if (!containsNoCase(headers, "Referer:"))
        add("Referer: " + url);
    if (!containsNoCase(headers, "Accept-Language:"))
        add("Accept-Language: zh-cn");
    if (withUserAgent && !containsNoCase(headers, "User-Agent:"))
        add(std::string("User-Agent: ") + kUserAgent);
    if (method == 1 && !containsNoCase(headers, "Content-Type:"))
        add("Content-Type: application/x-www-form-urlencoded");
    return headers;
}

namespace {

bool readWholeFile(const std::string& path, std::string& out)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

} // namespace

void applyTransferPolicy(CURL* curl, const std::string& url, const TransferPolicy& policy)
{
    const bool https = lowerAscii(url.substr(0, 8)) == "https://";
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, https ? "https" : "http,https");
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 2L);
    if (policy.caFile.empty())
        return; // libcurl's defaults: the system store
    const curl_version_info_data* info = curl_version_info(CURLVERSION_NOW);
    if (info != nullptr && info->capath != nullptr) {
        // CURLOPT_CAINFO replaces only the system's bundle file; the system's folder of
        // authorities (CURLOPT_CAPATH's default, which holds the same ones) stays in use, so both
        // are trusted. An unreadable file fails the transfer ("error setting certificate verify
        // locations") rather than quietly trusting less.
        curl_easy_setopt(curl, CURLOPT_CAINFO, policy.caFile.c_str());
        return;
    }
    // Without a system folder the bundle handed over is the system's file followed by the extra
    // one. (Parsed from memory on every new connection, which costs tens of milliseconds: the
    // folder above is preferred.)
    std::string extra;
    if (!readWholeFile(policy.caFile, extra)) {
        curl_easy_setopt(curl, CURLOPT_CAINFO, policy.caFile.c_str());
        return;
    }
    std::string bundle;
    if (info != nullptr && info->cainfo != nullptr && readWholeFile(info->cainfo, bundle))
        bundle += "\n";
    bundle += extra;
    curl_blob blob{bundle.data(), bundle.size(), CURL_BLOB_COPY};
    curl_easy_setopt(curl, CURLOPT_CAINFO_BLOB, &blob);
}

namespace {

std::string hostOfEffectiveUrl(CURL* curl)
{
    // The address being fetched when it failed: after a redirect, the one redirected to.
    std::string out;
    char* url = nullptr;
    curl_easy_getinfo(curl, CURLINFO_EFFECTIVE_URL, &url);
    if (url == nullptr)
        return out;
    if (CURLU* u = curl_url()) {
        char* host = nullptr;
        if (curl_url_set(u, CURLUPART_URL, url, CURLU_NON_SUPPORT_SCHEME) == CURLUE_OK &&
            curl_url_get(u, CURLUPART_HOST, &host, 0) == CURLUE_OK && host != nullptr) {
            out = host;
            curl_free(host);
        }
        curl_url_cleanup(u);
    }
    return out;
}

} // namespace

TransferError transferErrorOf(CURL* curl, CURLcode rc, const char* errorBuffer)
{
    TransferError error;
    if (rc == CURLE_OK)
        return error;
    error.code = rc;
    switch (rc) {
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_INVALIDCERTSTATUS:
    case CURLE_SSL_CRL_BADFILE: error.kind = TransferFailure::Certificate; break;
    case CURLE_OPERATION_TIMEDOUT: error.kind = TransferFailure::Timeout; break;
    case CURLE_TOO_MANY_REDIRECTS: error.kind = TransferFailure::RefusedRedirect; break;
    case CURLE_UNSUPPORTED_PROTOCOL: {
        // Refused at a redirect (the protocol is not one redirects may go to), or asked for
        // directly.
        long redirects = 0;
        curl_easy_getinfo(curl, CURLINFO_REDIRECT_COUNT, &redirects);
        error.kind = redirects > 0 ? TransferFailure::RefusedRedirect : TransferFailure::Other;
        break;
    }
    default: error.kind = TransferFailure::Other; break;
    }
    error.detail = errorBuffer != nullptr && errorBuffer[0] ? errorBuffer : curl_easy_strerror(rc);
    error.host = hostOfEffectiveUrl(curl);
    return error;
}

TransferError httpStatusError(CURL* curl, long status)
{
    TransferError error;
    error.kind = TransferFailure::HttpStatus;
    error.status = status;
    error.detail = "HTTP " + std::to_string(status);
    if (curl != nullptr)
        error.host = hostOfEffectiveUrl(curl);
    return error;
}

void applyCommonOptions(CURL* curl, const std::string& url, const std::string& proxy,
                        bool followRedirects, const TransferPolicy& policy)
{
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_PROXY, proxy.c_str());
    curl_easy_setopt(curl, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, followRedirects ? 1L : 0L);
    curl_easy_setopt(curl, CURLOPT_MAXREDIRS, 10L);
    applyTransferPolicy(curl, url, policy);
}

std::string bodyLimitText(const BodyLimitHit& hit)
{
    switch (hit.error) {
    case BodyLimitError::None: break;
    case BodyLimitError::TooLarge:
        return "body over the limit of " + std::to_string(hit.allowed) + " bytes (" +
               std::to_string(hit.reached) + " announced or arrived)";
    case BodyLimitError::BeyondContentLength:
        return "body beyond its Content-Length of " + std::to_string(hit.allowed) + " bytes";
    }
    return {};
}

bool BodyLimit::admit(CURL* curl, size_t n)
{
    if (hit_)
        return false;
    if (!started_) {
        started_ = true;
        curl_off_t length = -1;
        if (curl &&
            curl_easy_getinfo(curl, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length) == CURLE_OK)
            announced_ = length;
        // An answer that says it is too long is refused before its first byte is kept.
        if (announced_ > max_) {
            hit_ = BodyLimitHit{BodyLimitError::TooLarge, max_, announced_};
            return false;
        }
    }
    const int64_t total = received_ + static_cast<int64_t>(n);
    if (total > max_) {
        hit_ = BodyLimitHit{BodyLimitError::TooLarge, max_, total};
        return false;
    }
    if (announced_ >= 0 && total > announced_) {
        hit_ = BodyLimitHit{BodyLimitError::BeyondContentLength, announced_, total};
        return false;
    }
    received_ = total;
    return true;
}

void BodyCollector::install(CURL* curl)
{
    curl_ = curl;
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &BodyCollector::onData);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, this);
}

void BodyCollector::uninstall(CURL* curl)
{
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, nullptr);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, nullptr);
}

size_t BodyCollector::onData(char* data, size_t size, size_t count, void* self)
{
    auto* c = static_cast<BodyCollector*>(self);
    const size_t n = size * count;
    if (!c->limit_.admit(c->curl_, n))
        return 0;
    // Room for the announced length at once, so a body within the limit never holds twice it.
    if (c->body_.empty() && c->limit_.announced() > 0)
        c->body_.reserve(static_cast<size_t>(c->limit_.announced()));
    c->body_.append(data, n);
    return n;
}

void ResponseHeaderCollector::install(CURL* curl)
{
    text_.clear();
    curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, &ResponseHeaderCollector::onHeader);
    curl_easy_setopt(curl, CURLOPT_HEADERDATA, this);
}

size_t ResponseHeaderCollector::onHeader(char* data, size_t size, size_t count, void* self)
{
    auto* c = static_cast<ResponseHeaderCollector*>(self);
    std::string line(data, size * count);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
        line.pop_back();
    if (line.rfind("HTTP/", 0) == 0) {
        c->text_.clear();
        if (!c->raw_)
            return size * count;
    } else if (line.empty() && !c->raw_) {
        return size * count;
    }
    c->text_ += line;
    c->text_ += "\r\n";
    return size * count;
}

void IdleTimeout::install(CURL* curl)
{
    last_ = std::chrono::steady_clock::now();
    down_ = up_ = -1;
    connected_ = fired_ = cancelled_ = false;
    curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, &IdleTimeout::onProgress);
    curl_easy_setopt(curl, CURLOPT_XFERINFODATA, this);
    curl_easy_setopt(curl, CURLOPT_PREREQFUNCTION, &IdleTimeout::onConnected);
    curl_easy_setopt(curl, CURLOPT_PREREQDATA, this);
}

void IdleTimeout::uninstall(CURL* curl)
{
    curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 1L);
    curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, nullptr);
    curl_easy_setopt(curl, CURLOPT_XFERINFODATA, nullptr);
    curl_easy_setopt(curl, CURLOPT_PREREQFUNCTION, nullptr);
    curl_easy_setopt(curl, CURLOPT_PREREQDATA, nullptr);
}

// Called once the connection (a reused one too, proxy and TLS set-up included) is ready and the
// request is about to go out: from here on the idle clock runs.
int IdleTimeout::onConnected(void* self, char*, char*, int, int)
{
    auto* t = static_cast<IdleTimeout*>(self);
    t->connected_ = true;
    t->last_ = std::chrono::steady_clock::now();
    return CURL_PREREQFUNC_OK;
}

int IdleTimeout::onProgress(void* self, curl_off_t, curl_off_t dlNow, curl_off_t, curl_off_t ulNow)
{
    auto* t = static_cast<IdleTimeout*>(self);
    if (t->cancel_ && t->cancel_()) {
        t->cancelled_ = true;
        return 1;
    }
    const auto now = std::chrono::steady_clock::now();
    if (!t->connected_ || dlNow != t->down_ || ulNow != t->up_) {
        t->down_ = dlNow;
        t->up_ = ulNow;
        t->last_ = now;
        return 0;
    }
    if (t->idleMs_ > 0 && now - t->last_ >= std::chrono::milliseconds(t->idleMs_)) {
        t->fired_ = true;
        return 1;
    }
    return 0;
}

Transfer::Transfer()
{
    ensureCurlInitialised();
    easy_.reset(curl_easy_init());
}

Transfer::~Transfer() = default;

void Transfer::prepare(const std::string& url, const TransferSetup& setup)
{
    CURL* curl = easy_.get();
    curl_easy_reset(curl);
    setup_ = setup;
    error_ = {};
    errorBuffer_[0] = '\0';
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_PROXY, setup.proxy.c_str());
    if (setup.proxy.empty())
        curl_easy_setopt(curl, CURLOPT_NOPROXY, "*");
    curl_easy_setopt(curl, CURLOPT_HTTP_VERSION, setup.httpVersion);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, setup.followRedirects ? 1L : 0L);
    curl_easy_setopt(curl, CURLOPT_MAXREDIRS, 10L);
    applyTransferPolicy(curl, url, setup.policy);
    if (setup.userAgent)
        curl_easy_setopt(curl, CURLOPT_USERAGENT, kUserAgent);
    if (setup.share != nullptr)
        curl_easy_setopt(curl, CURLOPT_SHARE, setup.share);
    if (setup.keptConnections > 0)
        curl_easy_setopt(curl, CURLOPT_MAXCONNECTS, setup.keptConnections);
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, setup.connectTimeoutMs);
    if (setup.totalTimeoutMs > 0)
        curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, setup.totalTimeoutMs);
    if (setup.lowSpeedBytes > 0 && setup.lowSpeedSeconds > 0) {
        curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, static_cast<long>(setup.lowSpeedBytes));
        curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, static_cast<long>(setup.lowSpeedSeconds));
    }
    if (!setup.cookieFile.empty()) {
        // The engine matches every line against each request; a line it cannot read is skipped.
        // Only cookie-file lines (tab-separated fields) go in: a bare word such as "ALL" would
        // be taken as a command to the engine.
        curl_easy_setopt(curl, CURLOPT_COOKIEFILE, "");
        size_t from = 0;
        while (from < setup.cookieFile.size()) {
            size_t end = setup.cookieFile.find('\n', from);
            if (end == std::string::npos)
                end = setup.cookieFile.size();
            std::string line = setup.cookieFile.substr(from, end - from);
            from = end + 1;
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            if (line.find('\t') != std::string::npos)
                curl_easy_setopt(curl, CURLOPT_COOKIELIST, line.c_str());
        }
    }
    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, errorBuffer_);
    watch_ = IdleTimeout(setup.idleTimeoutMs, setup.cancelled);
    watch_.install(curl);
}

CURLcode Transfer::perform(const BodyLimitHit& limit)
{
    CURL* curl = easy_.get();
    const CURLcode rc = curl_easy_perform(curl);
    error_ = transferErrorOf(curl, rc, errorBuffer_);
    if (rc == CURLE_OK)
        return rc;
    // What the watch and the body limit saw tells the kinds libcurl's result cannot.
    if (watch_.cancelled()) {
        error_.kind = TransferFailure::Cancelled;
        error_.detail = "cancelled";
    } else if (watch_.fired()) {
        error_.kind = TransferFailure::Timeout;
        error_.detail = "timed out: no data for " + std::to_string(watch_.idleMs()) + " ms";
    } else if (limit) {
        error_.kind = TransferFailure::TooLarge;
        error_.limit = limit;
        error_.detail = bodyLimitText(limit);
    } else if (rc == CURLE_OPERATION_TIMEDOUT || rc == CURLE_COULDNT_CONNECT) {
        curl_off_t tookUs = 0;
        curl_easy_getinfo(curl, CURLINFO_TOTAL_TIME_T, &tookUs);
        const long tookMs = static_cast<long>(tookUs / 1000);
        if (!watch_.connected()) {
            // Connecting gave up: at its time-out (a time-out), or refused at once (other).
            if (rc == CURLE_OPERATION_TIMEDOUT || tookMs >= setup_.connectTimeoutMs)
                error_.kind = TransferFailure::ConnectTimeout;
        } else if (setup_.totalTimeoutMs > 0 && tookMs >= setup_.totalTimeoutMs) {
            error_.kind = TransferFailure::Timeout;
        } else if (rc == CURLE_OPERATION_TIMEDOUT && setup_.lowSpeedBytes > 0 &&
                   setup_.lowSpeedSeconds > 0) {
            error_.kind = TransferFailure::TooSlow;
        }
    }
    return rc;
}

long Transfer::status() const
{
    long status = 0;
    curl_easy_getinfo(easy_.get(), CURLINFO_RESPONSE_CODE, &status);
    return status;
}

std::string Transfer::effectiveUrl() const
{
    char* answered = nullptr;
    curl_easy_getinfo(easy_.get(), CURLINFO_EFFECTIVE_URL, &answered);
    return answered != nullptr ? answered : std::string();
}

void Transfer::refuseStatus(long status)
{
    error_ = httpStatusError(easy_.get(), status);
}
