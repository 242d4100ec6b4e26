#include "catalogue/catalogue_text.h"

#include <array>
#include <cstdint>
#include <string_view>
#include <unordered_map>
#include <utility>

namespace {

// The named references of HTML's common entities (HTML 4's Latin-1, symbol and special sets
// and the apostrophe).
struct Entity {
    std::string_view name;
    char32_t code;
};

constexpr std::array kEntities = std::to_array<Entity>({
    {"quot", 34},     {"amp", 38},      {"apos", 39},     {"lt", 60},       {"gt", 62},
    {"nbsp", 160},    {"iexcl", 161},   {"cent", 162},    {"pound", 163},   {"curren", 164},
    {"yen", 165},     {"brvbar", 166},  {"sect", 167},    {"uml", 168},     {"copy", 169},
    {"ordf", 170},    {"laquo", 171},   {"not", 172},     {"shy", 173},     {"reg", 174},
    {"macr", 175},    {"deg", 176},     {"plusmn", 177},  {"sup2", 178},    {"sup3", 179},
    {"acute", 180},   {"micro", 181},   {"para", 182},    {"middot", 183},  {"cedil", 184},
    {"sup1", 185},    {"ordm", 186},    {"raquo", 187},   {"frac14", 188},  {"frac12", 189},
    {"frac34", 190},  {"iquest", 191},  {"Agrave", 192},  {"Aacute", 193},  {"Acirc", 194},
    {"Atilde", 195},  {"Auml", 196},    {"Aring", 197},   {"AElig", 198},   {"Ccedil", 199},
    {"Egrave", 200},  {"Eacute", 201},  {"Ecirc", 202},   {"Euml", 203},    {"Igrave", 204},
    {"Iacute", 205},  {"Icirc", 206},   {"Iuml", 207},    {"ETH", 208},     {"Ntilde", 209},
    {"Ograve", 210},  {"Oacute", 211},  {"Ocirc", 212},   {"Otilde", 213},  {"Ouml", 214},
    {"times", 215},   {"Oslash", 216},  {"Ugrave", 217},  {"Uacute", 218},  {"Ucirc", 219},
    {"Uuml", 220},    {"Yacute", 221},  {"THORN", 222},   {"szlig", 223},   {"agrave", 224},
    {"aacute", 225},  {"acirc", 226},   {"atilde", 227},  {"auml", 228},    {"aring", 229},
    {"aelig", 230},   {"ccedil", 231},  {"egrave", 232},  {"eacute", 233},  {"ecirc", 234},
    {"euml", 235},    {"igrave", 236},  {"iacute", 237},  {"icirc", 238},   {"iuml", 239},
    {"eth", 240},     {"ntilde", 241},  {"ograve", 242},  {"oacute", 243},  {"ocirc", 244},
    {"otilde", 245},  {"ouml", 246},    {"divide", 247},  {"oslash", 248},  {"ugrave", 249},
    {"uacute", 250},  {"ucirc", 251},   {"uuml", 252},    {"yacute", 253},  {"thorn", 254},
    {"yuml", 255},    {"OElig", 338},   {"oelig", 339},   {"Scaron", 352},  {"scaron", 353},
    {"Yuml", 376},    {"fnof", 402},    {"circ", 710},    {"tilde", 732},   {"Alpha", 913},
    {"Beta", 914},    {"Gamma", 915},   {"Delta", 916},   {"Omega", 937},   {"alpha", 945},
    {"beta", 946},    {"gamma", 947},   {"delta", 948},   {"pi", 960},      {"omega", 969},
    {"ensp", 8194},   {"emsp", 8195},   {"thinsp", 8201}, {"zwnj", 8204},   {"zwj", 8205},
    {"lrm", 8206},    {"rlm", 8207},    {"ndash", 8211},  {"mdash", 8212},  {"lsquo", 8216},
    {"rsquo", 8217},  {"sbquo", 8218},  {"ldquo", 8220},  {"rdquo", 8221},  {"bdquo", 8222},
    {"dagger", 8224}, {"Dagger", 8225}, {"bull", 8226},   {"hellip", 8230}, {"permil", 8240},
    {"prime", 8242},  {"Prime", 8243},  {"lsaquo", 8249}, {"rsaquo", 8250}, {"oline", 8254},
    {"frasl", 8260},  {"euro", 8364},   {"trade", 8482},  {"larr", 8592},   {"uarr", 8593},
    {"rarr", 8594},   {"darr", 8595},   {"harr", 8596},   {"minus", 8722},  {"lowast", 8727},
    {"infin", 8734},  {"ne", 8800},     {"le", 8804},     {"ge", 8805},     {"loz", 9674},
    {"spades", 9824}, {"clubs", 9827},  {"hearts", 9829}, {"diams", 9830},
});

constexpr std::size_t kLongestEntityName = 8;

const Entity* findEntity(std::string_view name)
{
    static const std::unordered_map<std::string_view, const Entity*> byName = [] {
        std::unordered_map<std::string_view, const Entity*> map;
        for (const Entity& entity : kEntities)
            map.emplace(entity.name, &entity);
        return map;
    }();
    const auto found = byName.find(name);
    return found == byName.end() ? nullptr : found->second;
}

// Whether name is the start of a known name ("nb" of "nbsp").
bool startsSomeEntity(std::string_view name)
{
    for (const Entity& entity : kEntities)
        if (entity.name.substr(0, name.size()) == name)
            return true;
    return false;
}

bool isAsciiAlnum(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v';
}

void appendUtf8(std::string& out, char32_t code)
{
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | (code >> 6));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        out += static_cast<char>(0xE0 | (code >> 12));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (code >> 18));
        out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

// A character a numeric reference may name in shown text: no NUL, surrogate, C0 or C1 control
// other than white space, nothing beyond Unicode.
bool showable(std::uint32_t code)
{
    if (code == '\t' || code == '\n' || code == '\r')
        return true;
    if (code < 0x20 || (code >= 0x7F && code <= 0x9F))
        return false;
    if (code >= 0xD800 && code <= 0xDFFF)
        return false;
    return code <= 0x10FFFF;
}

// Reads a numeric reference after "&#" at text[at]; returns the length read (0: none).
std::size_t readNumeric(std::string_view text, std::size_t at, std::uint32_t& code, bool& valid)
{
    std::size_t i = at;
    const bool hex = i < text.size() && (text[i] == 'x' || text[i] == 'X');
    if (hex)
        ++i;
    const std::size_t digitsFrom = i;
    std::uint64_t value = 0;
    while (i < text.size()) {
        const char c = text[i];
        int digit = -1;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (hex && c >= 'a' && c <= 'f')
            digit = c - 'a' + 10;
        else if (hex && c >= 'A' && c <= 'F')
            digit = c - 'A' + 10;
        if (digit < 0)
            break;
        value = value * (hex ? 16 : 10) + static_cast<unsigned>(digit);
        if (value > 0x10FFFF)
            value = 0x110000; // saturate: beyond Unicode whatever follows
        ++i;
    }
    valid = i > digitsFrom && showable(static_cast<std::uint32_t>(value));
    code = static_cast<std::uint32_t>(value);
    return i - at;
}

// One decoding pass.
std::string decodeOnce(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        const char c = text[i];
        if (c != '&') {
            out += c;
            ++i;
            continue;
        }
        const std::size_t after = i + 1;
        if (after < text.size() && text[after] == '#') {
            std::uint32_t code = 0;
            bool valid = false;
            const std::size_t length = readNumeric(text, after + 1, code, valid);
            std::size_t end = after + 1 + length;
            const bool digits = length > 0 && !(length == 1 && (text[after + 1] | 0x20) == 'x');
            if (end < text.size() && text[end] == ';')
                ++end;
            else if (!digits && end < text.size()) {
                out += c; // "&#" and no number: not a reference
                ++i;
                continue;
            }
            if (digits && valid)
                appendUtf8(out, code);
            i = end;
            continue;
        }
        std::size_t end = after;
        while (end < text.size() && end - after <= kLongestEntityName && isAsciiAlnum(text[end]))
            ++end;
        const std::string_view name = text.substr(after, end - after);
        if (name.empty()) {
            // "&     ;": a reference whose name the server's text cleaning removed.
            std::size_t blank = after;
            while (blank < text.size() && isBlank(text[blank]))
                ++blank;
            if (blank < text.size() && text[blank] == ';') {
                out += ' ';
                i = blank + 1;
                continue;
            }
            out += c;
            ++i;
            continue;
        }
        const Entity* entity = findEntity(name);
        const bool closed = end < text.size() && text[end] == ';';
        if (entity != nullptr) {
            appendUtf8(out, entity->code);
            i = end + (closed ? 1 : 0);
            continue;
        }
        if (!closed && end == text.size() && startsSomeEntity(name)) {
            i = end; // cut off at the end of the text ("... &nb")
            continue;
        }
        out += c;
        ++i;
    }
    return out;
}

bool startsWithNoCase(std::string_view text, std::string_view prefix)
{
    if (text.size() < prefix.size())
        return false;
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        char a = text[i];
        if (a >= 'A' && a <= 'Z')
            a = static_cast<char>(a - 'A' + 'a');
        if (a != prefix[i])
            return false;
    }
    return true;
}

// Tags that run inside a line of text: removed without a space.
bool inlineTag(std::string_view tag)
{
    std::size_t i = 1;
    if (i < tag.size() && tag[i] == '/')
        ++i;
    std::size_t end = i;
    while (end < tag.size() && isAsciiAlnum(tag[end]))
        ++end;
    std::string name(tag.substr(i, end - i));
    for (char& ch : name)
        if (ch >= 'A' && ch <= 'Z')
            ch = static_cast<char>(ch - 'A' + 'a');
    static constexpr std::string_view kInline[] = {"a",      "b",    "i",    "u",     "em",
                                                   "strong", "span", "font", "small", "big",
                                                   "sub",    "sup",  "s",    "strike"};
    for (std::string_view known : kInline)
        if (name == known)
            return true;
    return false;
}

// One code point of UTF-8 text at i (U+FFFD for a broken sequence); i moves past it.
char32_t nextCodePoint(std::string_view text, std::size_t& i)
{
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char lead = byte(i);
    int extra = 0;
    char32_t code = 0;
    if (lead < 0x80) {
        ++i;
        return lead;
    }
    if ((lead & 0xE0) == 0xC0) {
        extra = 1;
        code = lead & 0x1F;
    } else if ((lead & 0xF0) == 0xE0) {
        extra = 2;
        code = lead & 0x0F;
    } else if ((lead & 0xF8) == 0xF0) {
        extra = 3;
        code = lead & 0x07;
    } else {
        ++i;
        return 0xFFFD;
    }
    if (i + static_cast<std::size_t>(extra) >= text.size()) {
        ++i;
        return 0xFFFD;
    }
    for (int k = 1; k <= extra; ++k) {
        const unsigned char next = byte(i + static_cast<std::size_t>(k));
        if ((next & 0xC0) != 0x80) {
            ++i;
            return 0xFFFD;
        }
        code = (code << 6) | (next & 0x3F);
    }
    i += static_cast<std::size_t>(extra) + 1;
    return code;
}

bool isSpace(char32_t c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v' || c == 0xA0 ||
           c == 0x1680 || (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 ||
           c == 0x202F || c == 0x205F || c == 0x3000;
}

// Characters of no width that only get in the way: zero-width space and the byte-order mark.
bool isInvisible(char32_t c)
{
    return c == 0x200B || c == 0xFEFF;
}

// Characters of the wide East Asian scripts and their punctuation: Hangul, the CJK radicals,
// symbols and punctuation, kana, Bopomofo, the ideographs and the full-width forms. Chinese text
// sets no spaces beside them.
bool isWide(char32_t c)
{
    return (c >= 0x1100 && c <= 0x11FF) || (c >= 0x2E80 && c <= 0xA4CF) ||
           (c >= 0xAC00 && c <= 0xD7AF) || (c >= 0xF900 && c <= 0xFAFF) ||
           (c >= 0xFE30 && c <= 0xFE4F) || (c >= 0xFF00 && c <= 0xFFEF) ||
           (c >= 0x20000 && c <= 0x3FFFF);
}

// Collapses white space as blurbText describes.
std::string tidySpaces(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    char32_t last = 0; // last code point written; 0 at the start
    bool pendingSpace = false;
    std::size_t i = 0;
    while (i < text.size()) {
        const std::size_t from = i;
        const char32_t c = nextCodePoint(text, i);
        if (isInvisible(c))
            continue;
        if (isSpace(c)) {
            pendingSpace = true;
            continue;
        }
        if (pendingSpace && last != 0 && !isWide(last) && !isWide(c))
            out += ' ';
        pendingSpace = false;
        if (c == 0xFFFD && text.compare(from, 3, "\xEF\xBF\xBD") != 0)
            out += "\xEF\xBF\xBD";
        else
            out.append(text.substr(from, i - from));
        last = c;
    }
    return out;
}

std::string cleanText(const std::string& text)
{
    std::string plain = stripHtmlTags(text);
    plain = decodeHtmlEntities(plain);
    // Content escaped twice shows its tags once decoded ("&lt;p&gt;").
    if (plain.find('<') != std::string::npos)
        plain = stripHtmlTags(plain);
    return tidySpaces(plain);
}

} // namespace

std::string decodeHtmlEntities(std::string_view text)
{
    std::string once = decodeOnce(text);
    // Servers that escape their editor's HTML once more send "&amp;nbsp;": a second pass reads it.
    if (once.find('&') != std::string::npos && text.find("&amp;") != std::string_view::npos)
        return decodeOnce(once);
    return once;
}

std::string stripHtmlTags(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        const char c = text[i];
        const char next = i + 1 < text.size() ? text[i + 1] : '\0';
        const bool opens = c == '<' && (((next | 0x20) >= 'a' && (next | 0x20) <= 'z') ||
                                        next == '/' || next == '!');
        if (!opens) {
            out += c;
            ++i;
            continue;
        }
        std::size_t close = std::string_view::npos;
        if (startsWithNoCase(text.substr(i), "<!--")) {
            const std::size_t end = text.find("-->", i + 4);
            close = end == std::string_view::npos ? end : end + 2;
        } else {
            close = text.find('>', i + 1);
            const std::size_t nextOpen = text.find('<', i + 1);
            if (nextOpen < close)
                close = std::string_view::npos;
        }
        if (close == std::string_view::npos) {
            out += c;
            ++i;
            continue;
        }
        if (!inlineTag(text.substr(i, close - i)))
            out += ' ';
        i = close + 1;
    }
    return out;
}

std::string blurbText(const std::string& blurb, const std::string& content)
{
    std::string text = cleanText(blurb);
    if (text.empty())
        text = cleanText(content);
    return text.empty() ? "这个作者很懒, 暂无此剧简介" : text;
}

std::string resolveCoverUrl(const std::string& cover, const std::string& pageUrl)
{
    const std::size_t first = cover.find_first_not_of(" \t\r\n");
    if (first == std::string::npos)
        return {};
    std::string address = cover.substr(first, cover.find_last_not_of(" \t\r\n") - first + 1);

    const std::size_t schemeEnd = pageUrl.find("://");
    if (schemeEnd == std::string::npos || schemeEnd == 0)
        return address;
    const std::string scheme = pageUrl.substr(0, schemeEnd);
    const std::size_t pathStart = pageUrl.find_first_of("/?#", schemeEnd + 3);
    const std::string root = pageUrl.substr(0, pathStart);

    if (address.rfind("//", 0) == 0)
        return scheme + ":" + address;
    // An address that names its scheme ("https:", "data:") is absolute.
    const std::size_t colon = address.find(':');
    const std::size_t delimiter = address.find_first_of("/?#");
    if (colon != std::string::npos && colon > 0 && colon < delimiter) {
        bool schemeChars = true;
        for (std::size_t k = 0; k < colon; ++k) {
            const char ch = address[k];
            schemeChars = schemeChars && (isAsciiAlnum(ch) || ch == '+' || ch == '-' || ch == '.');
        }
        if (schemeChars && ((address[0] | 0x20) >= 'a' && (address[0] | 0x20) <= 'z'))
            return address;
    }
    if (address[0] == '/')
        return root + address;
    std::string_view relative = address;
    while (relative.rfind("./", 0) == 0)
        relative.remove_prefix(2);
    return root + "/" + std::string(relative);
}
