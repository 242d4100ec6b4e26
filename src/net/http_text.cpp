#include "net/http_text.h"

#include <algorithm>
#include <unordered_set>

namespace {

std::string trimSpaces(const std::string& s)
{
    size_t b = s.find_first_not_of(' ');
    if (b == std::string::npos)
        return {};
    return s.substr(b, s.find_last_not_of(' ') - b + 1);
}

// Splits at every occurrence of sep; "" gives one empty piece.
std::vector<std::string> splitAt(const std::string& text, const std::string& sep)
{
    std::vector<std::string> out;
    size_t from = 0;
    for (size_t at; (at = text.find(sep, from)) != std::string::npos; from = at + sep.size())
        out.push_back(text.substr(from, at - from));
    out.push_back(text.substr(from));
    return out;
}

bool startsWithNoCase(const std::string& text, const std::string& prefix)
{
    if (text.size() < prefix.size())
        return false;
    for (size_t i = 0; i < prefix.size(); ++i) {
        char a = text[i], b = prefix[i];
        if (a >= 'A' && a <= 'Z')
            a = static_cast<char>(a - 'A' + 'a');
        if (a != b)
            return false;
    }
    return true;
}

// Upper-cases the first byte of a name piece when it is an ASCII lower-case letter.
std::string capitalisePiece(std::string piece)
{
    if (!piece.empty() && piece[0] >= 'a' && piece[0] <= 'z')
        piece[0] = static_cast<char>(piece[0] - 'a' + 'A');
    return piece;
}

// Cookie items of a cookie text: trimmed, ";" at the end followed by a space, split at ";".
// Items that are empty or only spaces carry no cookie and are dropped, so that merging with an
// empty text does not leave a stray "; " in the result.
std::vector<std::string> cookieItems(const std::string& text)
{
    std::string t = trimSpaces(text);
    if (!t.empty() && t.back() == ';')
        t += ' ';
    std::vector<std::string> items;
    for (auto& item : splitAt(t, ";"))
        if (!trimSpaces(item).empty())
            items.push_back(std::move(item));
    return items;
}

} // namespace

std::string headerName(const std::string& line)
{
    size_t colon = line.find(':');
    return colon == std::string::npos ? std::string() : trimSpaces(line.substr(0, colon));
}

std::string headerValue(const std::string& line)
{
    size_t colon = line.find(':');
    return colon == std::string::npos ? std::string() : trimSpaces(line.substr(colon + 1));
}

std::string capitalizeHeaderNames(const std::string& headers)
{
    std::string out;
    bool first = true;
    for (const auto& line : splitAt(headers, "\r\n")) {
        size_t colon = line.find(':');
        if (colon == std::string::npos)
            continue;
        std::string name;
        bool firstPiece = true;
        for (const auto& piece : splitAt(line.substr(0, colon), "-")) {
            if (!firstPiece)
                name += '-';
            name += capitalisePiece(piece);
            firstPiece = false;
        }
        if (!first)
            out += "\r\n";
        out += name + line.substr(colon);
        first = false;
    }
    return out;
}

std::string extractSetCookies(const std::vector<std::string>& headerLines)
{
    std::string result;
    for (const auto& line : headerLines) {
        if (!startsWithNoCase(line, "set-cookie:"))
            continue;
        size_t semi = line.find(';', 11);
        if (semi == std::string::npos)
            continue;
        std::string item = trimSpaces(line.substr(11, semi - 11));
        if (!result.empty())
            result += "; ";
        result += item;
    }
    return result;
}

std::string cookieName(const std::string& item)
{
    return trimSpaces(item.substr(0, item.find('=')));
}

std::string mergeCookies(const std::string& sent, const std::string& received)
{
    std::vector<std::string> a = cookieItems(sent);
    std::vector<std::string> b = cookieItems(received);
    std::unordered_set<std::string> receivedNames;
    for (const auto& item : b)
        receivedNames.insert(cookieName(item));
    for (const auto& item : a)
        if (!receivedNames.count(cookieName(item)))
            b.push_back(item);

    static const std::string deleted = "=deleted";
    std::string result;
    for (const auto& item : b) {
        if (item.size() >= deleted.size() &&
            item.compare(item.size() - deleted.size(), deleted.size(), deleted) == 0)
            continue;
        result += item + "; ";
    }
    if (result.size() >= 2)
        result.erase(result.size() - 2);
    return dedupeJoined(result, "; ");
}

std::string dedupeJoined(const std::string& text, const std::string& separator)
{
    if (separator.empty())
        return text;
    std::unordered_set<std::string> seen;
    std::string out;
    bool first = true;
    for (const auto& item : splitAt(text, separator)) {
        if (!seen.insert(item).second)
            continue;
        if (!first)
            out += separator;
        out += item;
        first = false;
    }
    return out;
}

std::string base64Encode(const std::string& bytes)
{
    static const char alphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    size_t i = 0;
    for (; i + 2 < bytes.size(); i += 3) {
        unsigned v = static_cast<unsigned char>(bytes[i]) << 16 |
                     static_cast<unsigned char>(bytes[i + 1]) << 8 |
                     static_cast<unsigned char>(bytes[i + 2]);
        out += alphabet[v >> 18 & 63];
        out += alphabet[v >> 12 & 63];
        out += alphabet[v >> 6 & 63];
        out += alphabet[v & 63];
    }
    if (i < bytes.size()) {
        unsigned v = static_cast<unsigned char>(bytes[i]) << 16;
        if (i + 1 < bytes.size())
            v |= static_cast<unsigned char>(bytes[i + 1]) << 8;
        out += alphabet[v >> 18 & 63];
        out += alphabet[v >> 12 & 63];
        out += i + 1 < bytes.size() ? alphabet[v >> 6 & 63] : '=';
        out += '=';
    }
    return out;
}

std::string lowerAscii(std::string s)
{
    for (char& c : s)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return s;
}

bool containsNoCase(const std::string& text, const std::string& needle)
{
    return lowerAscii(text).find(lowerAscii(needle)) != std::string::npos;
}

bool equalsNoCase(const std::string& a, const std::string& b)
{
    return a.size() == b.size() && lowerAscii(a) == lowerAscii(b);
}

std::string eraseAllNoCase(std::string text, const std::string& needle)
{
    const std::string n = lowerAscii(needle);
    if (n.empty())
        return text;
    for (size_t at; (at = lowerAscii(text).find(n)) != std::string::npos;)
        text.erase(at, n.size());
    return text;
}

std::vector<std::string> splitCrLf(const std::string& text)
{
    std::vector<std::string> out;
    size_t from = 0;
    for (size_t at; (at = text.find("\r\n", from)) != std::string::npos; from = at + 2)
        out.push_back(text.substr(from, at - from));
    out.push_back(text.substr(from));
    return out;
}
