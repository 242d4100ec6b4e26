#pragma once
#include <string>
#include <vector>

// Text routines of the HTTP request: header lines, cookies, Base64.

// Header-line helpers.
std::string headerName(const std::string& line);  // before the first ":", trimmed of spaces
std::string headerValue(const std::string& line); // after the first ":", trimmed of spaces
// Drops lines without ":" and upper-cases the first letter of each "-"-part of every name.
std::string capitalizeHeaderNames(const std::string& headers);
// name=value pairs of the Set-Cookie lines (those with attributes), joined with "; ".
std::string extractSetCookies(const std::vector<std::string>& headerLines);
// Received cookies replace sent ones of the same name; "=deleted" items are dropped.
std::string mergeCookies(const std::string& sent, const std::string& received);
std::string cookieName(const std::string& item);
// Splits at separator, keeps the first of identical items, joins with separator.
std::string dedupeJoined(const std::string& text, const std::string& separator);
std::string base64Encode(const std::string& bytes);

// ASCII-only case helpers and the "\r\n" line split that header handling shares.
std::string lowerAscii(std::string s);
bool containsNoCase(const std::string& text, const std::string& needle);
bool equalsNoCase(const std::string& a, const std::string& b);
// Removes every occurrence of needle, ignoring ASCII case.
std::string eraseAllNoCase(std::string text, const std::string& needle);
// Splits at "\r\n"; a text without one gives one line, an empty text one empty line.
std::vector<std::string> splitCrLf(const std::string& text);
