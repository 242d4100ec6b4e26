#include "net/http_request.h"

#include "net/charset.h"
#include "net/http_text.h"

#include <curl/curl.h>

#include <algorithm>
#include <utility>

namespace {

// Time-outs a fresh request object starts with (those of the platform's request object): one
// minute to connect, 30 seconds without any data while sending or receiving.
constexpr long kDefaultConnectMs = 60000;
constexpr long kDefaultIdleMs = 30000;

// The request headers as the program sets them, one by one: setting a name that is already
// present replaces its value where it stands, and an empty name is refused.
class RequestHeaders {
public:
    void set(const std::string& name, const std::string& value)
    {
        if (name.empty())
            return;
        for (auto& [n, v] : entries_)
            if (equalsNoCase(n, name)) {
                v = value;
                return;
            }
        entries_.emplace_back(name, value);
    }
    bool has(const std::string& name) const
    {
        return std::any_of(entries_.begin(), entries_.end(),
                           [&](const auto& e) { return equalsNoCase(e.first, name); });
    }
    // Moves the header of that name out of the list; returns its line or "".
    std::string take(const std::string& name)
    {
        for (auto it = entries_.begin(); it != entries_.end(); ++it)
            if (equalsNoCase(it->first, name)) {
                std::string line = it->first + ": " + it->second;
                entries_.erase(it);
                return line;
            }
        return {};
    }
    // libcurl's form: "Name: value", or "Name;" for an empty value (a bare "Name:" would remove
    // it).
    CurlHeaderList toList() const
    {
        CurlHeaderList list;
        for (const auto& [n, v] : entries_)
            list.appendHeader(n, v);
        return list;
    }

private:
    std::vector<std::pair<std::string, std::string>> entries_;
};

} // namespace

std::optional<long> requestTimeoutMs(std::optional<int> timeoutSeconds)
{
    if (timeoutSeconds && *timeoutSeconds == -1)
        return std::nullopt;
    if (!timeoutSeconds || *timeoutSeconds < 1)
        return 15000;
    return static_cast<long>(*timeoutSeconds) * 1000;
}

const char* httpMethodName(int method)
{
    static const char* const names[] = {"GET",    "POST",  "HEAD",    "PUT",  "OPTIONS",
                                        "DELETE", "TRACE", "CONNECT", "PATCH"};
    return method >= 0 && method <= 8 ? names[method] : names[0];
}

struct HttpRequest::Handle {
    Transfer transfer;
    // The time-outs last set on this object; "-1" keeps them.
    long connectMs = kDefaultConnectMs;
    long idleMs = kDefaultIdleMs;
};

HttpRequest::HttpRequest() = default;
HttpRequest::~HttpRequest() = default;

std::string HttpRequest::send(const std::string& url, const RequestOptions& options)
{
    HttpRequest& owner = options.reuseObject ? *options.reuseObject : *this;
    if (!owner.handle_) {
        auto h = std::make_unique<Handle>();
        if (!h->transfer.valid()) {
            errorText_ = "the request object could not be created";
            failure_ = TransferError::of(TransferFailure::Other, errorText_);
            return {};
        }
        owner.handle_ = std::move(h);
    }
    Handle& handle = *owner.handle_;
    Transfer& transfer = handle.transfer;
    CURL* curl = transfer.handle();

    responseHeaders_.clear();
    statusCode_ = 0;
    receivedCookies_.clear();
    errorText_.clear();
    timedOut_ = false;
    bodyLimitHit_ = {};
    failure_ = {};

    const int method = options.method >= 0 && options.method <= 8 ? options.method : 0;

    if (auto t = requestTimeoutMs(options.timeoutSeconds)) {
        handle.connectMs = *t;
        handle.idleMs = *t;
    }
    // No proxy unless one is named. Name resolution and connecting share one limit; sending and
    // receiving end after that long without any progress. The user agent comes with the header
    // block (withDefaultHeaders) or not at all.
    TransferSetup setup;
    setup.proxy = options.proxy;
    if (!setup.proxy.empty() && setup.proxy.find("://") == std::string::npos)
        setup.proxy = "http://" + setup.proxy;
    const std::string& proxy = setup.proxy;
    setup.followRedirects = !options.disableRedirects;
    setup.policy = options.policy;
    setup.connectTimeoutMs = handle.connectMs;
    setup.idleTimeoutMs = handle.idleMs;
    setup.cancelled = options.cancelled;
    setup.userAgent = false;
    transfer.prepare(url, setup);

    // The header block: the caller's lines, then the browser-like defaults that are missing.
    std::string headers = options.extraHeaders;
    if (options.completeHeaders)
        headers = withDefaultHeaders(headers, url, method, true);
    if (options.capitalizeNames)
        headers = capitalizeHeaderNames(headers);

    RequestHeaders request;
    if (!options.proxy.empty() && !options.proxyUser.empty()) {
        if (options.credentialTarget == 1) {
            const std::string pair =
                convertCharset(options.proxyUser + ":" + options.proxyPassword, "UTF-8", "GBK");
            request.set("Proxy-Authorization", "Basic " + base64Encode(pair));
        } else {
            // Credentials for the server, offered when it asks for them.
            curl_easy_setopt(curl, CURLOPT_USERNAME, options.proxyUser.c_str());
            curl_easy_setopt(curl, CURLOPT_PASSWORD, options.proxyPassword.c_str());
            curl_easy_setopt(curl, CURLOPT_HTTPAUTH, static_cast<long>(CURLAUTH_ANY));
        }
    }
    std::string cookies = options.cookies.value_or(std::string());
    if (options.cookies) {
        if (!cookies.empty() && containsNoCase(cookies, "Cookie:"))
            cookies = eraseAllNoCase(cookies, "Cookie:");
        request.set("Cookie", headerValue(":" + cookies));
    }
    if (headers.find("\r\n") == std::string::npos) {
        request.set(headerName(headers), headerValue(headers));
    } else {
        for (const auto& line : splitCrLf(headers)) {
            if (line.empty())
                continue;
            const std::string name = headerName(line), value = headerValue(line);
            // The connection is managed by the library.
            if (name == "Connection" && value == "keep-alive")
                continue;
            request.set(name, value);
        }
    }

    // Bodies: GET and HEAD carry one only when there is one; POST, PUT and PATCH always do
    // (an empty one as "Content-Length: 0"); the other methods when it is not empty.
    const std::string& body = options.bodyBytes.empty() ? options.bodyText : options.bodyBytes;
    const bool sendBody =
        method == 2 ? false : (!body.empty() || method == 1 || method == 3 || method == 8);
    if (method == 2) {
        curl_easy_setopt(curl, CURLOPT_NOBODY, 1L);
    } else if (method == 1) {
        curl_easy_setopt(curl, CURLOPT_POST, 1L);
    } else if (method != 0 || sendBody) {
        curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, httpMethodName(method));
    }
    if (sendBody) {
        curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
        curl_easy_setopt(curl, CURLOPT_POSTFIELDS, body.data());
    }

    // The proxy's credentials go to the proxy only: with an https address they travel in the
    // CONNECT request instead of reaching the server through the tunnel.
    CurlHeaderList proxyHeaders;
    if (url.size() >= 8 && lowerAscii(url.substr(0, 8)) == "https://" &&
        request.has("Proxy-Authorization"))
        proxyHeaders.append(request.take("Proxy-Authorization"));
    CurlHeaderList list = request.toList();
    suppressLibraryHeaders(
        list, [&](const char* name) { return request.has(name); }, sendBody, !proxy.empty());
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, list.get());
    curl_easy_setopt(curl, CURLOPT_PROXYHEADER, proxyHeaders.get());

    BodyCollector responseBody(options.maxBodyBytes);
    ResponseHeaderCollector responseHeaders(false);
    responseBody.install(curl);
    responseHeaders.install(curl);

    const CURLcode rc = transfer.perform(responseBody.limitHit());
    failure_ = transfer.error();
    // The handle may outlive this call (reuse); it must not keep pointers into this frame.
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, nullptr);
    curl_easy_setopt(curl, CURLOPT_PROXYHEADER, nullptr);
    curl_easy_setopt(curl, CURLOPT_POSTFIELDS, nullptr);
    BodyCollector::uninstall(curl);
    curl_easy_setopt(curl, CURLOPT_HEADERDATA, nullptr);

    if (rc != CURLE_OK) {
        // A failed exchange reports nothing but its reason: no body, no headers, status 0.
        errorText_ = failure_.detail;
        timedOut_ = failure_.kind == TransferFailure::Timeout ||
                    failure_.kind == TransferFailure::ConnectTimeout;
        bodyLimitHit_ = failure_.limit;
        return {};
    }
    statusCode_ = static_cast<int>(transfer.status());
    responseHeaders_ = responseHeaders.take();
    if (statusCode_ >= 400)
        errorText_ = "HTTP " + std::to_string(statusCode_);

    const std::string received = extractSetCookies(splitCrLf(responseHeaders_));
    receivedCookies_ =
        options.mergeCookies && options.cookies ? mergeCookies(cookies, received) : received;
    return responseBody.take();
}
