#include "net/curl_easy.h"

#include "net/http_text.h"

#include <fstream>
#include <iterator>
#include <mutex>

const char* const kDefaultUserAgent = "Mozilla/4.0 (compatible; MSIE 9.0; Windows NT 6.1)";

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
        add(std::string("User-Agent: ") + kDefaultUserAgent);
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

TransferError transferErrorOf(CURL* curl, CURLcode rc, const char* errorBuffer)
{
    TransferError error;
    if (rc == CURLE_OK)
        return error;
    switch (rc) {
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_INVALIDCERTSTATUS:
    case CURLE_SSL_CRL_BADFILE: error.kind = TransferFailure::Certificate; break;
    default: error.kind = TransferFailure::Transport; break;
    }
    error.detail = errorBuffer != nullptr && errorBuffer[0] ? errorBuffer : curl_easy_strerror(rc);
    // The address being fetched when it failed: after a redirect, the one redirected to.
    char* url = nullptr;
    curl_easy_getinfo(curl, CURLINFO_EFFECTIVE_URL, &url);
    if (url != nullptr) {
        if (CURLU* u = curl_url()) {
            char* host = nullptr;
            if (curl_url_set(u, CURLUPART_URL, url, CURLU_NON_SUPPORT_SCHEME) == CURLUE_OK &&
                curl_url_get(u, CURLUPART_HOST, &host, 0) == CURLUE_OK && host != nullptr) {
                error.host = host;
                curl_free(host);
            }
            curl_url_cleanup(u);
        }
    }
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
    if (now - t->last_ >= std::chrono::milliseconds(t->idleMs_)) {
        t->fired_ = true;
        return 1;
    }
    return 0;
}
