#include "util/marker_text.h"

#include <algorithm>
#include <cstddef>

namespace {
const std::string kQuoteMarker = "#引号";
} // namespace

std::string substituteQuotes(const std::string& marker)
{
    std::string out;
    out.reserve(marker.size());
    size_t from = 0;
    for (size_t at = marker.find(kQuoteMarker); at != std::string::npos;
         at = marker.find(kQuoteMarker, from)) {
        out.append(marker, from, at - from);
        out.push_back('"');
        from = at + kQuoteMarker.size();
    }
    out.append(marker, from, std::string::npos);
    return out;
}

namespace {

char asciiLower(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// First occurrence of needle in text at or after from (0-based), or npos.
size_t findFrom(const std::string& text, const std::string& needle, size_t from,
                bool caseInsensitive)
{
    if (from > text.size())
        return std::string::npos;
    if (!caseInsensitive)
        return text.find(needle, from);
    auto it =
        std::search(text.begin() + static_cast<std::ptrdiff_t>(from), text.end(), needle.begin(),
                    needle.end(), [](char a, char b) { return asciiLower(a) == asciiLower(b); });
    return it == text.end() && !needle.empty() ? std::string::npos
                                               : static_cast<size_t>(it - text.begin());
}

} // namespace

std::string textBetween(const std::string& text, const std::string& left, const std::string& right,
                        int start, bool caseInsensitive)
{
    const std::string l = substituteQuotes(left);
    const std::string r = substituteQuotes(right);
    const size_t from = start > 1 ? static_cast<size_t>(start) - 1 : 0;
    const size_t at = findFrom(text, l, from, caseInsensitive);
    if (at == std::string::npos)
        return {};
    const size_t begin = at + l.size();
    const size_t end = findFrom(text, r, begin, caseInsensitive);
    if (end == std::string::npos)
        return {};
    return text.substr(begin, end - begin);
}

std::string textAfterLast(const std::string& text, const std::string& marker)
{
    const size_t at = text.rfind(marker);
    if (at == std::string::npos)
        return {};
    return text.substr(at + marker.size());
}

void replaceAll(std::string& text, const std::string& from, const std::string& to)
{
    for (std::size_t at = text.find(from); at != std::string::npos;
         at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
}

std::vector<std::string> splitText(const std::string& text, const std::string& separator)
{
    std::vector<std::string> pieces;
    std::size_t from = 0;
    for (;;) {
        const std::size_t at = text.find(separator, from);
        if (at == std::string::npos) {
            pieces.push_back(text.substr(from));
            return pieces;
        }
        pieces.push_back(text.substr(from, at - from));
        from = at + separator.size();
    }
}
