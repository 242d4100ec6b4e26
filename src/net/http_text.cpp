#include "net/http_text.h"

std::string headerName(const std::string&) { return {}; }
std::string headerValue(const std::string&) { return {}; }
std::string capitalizeHeaderNames(const std::string& h) { return h; }
std::string extractSetCookies(const std::vector<std::string>&) { return {}; }
std::string mergeCookies(const std::string&, const std::string&) { return {}; }
std::string cookieName(const std::string&) { return {}; }
std::string dedupeJoined(const std::string& t, const std::string&) { return t; }
std::string base64Encode(const std::string&) { return {}; }
