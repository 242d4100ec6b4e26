#include "download/fetch_page.h"

#include "net/http_request.h"
#include "net/http_text.h"
#include "util/marker_text.h"

#include <curl/curl.h>

#include <memory>
#include <vector>

namespace {

const char* const kDefaultUserAgent = "Mozilla/4.0 (compatible; MSIE 9.0; Windows NT 6.1)";

// The leading decimal digits of a text as a number; 0 when there are none.
int leadingNumber(const std::string& text)
{
    long long v = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            break;
        v = v * 10 + (c - '0');
        if (v > 0x7fffffff)
            return 0;
    }
    return static_cast<int>(v);
}

struct EasyFree {
    void operator()(CURL* c) const { curl_easy_cleanup(c); }
};
struct SlistFree {
    void operator()(curl_slist* l) const { curl_slist_free_all(l); }
};
using Slist = std::unique_ptr<curl_slist, SlistFree>;

void append(Slist& list, const std::string& line)
{
    if (curl_slist* grown = curl_slist_append(list.get(), line.c_str())) {
        (void)list.release();
        list.reset(grown);
    }
}

size_t appendBody(char* data, size_t size, size_t count, void* user)
{
    static_cast<std::string*>(user)->append(data, size * count);
    return size * count;
}

// The raw header block of the last response: status line, header lines, the empty line. A new
// status line (redirect, "100 Continue", a proxy's CONNECT answer) starts over.
size_t collectRawHeaders(char* data, size_t size, size_t count, void* user)
{
    auto* headers = static_cast<std::string*>(user);
    std::string line(data, size * count);
    if (line.rfind("HTTP/", 0) == 0)
        headers->clear();
    headers->append(line);
    return size * count;
}

} // namespace

std::string hostOf(const std::string& url, bool keepPort)
{
    std::string u = lowerAscii(url);
    if (u.empty() || u.back() != '/')
        u += '/';
    std::string host;
    if (u.rfind("https://", 0) == 0) {
        host = textBetween(u, "https://", "/");
    } else {
        if (u.find("http://") == std::string::npos)
            u = "http://" + u;
        host = textBetween(u, "http://", "/");
    }
    if (!keepPort)
        host = host.substr(0, host.find(':'));
    return host;
}

int portOf(const std::string& url)
{
    const std::string h = hostOf(url, true);
    const size_t colon = h.rfind(':');
    if (colon == std::string::npos)
        return lowerAscii(url.substr(0, 5)) == "https" ? 443 : 80;
    return leadingNumber(h.substr(colon + 1));
}

std::string pathOf(const std::string& url)
{
    const size_t hostAt = lowerAscii(url).find(hostOf(url));
    if (hostAt == std::string::npos)
        return "/";
    const size_t slash = url.find('/', hostAt);
    return slash == std::string::npos ? "/" : url.substr(slash);
}

std::string fetchPage(const std::string& url, const FetchPageOptions& options)
{
    ensureCurlInitialised();
    auto setError = [&](const std::string& e) {
        if (options.errorText)
            *options.errorText = e;
    };
    setError("");

    std::string headers = options.extraHeaders;
    if (options.normaliseHeaderNames)
        headers = capitalizeHeaderNames(headers);

    const int method = options.method >= 0 && options.method <= 8 ? options.method : 0;
    const bool https = lowerAscii(url.substr(0, 8)) == "https://";

    // The user agent is the value of a User-Agent line of the header block, if there is one.
    std::optional<std::string> agentLine;
    for (const auto& line : splitCrLf(headers))
        if (lowerAscii(headerName(line)) == "user-agent") {
            agentLine = headerValue(line);
            break;
        }

    std::unique_ptr<CURL, EasyFree> easy(curl_easy_init());
    if (!easy) {
        setError("the connection could not be opened");
        return {};
    }
    CURL* curl = easy.get();

    std::string proxy;
    if (!options.proxy.empty())
        proxy = (options.socksProxy ? "socks4://" : "http://") + options.proxy;
    curl_easy_setopt(curl, CURLOPT_PROXY, proxy.c_str());   // "" = direct, environment ignored

    const std::string address = std::string(https ? "https://" : "http://") + hostOf(url) + ":" +
                                std::to_string(portOf(url)) + pathOf(url);
    curl_easy_setopt(curl, CURLOPT_URL, address.c_str());
    curl_easy_setopt(curl, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, options.noRedirect ? 0L : 1L);
    curl_easy_setopt(curl, CURLOPT_MAXREDIRS, 10L);
    // Certificate problems of every kind are ignored, as are redirects between http and https.
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 0L);
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 0L);
    const long timeoutMs = static_cast<long>(options.timeoutSeconds > 0 ? options.timeoutSeconds : 60) * 1000;
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, timeoutMs);
    IdleTimeout idle(timeoutMs);
    idle.install(curl);
    if (!agentLine)
        curl_easy_setopt(curl, CURLOPT_USERAGENT, kDefaultUserAgent);

    if (options.completeHeaders) {
        if (!containsNoCase(headers, "Accept:"))
            headers += headers.empty() ? "Accept: */*" : "\r\nAccept: */*";
        if (!containsNoCase(headers, "Referer:"))
            headers += "\r\nReferer: " + url;
        if (!containsNoCase(headers, "Accept-Language:"))
            headers += "\r\nAccept-Language: zh-cn";
        if (method == 1 && !containsNoCase(headers, "Content-Type:"))
            headers += "\r\nContent-Type: application/x-www-form-urlencoded";
    }
    if (options.cookies && !options.cookies->empty()) {
        if (options.cookies->find("Cookie:") != std::string::npos)
            headers += "\r\n" + *options.cookies;
        else
            headers += "\r\nCookie: " + *options.cookies;
    }

    Slist list;
    bool hasAccept = false, hasContentType = false, hasExpect = false;
    for (const auto& line : splitCrLf(headers)) {
        if (line.empty())
            continue;
        const std::string name = lowerAscii(headerName(line));
        hasAccept = hasAccept || name == "accept";
        hasContentType = hasContentType || name == "content-type";
        hasExpect = hasExpect || name == "expect";
        // libcurl reads "Name:" as "remove Name"; "Name;" sends it with an empty value.
        const size_t colon = line.find(':');
        if (colon != std::string::npos && line.find_first_not_of(' ', colon + 1) == std::string::npos)
            append(list, line.substr(0, colon) + ";");
        else
            append(list, line);
    }

    // Every method but GET (and HEAD, which cannot carry one) sends a body, an empty one too.
    const std::string& body = options.bodyBytes.empty() ? options.bodyText : options.bodyBytes;
    const bool sendBody = method != 0 && method != 2;
    if (method == 2)
        curl_easy_setopt(curl, CURLOPT_NOBODY, 1L);
    else if (method == 1)
        curl_easy_setopt(curl, CURLOPT_POST, 1L);
    else if (method != 0)
        curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, httpMethodName(method));
    if (sendBody) {
        curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
        curl_easy_setopt(curl, CURLOPT_POSTFIELDS, body.data());
    }
    // Only the header block goes out, besides Host, the agent and the body's length.
    if (!hasAccept)
        append(list, "Accept:");
    if (!hasExpect)
        append(list, "Expect:");
    if (sendBody && !hasContentType)
        append(list, "Content-Type:");
    if (!proxy.empty() && !options.socksProxy)
        append(list, "Proxy-Connection:");
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, list.get());

    std::string responseBody, rawHeaders;
    char errorBuffer[CURL_ERROR_SIZE] = {};
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, appendBody);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &responseBody);
    curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, collectRawHeaders);
    curl_easy_setopt(curl, CURLOPT_HEADERDATA, &rawHeaders);
    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, errorBuffer);

    const CURLcode rc = curl_easy_perform(curl);
    if (rc != CURLE_OK) {
        // A transfer that failed part-way is not handed on as if it were the whole page.
        setError(idle.fired() ? "timed out: no data for " + std::to_string(timeoutMs) + " ms"
                              : std::string(errorBuffer[0] ? errorBuffer : curl_easy_strerror(rc)));
        if (options.returnedHeaders)
            options.returnedHeaders->clear();
        if (options.returnedCookies)
            options.returnedCookies->clear();
        if (options.effectiveUrl)
            options.effectiveUrl->clear();
        return {};
    }
    if (options.effectiveUrl) {
        char* answered = nullptr;
        curl_easy_getinfo(curl, CURLINFO_EFFECTIVE_URL, &answered);
        *options.effectiveUrl = answered ? answered : address;
    }
    long status = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
    if (status >= 400)
        setError("HTTP " + std::to_string(status));

    std::string cookies = extractSetCookies(splitCrLf(rawHeaders));
    if (options.mergeCookies && options.cookies)
        cookies = mergeCookies(eraseAllNoCase(*options.cookies, "Cookie:"), cookies);
    if (options.returnedHeaders)
        *options.returnedHeaders = rawHeaders;
    if (options.returnedCookies)
        *options.returnedCookies = cookies;
    return responseBody;
}
