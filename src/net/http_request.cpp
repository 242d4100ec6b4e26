#include "net/http_request.h"

struct HttpRequest::Handle {};

HttpRequest::HttpRequest() = default;
HttpRequest::~HttpRequest() = default;

const char* httpMethodName(int method)
{
    static const char* const names[] = {"GET",     "POST",  "HEAD",    "PUT",  "OPTIONS",
                                        "DELETE",  "TRACE", "CONNECT", "PATCH"};
    return method >= 0 && method <= 8 ? names[method] : names[0];
}

std::string HttpRequest::send(const std::string&, const RequestOptions&)
{
    errorText_ = "not implemented";
    return {};
}

