#include "download/fetch_page.h"

#include "net/curl_easy.h"
#include "net/http_request.h"
#include "net/http_text.h"
#include "util/marker_text.h"
#include "util/text_number.h"

#include <curl/curl.h>

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
    return textToInt(h.substr(colon + 1));
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

    Transfer transfer;
    if (!transfer.valid()) {
        setError("the connection could not be opened");
        if (options.failure)
            *options.failure =
                TransferError::of(TransferFailure::Other, "the connection could not be opened");
        return {};
    }
    CURL* curl = transfer.handle();

    TransferSetup setup;
    if (!options.proxy.empty())
        setup.proxy = (options.socksProxy ? "socks4://" : "http://") + options.proxy;
    const std::string& proxy = setup.proxy;
    const std::string address = std::string(https ? "https://" : "http://") + hostOf(url) + ":" +
                                std::to_string(portOf(url)) + pathOf(url);
    const long timeoutMs =
        static_cast<long>(options.timeoutSeconds > 0 ? options.timeoutSeconds : 60) * 1000;
    setup.followRedirects = !options.noRedirect;
    setup.policy = options.policy;
    setup.connectTimeoutMs = timeoutMs;
    setup.idleTimeoutMs = timeoutMs;
    setup.lowSpeedBytes = options.lowSpeedBytes;
    setup.lowSpeedSeconds = options.lowSpeedSeconds;
    setup.cancelled = options.cancelled;
    setup.userAgent = !agentLine;
    setup.cookieFile = options.cookieFile;
    transfer.prepare(address, setup);

    if (options.completeHeaders)
        headers = withDefaultHeaders(headers, url, method, false);
    if (options.cookies && !options.cookies->empty()) {
        if (options.cookies->find("Cookie:") != std::string::npos)
            headers += "\r\n" + *options.cookies;
        else
            headers += "\r\nCookie: " + *options.cookies;
    }

    // Only "Name: value" lines go out. A line without a name, or one that still holds a bare CR
    // or LF, would be sent as it stands and could end the header block early; it is dropped.
    CurlHeaderList list;
    bool hasAccept = false, hasContentType = false, hasExpect = false;
    for (const auto& line : splitCrLf(headers)) {
        if (line.find_first_of("\r\n") != std::string::npos || headerName(line).empty())
            continue;
        const std::string name = lowerAscii(headerName(line));
        hasAccept = hasAccept || name == "accept";
        hasContentType = hasContentType || name == "content-type";
        hasExpect = hasExpect || name == "expect";
        // libcurl reads "Name:" as "remove Name"; "Name;" sends it with an empty value.
        const size_t colon = line.find(':');
        if (line.find_first_not_of(' ', colon + 1) == std::string::npos)
            list.append(line.substr(0, colon) + ";");
        else
            list.append(line);
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
    suppressLibraryHeaders(
        list,
        [&](const char* name) {
            const std::string n = lowerAscii(name);
            return (n == "accept" && hasAccept) || (n == "content-type" && hasContentType) ||
                   (n == "expect" && hasExpect);
        },
        sendBody, !proxy.empty() && !options.socksProxy);
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, list.get());

    BodyCollector responseBody(options.maxBodyBytes);
    ResponseHeaderCollector rawHeaders(true);
    responseBody.install(curl);
    rawHeaders.install(curl);

    const CURLcode rc = transfer.perform(responseBody.limitHit());
    if (options.bodyLimitHit)
        *options.bodyLimitHit = responseBody.limitHit();
    if (options.failure)
        *options.failure = transfer.error();
    if (rc != CURLE_OK) {
        // A transfer that failed part-way is not handed on as if it were the whole page.
        setError(transfer.error().detail);
        if (options.returnedHeaders)
            options.returnedHeaders->clear();
        if (options.returnedCookies)
            options.returnedCookies->clear();
        if (options.effectiveUrl)
            options.effectiveUrl->clear();
        return {};
    }
    if (options.effectiveUrl) {
        const std::string answered = transfer.effectiveUrl();
        *options.effectiveUrl = answered.empty() ? address : answered;
    }
    const long status = transfer.status();
    if (status >= 400)
        setError("HTTP " + std::to_string(status));

    std::string cookies = extractSetCookies(splitCrLf(rawHeaders.text()));
    if (options.mergeCookies && options.cookies)
        cookies = mergeCookies(eraseAllNoCase(*options.cookies, "Cookie:"), cookies);
    if (options.returnedHeaders)
        *options.returnedHeaders = rawHeaders.take();
    if (options.returnedCookies)
        *options.returnedCookies = cookies;
    return responseBody.take();
}
