#pragma once
#include "net/curl_easy.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

// Fetches one address synchronously and returns the whole response body (empty when the request
// could not be made). Each call uses its own connection; callable from any thread.
//   method: 0 GET, 1 POST, 2 HEAD, 3 PUT, 4 OPTIONS, 5 DELETE, 6 TRACE, 7 CONNECT, 8 PATCH
//           (anything else: GET)
//   bodyText: body when bodyBytes is empty (every method but GET sends a body)
//   cookies: cookie text to send ("a=1" or a whole "Cookie: a=1" line); when
//           given (even empty) no cookie store is used
//   returnedCookies: receives the cookies set by the response (merged with the sent ones)
//   extraHeaders: header lines separated by "\r\n"
//   returnedHeaders: receives the raw response headers, status line first
//   proxy: "host:port" (empty: direct); socksProxy: it is a SOCKS (version 4) proxy; otherwise
//           an HTTP proxy (https addresses go through it with CONNECT)
//   timeoutSeconds: a connection attempt, or a transfer that makes no progress, ends after that
//           long (the call fails: empty body)
//   lowSpeedBytes, lowSpeedSeconds: when both are set, a transfer slower than lowSpeedBytes per
//           second for lowSpeedSeconds fails, so a server that trickles bytes cannot hold the call
//           for ever (the idle limit only ends a transfer that sends nothing at all)
//   errorText: receives "" on success, otherwise a short reason (transport error, "HTTP 404")
//   effectiveUrl: receives the address that gave the answer, after redirects (empty on failure),
//           the base that addresses in the answer are relative to
//   maxBodyBytes: the most body bytes read; a longer answer (or one that announces more) ends the
//           call as a failure, and bodyLimitHit receives why
//   cancelled: checked while the transfer runs; when it answers true the call ends at once
//           (errorText "cancelled")
//   policy: what the transfer trusts (certificates); protocols are http and https only
//   cookieFile: cookies in the Netscape cookie-file form, one a line, handed to libcurl's cookie
//           engine: each request (a redirected one too) carries only those that match its host
//           and path, Secure ones only over https. Sent besides the cookies text, if both are given
//   failure: receives why no answer arrived (kind None when one did)
// A transfer that fails part-way (cut connection, time-out) gives the empty body, never a
// truncated one. An error page is returned like any other body.
struct FetchPageOptions {
    int method = 0;
    std::string bodyText;
    std::optional<std::string> cookies;
    std::string* returnedCookies = nullptr;
    std::string extraHeaders;
    std::string* returnedHeaders = nullptr;
    bool noRedirect = false;
    std::string bodyBytes;
    std::string proxy;
    bool mergeCookies = true;
    bool completeHeaders = true;
    bool normaliseHeaderNames = true;
    bool socksProxy = false;
    int timeoutSeconds = 60;
    int lowSpeedBytes = 0;
    int lowSpeedSeconds = 0;
    std::string* errorText = nullptr;
    std::string* effectiveUrl = nullptr;
    int64_t maxBodyBytes = kPageBodyLimit;
    BodyLimitHit* bodyLimitHit = nullptr;
    std::function<bool()> cancelled;
    TransferPolicy policy;
    std::string cookieFile;
    TransferError* failure = nullptr;
};

std::string fetchPage(const std::string& url, const FetchPageOptions& options = {});

// The host of a URL, lower-cased, without the port unless keepPort.
std::string hostOf(const std::string& url, bool keepPort = false);
// The port of a URL: the written one, else 443 for https and 80 otherwise.
int portOf(const std::string& url);
// The path of a URL from the first "/" after the host, query included; "/" when there is none.
std::string pathOf(const std::string& url);
