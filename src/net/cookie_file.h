#pragma once
// One browser cookie as a line of the Netscape cookie-file format, the form libcurl's cookie
// engine reads (CURLOPT_COOKIELIST): domain, include-subdomains flag, path, secure flag, expiry,
// name and value separated by tabs; an HttpOnly cookie's line starts with "#HttpOnly_". Header
// only: the bridge library uses it without linking the network layer.

#include <cstdint>
#include <string>

struct BrowserCookie {
    std::string domain; // "host" for a host-only cookie, ".example.org" for one of a domain
    std::string path;   // empty counts as "/"
    std::string name;
    std::string value;
    bool secure = false;
    bool httpOnly = false;
    std::int64_t expires = 0; // seconds since 1970; 0 for a session cookie
};

// The cookie's line without a line end, or the empty text when it cannot be written as one (no
// domain or name, or a field holding a tab, a line break or a NUL, which would break the line's
// fields apart).
inline std::string netscapeCookieLine(const BrowserCookie& c)
{
    auto clean = [](const std::string& field) {
        return field.find_first_of(std::string("\t\r\n\0", 4)) == std::string::npos;
    };
    const std::string path = c.path.empty() ? std::string("/") : c.path;
    if (c.domain.empty() || c.name.empty() || !clean(c.domain) || !clean(path) || !clean(c.name) ||
        !clean(c.value))
        return {};
    const bool subdomains = c.domain.front() == '.';
    std::string line = c.httpOnly ? "#HttpOnly_" : "";
    line += c.domain;
    line += subdomains ? "\tTRUE\t" : "\tFALSE\t";
    line += path;
    line += c.secure ? "\tTRUE\t" : "\tFALSE\t";
    line += std::to_string(c.expires > 0 ? c.expires : 0);
    line += '\t' + c.name + '\t' + c.value;
    return line;
}
