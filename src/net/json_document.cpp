#include "net/json_document.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string_view>

#include <nlohmann/json.hpp>

#include "net/json_object_map.h"

// Objects keep their members in creation order and find them through a hash index, so reading
// or building an object of n members costs time linear in n.
using Json = nlohmann::basic_json<JsonObjectMap>;

struct JsonEngine {
    Json root = Json::object();
    // The root of a document whose text was empty: not even null; serialises as "".
    bool undefinedRoot = false;
};

namespace {

// Deeper nesting than this is refused when reading JSON text, so that every later walk over
// the tree (serialising, merging) stays well inside a thread's stack.
constexpr int maxDepth = 1000;
// How far past its end an array may be extended by one assignment (the gap fills with null).
constexpr std::size_t maxGap = std::size_t{1} << 20;
// Integers up to this magnitude print exactly as JavaScript prints them.
constexpr std::int64_t exactIntegerLimit = std::int64_t{1} << 53;

// ---------------------------------------------------------------------------------------------
// Paths

// One member access: the property name as script sees it, and the array index it stands for
// ("0", "17"; -1 when the name is not an array index). The name points into the path text, or
// into the segment list's own store when the path spelt it with escapes.
struct Segment {
    std::string_view key;
    std::int64_t index = -1;
};

// The accesses of one path. Paths are short, so the list lives on the stack unless it grows
// past a few accesses; reads then cost no allocation.
class Segments {
public:
    Segments() = default;
    Segments(const Segments&) = delete;
    Segments& operator=(const Segments&) = delete;

    void push_back(const Segment& seg)
    {
        if (n < inlineCapacity) {
            fixed[n] = seg;
        } else {
            if (n == inlineCapacity)
                spill.assign(fixed.begin(), fixed.end());
            spill.push_back(seg);
        }
        ++n;
    }
    void clear()
    {
        n = 0;
        spill.clear();
    }
    std::size_t size() const { return n; }
    bool empty() const { return n == 0; }
    const Segment* begin() const { return n <= inlineCapacity ? fixed.data() : spill.data(); }
    const Segment* end() const { return begin() + n; }
    const Segment& operator[](std::size_t k) const { return begin()[k]; }
    const Segment& back() const { return begin()[n - 1]; }
    // Keeps a name that exists only as decoded text; its address stays valid.
    std::string_view store(std::string text)
    {
        owned.push_back(std::make_unique<std::string>(std::move(text)));
        return *owned.back();
    }

private:
    static constexpr std::size_t inlineCapacity = 6;
    std::array<Segment, inlineCapacity> fixed{};
    std::vector<Segment> spill;
    std::vector<std::unique_ptr<std::string>> owned;
    std::size_t n = 0;
};

std::int64_t arrayIndexOf(std::string_view key)
{
    if (key.empty() || key.size() > 10 || (key.size() > 1 && key[0] == '0'))
        return -1;
    std::int64_t v = 0;
    for (char c : key) {
        if (c < '0' || c > '9')
            return -1;
        v = v * 10 + (c - '0');
    }
    return v < 4294967295 ? v : -1;
}

void appendUtf8(std::string& out, std::uint32_t cp)
{
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Reads a member expression: identifiers (ASCII letters, digits, "_", "$" and any non-ASCII
// character, so Chinese names work), ".name", "[digits]", "['text']" and "[\"text\"]" with
// script string escapes, white space between the pieces.
class PathReader {
public:
    explicit PathReader(std::string_view text) : t(text) {}

    void skipSpace()
    {
        while (i < t.size() && (t[i] == ' ' || t[i] == '\t' || t[i] == '\n' || t[i] == '\r' ||
                                t[i] == '\v' || t[i] == '\f'))
            ++i;
    }

    bool identifier(std::string_view& out)
    {
        auto start = i;
        if (i >= t.size() || !identStart(static_cast<unsigned char>(t[i])))
            return false;
        ++i;
        while (i < t.size() && identPart(static_cast<unsigned char>(t[i])))
            ++i;
        out = t.substr(start, i - start);
        return true;
    }

    // The rest of the text as accesses; false on anything else.
    bool accessors(Segments& out)
    {
        for (;;) {
            skipSpace();
            if (i >= t.size())
                return true;
            Segment seg;
            if (t[i] == '.') {
                ++i;
                skipSpace();
                if (!identifier(seg.key))
                    return false;
            } else if (t[i] == '[') {
                ++i;
                skipSpace();
                if (i >= t.size())
                    return false;
                if (t[i] == '\'' || t[i] == '"') {
                    if (!stringLiteral(seg.key, out))
                        return false;
                } else if (!integerLiteral(seg.key, out)) {
                    return false;
                }
                skipSpace();
                if (i >= t.size() || t[i] != ']')
                    return false;
                ++i;
            } else {
                return false;
            }
            seg.index = arrayIndexOf(seg.key);
            out.push_back(seg);
        }
    }

private:
    static bool identStart(unsigned char c)
    {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || c == '$' ||
               c >= 0x80;
    }
    static bool identPart(unsigned char c) { return identStart(c) || (c >= '0' && c <= '9'); }

    bool integerLiteral(std::string_view& key, Segments& segs)
    {
        bool negative = false;
        if (t[i] == '-') {
            negative = true;
            ++i;
            skipSpace();
        }
        auto start = i;
        while (i < t.size() && t[i] >= '0' && t[i] <= '9')
            ++i;
        if (i == start)
            return false;
        if (i < t.size() &&
            (t[i] == '.' || t[i] == 'e' || t[i] == 'E' || t[i] == 'x' || t[i] == 'X'))
            return false;
        auto digits = t.substr(start, i - start);
        while (digits.size() > 1 && digits[0] == '0')
            digits.remove_prefix(1);
        if (negative && digits != "0")
            key = segs.store("-" + std::string(digits));
        else
            key = digits;
        return true;
    }

    bool hexDigits(int count, std::uint32_t& v)
    {
        v = 0;
        if (i + count > t.size())
            return false;
        for (int k = 0; k < count; ++k) {
            int h = hexValue(t[i + k]);
            if (h < 0)
                return false;
            v = v * 16 + static_cast<std::uint32_t>(h);
        }
        i += count;
        return true;
    }

    bool stringLiteral(std::string_view& key, Segments& segs)
    {
        const char quote = t[i++];
        // Most names have no escapes: they are taken from the path text as they stand.
        const auto start = i;
        while (i < t.size() && t[i] != quote && t[i] != '\\' && t[i] != '\n' && t[i] != '\r')
            ++i;
        if (i < t.size() && t[i] == quote) {
            key = t.substr(start, i - start);
            ++i;
            return true;
        }
        std::string out(t.substr(start, i - start));
        if (!decodeLiteral(quote, out))
            return false;
        key = segs.store(std::move(out));
        return true;
    }

    bool decodeLiteral(char quote, std::string& out)
    {
        while (i < t.size()) {
            char c = t[i++];
            if (c == quote)
                return true;
            if (c == '\n' || c == '\r')
                return false;
            if (c != '\\') {
                out += c;
                continue;
            }
            if (i >= t.size())
                return false;
            char e = t[i++];
            std::uint32_t v = 0;
            switch (e) {
            case 'n': out += '\n'; break;
            case 'r': out += '\r'; break;
            case 't': out += '\t'; break;
            case 'b': out += '\b'; break;
            case 'f': out += '\f'; break;
            case 'v': out += '\v'; break;
            case '0': out += '\0'; break;
            case 'x':
                if (!hexDigits(2, v))
                    return false;
                appendUtf8(out, v);
                break;
            case 'u': {
                if (!hexDigits(4, v))
                    return false;
                if (v >= 0xD800 && v <= 0xDBFF && i + 6 <= t.size() && t[i] == '\\' &&
                    t[i + 1] == 'u') {
                    auto save = i;
                    i += 2;
                    std::uint32_t low = 0;
                    if (hexDigits(4, low) && low >= 0xDC00 && low <= 0xDFFF) {
                        v = 0x10000 + ((v - 0xD800) << 10) + (low - 0xDC00);
                    } else {
                        i = save;
                    }
                }
                if (v >= 0xD800 && v <= 0xDFFF)
                    v = 0xFFFD; // a lone surrogate has no UTF-8 form
                appendUtf8(out, v);
                break;
            }
            case '\r': // line continuation
                if (i < t.size() && t[i] == '\n')
                    ++i;
                break;
            case '\n': break;
            default: out += e;
            }
        }
        return false;
    }

    std::string_view t;
    std::size_t i = 0;
};

// ---------------------------------------------------------------------------------------------
// Walking the tree

std::int64_t utf16Length(const std::string& s)
{
    std::int64_t n = 0;
    for (unsigned char c : s) {
        if ((c & 0xC0) != 0x80)
            ++n;
        if (c >= 0xF0)
            ++n; // a character beyond U+FFFF takes two UTF-16 units
    }
    return n;
}

Json* findMember(Json& object, std::string_view key)
{
    auto& members = object.get_ref<Json::object_t&>();
    auto it = members.find(key);
    return it == members.end() ? nullptr : &it->second;
}

const Json* findMember(const Json& object, std::string_view key)
{
    const auto& members = object.get_ref<const Json::object_t&>();
    auto it = members.find(key);
    return it == members.end() ? nullptr : &it->second;
}

// One step of a read; "length" of an array or text is made up in scratch.
const Json* child(const Json& v, const Segment& seg, Json& scratch)
{
    if (v.is_object())
        return findMember(v, seg.key);
    if (v.is_array()) {
        if (seg.index >= 0) {
            auto& a = v.get_ref<const Json::array_t&>();
            return static_cast<std::size_t>(seg.index) < a.size()
                       ? &a[static_cast<std::size_t>(seg.index)]
                       : nullptr;
        }
        if (seg.key == "length") {
            scratch = v.size();
            return &scratch;
        }
        return nullptr;
    }
    if (v.is_string() && seg.key == "length") {
        scratch = utf16Length(v.get_ref<const std::string&>());
        return &scratch;
    }
    return nullptr;
}

// One step of a write walk: only members that are stored.
Json* childForWrite(Json& v, const Segment& seg)
{
    if (v.is_object())
        return findMember(v, seg.key);
    if (v.is_array() && seg.index >= 0) {
        auto& a = v.get_ref<Json::array_t&>();
        return static_cast<std::size_t>(seg.index) < a.size()
                   ? &a[static_cast<std::size_t>(seg.index)]
                   : nullptr;
    }
    return nullptr;
}

// The value a path names; nullptr when there is none.
const Json* lookup(const JsonEngine& e, const Segments& segs, Json& scratch)
{
    if (e.undefinedRoot)
        return nullptr;
    const Json* cur = &e.root;
    for (const auto& seg : segs) {
        cur = child(*cur, seg, scratch);
        if (!cur)
            return nullptr;
    }
    return cur;
}

Json* lookupForWrite(JsonEngine& e, const Segments& segs, std::size_t depth)
{
    if (e.undefinedRoot)
        return nullptr;
    Json* cur = &e.root;
    for (std::size_t k = 0; k < depth && cur; ++k)
        cur = childForWrite(*cur, segs[k]);
    return cur;
}

// Stores v at the path; the parent must exist and be an object or array.
bool assign(JsonEngine& e, const Segments& segs, Json v)
{
    if (segs.empty()) {
        e.root = std::move(v);
        e.undefinedRoot = false;
        return true;
    }
    Json* parent = lookupForWrite(e, segs, segs.size() - 1);
    if (!parent)
        return false;
    const Segment& last = segs.back();
    if (parent->is_object()) {
        parent->get_ref<Json::object_t&>()[last.key] = std::move(v);
        return true;
    }
    if (parent->is_array() && last.index >= 0) {
        auto& a = parent->get_ref<Json::array_t&>();
        auto idx = static_cast<std::size_t>(last.index);
        if (idx >= a.size()) {
            if (idx - a.size() > maxGap)
                return false;
            a.resize(idx + 1);
        }
        a[idx] = std::move(v);
        return true;
    }
    return false;
}

bool startsWithRoot(std::string_view path)
{
    return path.substr(0, 2) == JsonDocument::rootName;
}

// Turns a caller's path into accesses from the root. A path that names the root itself ("da",
// "da.list") is taken so when it leads to a value; any other path is relative to the root.
// Returns false when the path is not a member expression.
bool qualify(const JsonEngine* e, std::string_view path, Segments& segs, bool* namesRoot = nullptr)
{
    segs.clear();
    if (e && startsWithRoot(path)) {
        PathReader r(path);
        std::string_view name;
        if (r.identifier(name) && name == JsonDocument::rootName && r.accessors(segs)) {
            Json scratch;
            const Json* v = lookup(*e, segs, scratch);
            if (v && !v->is_null()) {
                if (namesRoot)
                    *namesRoot = true;
                return true;
            }
        }
        segs.clear();
    }
    if (path.empty())
        return true;
    PathReader r(path);
    if (path[0] == '[')
        return r.accessors(segs);
    r.skipSpace();
    Segment first;
    if (!r.identifier(first.key))
        return false;
    segs.push_back(first);
    return r.accessors(segs);
}

// ---------------------------------------------------------------------------------------------
// Texts

// JavaScript's Number-to-String: the shortest digits that read back as the same number, laid
// out with JavaScript's rules for where the point and the exponent go.
void appendNumber(std::string& out, double d)
{
    if (std::isnan(d)) {
        out += "NaN";
        return;
    }
    if (std::isinf(d)) {
        out += d < 0 ? "-Infinity" : "Infinity";
        return;
    }
    if (d == 0) {
        out += '0';
        return;
    }
    if (d < 0) {
        out += '-';
        d = -d;
    }
    char buf[64];
    auto res = std::to_chars(buf, buf + sizeof buf, d, std::chars_format::scientific);
    std::string_view sci(buf, static_cast<std::size_t>(res.ptr - buf));
    auto ePos = sci.find('e');
    std::string digits;
    for (char c : sci.substr(0, ePos))
        if (c != '.')
            digits += c;
    int exp10 = 0;
    auto expText = sci.substr(ePos + 1);
    if (!expText.empty() && expText[0] == '+')
        expText.remove_prefix(1);
    std::from_chars(expText.data(), expText.data() + expText.size(), exp10);
    const int k = static_cast<int>(digits.size());
    const int n = exp10 + 1; // the value is 0.digits × 10^n
    if (k <= n && n <= 21) {
        out += digits;
        out.append(static_cast<std::size_t>(n - k), '0');
    } else if (0 < n && n <= 21) {
        out.append(digits, 0, static_cast<std::size_t>(n));
        out += '.';
        out.append(digits, static_cast<std::size_t>(n));
    } else if (-6 < n && n <= 0) {
        out += "0.";
        out.append(static_cast<std::size_t>(-n), '0');
        out += digits;
    } else {
        out += digits[0];
        if (k > 1) {
            out += '.';
            out.append(digits, 1);
        }
        out += 'e';
        out += n - 1 < 0 ? '-' : '+';
        out += std::to_string(std::abs(n - 1));
    }
}

template <typename Int>
void appendInteger(std::string& out, Int v)
{
    bool exact;
    if constexpr (std::is_signed_v<Int>)
        exact = v >= -exactIntegerLimit && v <= exactIntegerLimit;
    else
        exact = v <= static_cast<std::uint64_t>(exactIntegerLimit);
    if (!exact) {
        appendNumber(out, static_cast<double>(v)); // as a script engine holds it: a double
        return;
    }
    char buf[24];
    auto res = std::to_chars(buf, buf + sizeof buf, v);
    out.append(buf, res.ptr);
}

void appendNumberValue(std::string& out, const Json& v)
{
    if (v.is_number_unsigned())
        appendInteger(out, v.get<std::uint64_t>());
    else if (v.is_number_integer())
        appendInteger(out, v.get<std::int64_t>());
    else
        appendNumber(out, v.get<double>());
}

// Length of the UTF-8 sequence at s[i] and its code point; 0 when the bytes are not UTF-8.
std::size_t decodeUtf8(std::string_view s, std::size_t i, std::uint32_t& cp)
{
    auto b = [&](std::size_t k) { return static_cast<unsigned char>(s[i + k]); };
    auto cont = [&](std::size_t k) { return i + k < s.size() && (b(k) & 0xC0) == 0x80; };
    unsigned char c = b(0);
    if (c >= 0xC2 && c <= 0xDF && cont(1)) {
        cp = ((c & 0x1Fu) << 6) | (b(1) & 0x3Fu);
        return 2;
    }
    if (c >= 0xE0 && c <= 0xEF && cont(1) && cont(2)) {
        cp = ((c & 0x0Fu) << 12) | ((b(1) & 0x3Fu) << 6) | (b(2) & 0x3Fu);
        if (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF))
            return 0;
        return 3;
    }
    if (c >= 0xF0 && c <= 0xF4 && cont(1) && cont(2) && cont(3)) {
        cp = ((c & 0x07u) << 18) | ((b(1) & 0x3Fu) << 12) | ((b(2) & 0x3Fu) << 6) | (b(3) & 0x3Fu);
        if (cp < 0x10000 || cp > 0x10FFFF)
            return 0;
        return 4;
    }
    return 0;
}

// The characters json2 writes as \uXXXX besides the ASCII controls: C1 controls, format and
// separator characters that some script engines mishandle, and the specials block.
bool json2Escapes(std::uint32_t cp)
{
    return (cp >= 0x7F && cp <= 0x9F) || cp == 0xAD || (cp >= 0x600 && cp <= 0x604) ||
           cp == 0x70F || cp == 0x17B4 || cp == 0x17B5 || (cp >= 0x200C && cp <= 0x200F) ||
           (cp >= 0x2028 && cp <= 0x202F) || (cp >= 0x2060 && cp <= 0x206F) || cp == 0xFEFF ||
           (cp >= 0xFFF0 && cp <= 0xFFFF);
}

void appendUnicodeEscape(std::string& out, std::uint32_t unit)
{
    static constexpr char hex[] = "0123456789abcdef";
    out += "\\u";
    for (int shift = 12; shift >= 0; shift -= 4)
        out += hex[(unit >> shift) & 0xF];
}

void appendQuoted(std::string& out, std::string_view s)
{
    out += '"';
    std::size_t done = 0, i = 0;
    auto flush = [&](std::size_t upto) { out.append(s.data() + done, upto - done); };
    while (i < s.size()) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        if (c < 0x80) {
            if (c >= 0x20 && c != '"' && c != '\\' && c != 0x7F) {
                ++i;
                continue;
            }
            flush(i);
            switch (c) {
            case '\b': out += "\\b"; break;
            case '\t': out += "\\t"; break;
            case '\n': out += "\\n"; break;
            case '\f': out += "\\f"; break;
            case '\r': out += "\\r"; break;
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            default: appendUnicodeEscape(out, c);
            }
            done = ++i;
            continue;
        }
        std::uint32_t cp = 0;
        std::size_t len = decodeUtf8(s, i, cp);
        if (len == 0) {
            // A stored text that is not UTF-8 still gives valid JSON: the byte becomes U+FFFD.
            flush(i);
            appendUnicodeEscape(out, 0xFFFD);
            done = ++i;
            continue;
        }
        if (json2Escapes(cp)) {
            flush(i);
            appendUnicodeEscape(out, cp);
            i += len;
            done = i;
            continue;
        }
        i += len;
    }
    flush(s.size());
    out += '"';
}

// Compact JSON as json2's stringify writes it.
void appendJson(std::string& out, const Json& v)
{
    switch (v.type()) {
    case Json::value_t::object: {
        out += '{';
        bool first = true;
        for (const auto& member : v.get_ref<const Json::object_t&>()) {
            if (!first)
                out += ',';
            first = false;
            appendQuoted(out, member.first);
            out += ':';
            appendJson(out, member.second);
        }
        out += '}';
        break;
    }
    case Json::value_t::array: {
        out += '[';
        bool first = true;
        for (const auto& element : v.get_ref<const Json::array_t&>()) {
            if (!first)
                out += ',';
            first = false;
            appendJson(out, element);
        }
        out += ']';
        break;
    }
    case Json::value_t::string: appendQuoted(out, v.get_ref<const std::string&>()); break;
    case Json::value_t::boolean: out += v.get<bool>() ? "true" : "false"; break;
    case Json::value_t::number_float: {
        double d = v.get<double>();
        if (std::isfinite(d))
            appendNumber(out, d);
        else
            out += "null";
        break;
    }
    case Json::value_t::number_integer:
    case Json::value_t::number_unsigned: appendNumberValue(out, v); break;
    default: out += "null";
    }
}

// The value's toString() in script: arrays join their elements with ",", null elements empty.
void appendScriptText(std::string& out, const Json& v)
{
    switch (v.type()) {
    case Json::value_t::string: out += v.get_ref<const std::string&>(); break;
    case Json::value_t::object: out += "[object Object]"; break;
    case Json::value_t::array: {
        bool first = true;
        for (const auto& element : v.get_ref<const Json::array_t&>()) {
            if (!first)
                out += ',';
            first = false;
            if (!element.is_null())
                appendScriptText(out, element);
        }
        break;
    }
    case Json::value_t::boolean: out += v.get<bool>() ? "true" : "false"; break;
    case Json::value_t::number_float:
    case Json::value_t::number_integer:
    case Json::value_t::number_unsigned: appendNumberValue(out, v); break;
    default: break;
    }
}

std::string scriptText(const Json& v)
{
    if (v.is_string())
        return v.get_ref<const std::string&>();
    std::string out;
    appendScriptText(out, v);
    return out;
}

std::string jsonTextOf(const Json& v)
{
    std::string out;
    appendJson(out, v);
    return out;
}

// ---------------------------------------------------------------------------------------------
// Reading JSON text

enum class ReadResult { Undefined, Invalid, Value };

bool isJsonSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

// Builds the tree through nlohmann's public SAX interface, refusing nesting deeper than maxDepth
// and keeping where a syntax error was found. A repeated member name keeps its first place and
// takes the last value, as a script object literal does.
class TreeBuilder final : public nlohmann::json_sax<Json> {
public:
    explicit TreeBuilder(Json& root) : root_(root) {}

    bool null() override { return add(nullptr) != nullptr; }
    bool boolean(bool v) override { return add(v) != nullptr; }
    bool number_integer(number_integer_t v) override { return add(v) != nullptr; }
    bool number_unsigned(number_unsigned_t v) override { return add(v) != nullptr; }
    bool number_float(number_float_t v, const string_t&) override { return add(v) != nullptr; }
    bool string(string_t& v) override { return add(std::move(v)) != nullptr; }
    bool binary(binary_t&) override { return false; }
    bool start_object(std::size_t) override { return open(Json::object()); }
    bool key(string_t& k) override
    {
        key_ = std::move(k);
        return true;
    }
    bool end_object() override { return close(); }
    bool start_array(std::size_t) override { return open(Json::array()); }
    bool end_array() override { return close(); }
    bool parse_error(std::size_t position, const std::string&, const Json::exception& ex) override
    {
        errorByte = position;
        errorWhat = ex.what();
        return false;
    }

    int depth = 0;
    std::size_t errorByte = 0;
    std::string errorWhat;

private:
    Json* add(Json v)
    {
        if (open_.empty()) {
            root_ = std::move(v);
            return &root_;
        }
        Json& parent = *open_.back();
        if (parent.is_array()) {
            parent.push_back(std::move(v));
            return &parent.back();
        }
        Json& member = parent[key_];
        member = std::move(v);
        return &member;
    }
    bool open(Json container)
    {
        if (++depth > maxDepth)
            return false;
        Json* v = add(std::move(container));
        open_.push_back(v);
        return true;
    }
    bool close()
    {
        --depth;
        open_.pop_back();
        return true;
    }

    Json& root_;
    std::vector<Json*> open_; // the containers being filled, innermost last
    std::string key_;
};

// Real servers send texts that strict JSON refuses for one stray byte. Before parsing, an
// ill-formed UTF-8 sequence becomes U+FFFD (one for each maximal ill-formed part, as Unicode
// recommends), and a raw control character inside a string other than CR and LF (a TAB above
// all) becomes its escape, as a script string literal takes it. Nothing else changes; the text
// is still only read, never run. Returns false when the text needed no change. shifts maps
// places of the cleaned text back to the original for error reports: (cleaned, original) at
// the end of each change.
bool cleanJsonText(std::string_view in, std::string& out,
                   std::vector<std::pair<std::size_t, std::size_t>>& shifts)
{
    static const char* hex = "0123456789abcdef";
    auto cont = [&](std::size_t k, unsigned lo = 0x80, unsigned hi = 0xBF) {
        return k < in.size() && static_cast<unsigned char>(in[k]) >= lo &&
               static_cast<unsigned char>(in[k]) <= hi;
    };
    bool changed = false;
    bool inString = false;
    out.clear();
    std::size_t i = 0;
    auto replaced = [&](std::string_view with, std::size_t consumed) {
        if (!changed) {
            out.reserve(in.size() + 16);
            out.assign(in.substr(0, i));
            changed = true;
        }
        out.append(with);
        i += consumed;
        shifts.emplace_back(out.size(), i);
    };
    auto keep = [&](std::size_t n) {
        if (changed)
            out.append(in.substr(i, n));
        i += n;
    };
    while (i < in.size()) {
        const auto c = static_cast<unsigned char>(in[i]);
        if (c < 0x80) {
            if (inString && c == '\\' && i + 1 < in.size() &&
                static_cast<unsigned char>(in[i + 1]) < 0x80) {
                keep(2);
                continue;
            }
            if (c == '"')
                inString = !inString;
            if (inString && c < 0x20 && c != '\n' && c != '\r') {
                if (c == '\t') {
                    replaced("\\t", 1);
                } else {
                    const char esc[] = {'\\', 'u', '0', '0', hex[c >> 4], hex[c & 15]};
                    replaced(std::string_view(esc, sizeof esc), 1);
                }
                continue;
            }
            keep(1);
            continue;
        }
        // The length of the well-formed sequence at i, or of its maximal ill-formed prefix.
        std::size_t good = 0, bad = 1;
        if (c >= 0xC2 && c <= 0xDF) {
            if (cont(i + 1))
                good = 2;
        } else if (c >= 0xE0 && c <= 0xEF) {
            const unsigned lo = c == 0xE0 ? 0xA0 : 0x80, hi = c == 0xED ? 0x9F : 0xBF;
            if (cont(i + 1, lo, hi)) {
                if (cont(i + 2))
                    good = 3;
                else
                    bad = 2;
            }
        } else if (c >= 0xF0 && c <= 0xF4) {
            const unsigned lo = c == 0xF0 ? 0x90 : 0x80, hi = c == 0xF4 ? 0x8F : 0xBF;
            if (cont(i + 1, lo, hi)) {
                if (cont(i + 2)) {
                    if (cont(i + 3))
                        good = 4;
                    else
                        bad = 3;
                } else {
                    bad = 2;
                }
            }
        }
        if (good)
            keep(good);
        else
            replaced("\xEF\xBF\xBD", bad);
    }
    return changed;
}

void describeError(std::string_view t, std::size_t byte, const std::string& what, ParseError& error)
{
    error.number = 1002;
    error.source = "JsonDocument";
    error.description = what;
    std::size_t pos = byte > 0 ? std::min(byte - 1, t.size()) : 0;
    error.line = 1;
    std::size_t lineStart = 0;
    for (std::size_t k = 0; k < pos; ++k)
        if (t[k] == '\n') {
            ++error.line;
            lineStart = k + 1;
        }
    error.column = static_cast<int>(pos - lineStart) + 1;
    auto lineEnd = t.find('\n', lineStart);
    error.text = std::string(t.substr(lineStart, std::min<std::size_t>(lineEnd - lineStart, 200)));
}

// JSON, with the tolerance of cleanJsonText. With evalStrings a value that is a string is read once
// more, as script reading its contents would: a JSON number inside gives the number, anything else
// is invalid.
ReadResult readJson(std::string_view t, Json& out, bool evalStrings, ParseError* error)
{
    if (error)
        *error = ParseError{};
    if (t.substr(0, 3) == "\xEF\xBB\xBF")
        t.remove_prefix(3);
    std::size_t first = 0;
    while (first < t.size() && isJsonSpace(t[first]))
        ++first;
    if (first == t.size()) {
        out = nullptr;
        return ReadResult::Undefined;
    }
    std::string cleaned;
    std::vector<std::pair<std::size_t, std::size_t>> shifts;
    const std::string_view input =
        cleanJsonText(t, cleaned, shifts) ? std::string_view(cleaned) : t;
    TreeBuilder builder(out);
    if (!Json::sax_parse(input.data(), input.data() + input.size(), &builder)) {
        if (error) {
            if (builder.depth > maxDepth) {
                describeError(t, 1, "nesting deeper than 1000 levels", *error);
            } else {
                // Back from the cleaned text to the place in the caller's text.
                std::size_t at = builder.errorByte;
                auto shift =
                    std::upper_bound(shifts.begin(), shifts.end(), std::make_pair(at, SIZE_MAX));
                if (shift != shifts.begin()) {
                    --shift;
                    at = shift->second + (at - shift->first);
                }
                describeError(t, at, builder.errorWhat, *error);
            }
        }
        out = nullptr;
        return ReadResult::Invalid;
    }
    if (evalStrings && out.is_string()) {
        const std::string inner = out.get<std::string>();
        const auto lead = inner.find_first_not_of(" \t\r\n");
        Json number;
        if (lead != std::string::npos &&
            (inner[lead] == '-' || (inner[lead] >= '0' && inner[lead] <= '9')))
            number = Json::parse(inner, nullptr, false);
        if (!number.is_number()) {
            if (error)
                describeError(t, 1, "the text is not a number: " + inner, *error);
            out = nullptr;
            return ReadResult::Invalid;
        }
        out = std::move(number);
    }
    return ReadResult::Value;
}

// Merges source into target as the program's extend helper does: members of source that are
// text, boolean or missing in target replace them, object and array members are merged
// further, arrays are concatenated. A number member in the way makes the merge fail.
bool extend(Json& target, const Json& source)
{
    if (target.is_array()) {
        if (source.is_array())
            for (const auto& element : source)
                target.push_back(element);
        return true;
    }
    if (!(source.is_object() || source.is_array()) || source.empty())
        return true;
    if (target.is_null())
        return false;
    if (!target.is_object())
        return true; // a text, number or boolean takes no members
    auto merge = [&target](const std::string& key, const Json& value) {
        Json* existing = findMember(target, key);
        if (!existing) {
            target.get_ref<Json::object_t&>().emplace(key, Json(value));
            return true;
        }
        if (existing->is_string() || existing->is_boolean()) {
            *existing = value;
            return true;
        }
        if (existing->is_number())
            return false;
        return extend(*existing, value);
    };
    if (source.is_object()) {
        for (const auto& member : source.get_ref<const Json::object_t&>())
            if (!merge(member.first, member.second))
                return false;
    } else {
        for (std::size_t k = 0; k < source.size(); ++k)
            if (!merge(std::to_string(k), source[k]))
                return false;
    }
    return true;
}

void collectLeaves(const Json& v, bool recursive, std::vector<std::string>& list)
{
    auto visit = [&](const Json& member) {
        if (member.is_object() || member.is_array()) {
            if (recursive)
                collectLeaves(member, recursive, list);
        } else if (member.is_string() || member.is_number() || member.is_boolean()) {
            list.push_back(scriptText(member));
        }
    };
    if (v.is_object()) {
        for (const auto& member : v.get_ref<const Json::object_t&>())
            visit(member.second);
    } else if (v.is_array()) {
        for (const auto& element : v.get_ref<const Json::array_t&>())
            visit(element);
    }
}

void pushIndex(Segments& segs, int index)
{
    Segment seg;
    seg.key = segs.store(std::to_string(index));
    seg.index = index;
    segs.push_back(seg);
}

} // namespace

// -----------------------------------------------------------------------------------------------

JsonDocument::JsonDocument()
{
    init();
}
JsonDocument::JsonDocument(std::shared_ptr<JsonEngine> e) : engine(std::move(e))
{}
JsonDocument::~JsonDocument() = default;
JsonDocument::JsonDocument(JsonDocument&&) noexcept = default;
JsonDocument& JsonDocument::operator=(JsonDocument&&) noexcept = default;

void JsonDocument::destroy()
{
    engine.reset();
}

JsonDocument JsonDocument::clone() const
{
    return JsonDocument(engine);
}

bool JsonDocument::init()
{
    engine = std::make_shared<JsonEngine>();
    return true;
}

bool JsonDocument::parse(const std::string& text, bool asLiteral, ParseError* error)
{
    if (!engine) {
        if (error)
            *error = ParseError{};
        return false;
    }
    // Every parse starts on a fresh value; clones made earlier keep the old one.
    engine = std::make_shared<JsonEngine>();
    switch (readJson(text, engine->root, !asLiteral, error)) {
    case ReadResult::Undefined: engine->undefinedRoot = true; return false;
    case ReadResult::Invalid: return false;
    case ReadResult::Value: break;
    }
    return !engine->root.is_null();
}

bool JsonDocument::reset()
{
    if (!engine)
        return false;
    engine->root = Json::object();
    engine->undefinedRoot = false;
    return true;
}

std::string JsonDocument::text() const
{
    if (!engine || engine->undefinedRoot)
        return {};
    return jsonTextOf(engine->root);
}

bool JsonDocument::set(const std::string& path, const std::string& value, bool isJson)
{
    Segments segs;
    if (!engine || !qualify(engine.get(), path, segs))
        return false;
    if (!isJson)
        return assign(*engine, segs, Json(value));
    Json parsed;
    if (readJson(value.empty() ? std::string_view("{}") : std::string_view(value), parsed, true,
                 nullptr) != ReadResult::Value)
        return false;
    Json* target = lookupForWrite(*engine, segs, segs.size());
    if (target && target->is_object()) {
        // Merged on a copy so that a merge that gives up changes nothing.
        Json merged = *target;
        if (!extend(merged, parsed))
            return false;
        *target = std::move(merged);
        return true;
    }
    return assign(*engine, segs, std::move(parsed));
}

bool JsonDocument::setExpression(const std::string& path, const std::string& expression)
{
    Segments segs;
    if (!engine || !qualify(engine.get(), path, segs))
        return false;
    Json parsed;
    if (readJson(expression, parsed, true, nullptr) != ReadResult::Value)
        return false;
    return assign(*engine, segs, std::move(parsed));
}

bool JsonDocument::qualifyPath(std::string& path) const
{
    Segments segs; // refers to path's text: read before path is rewritten
    bool namesRoot = false;
    bool found = false;
    if (qualify(engine.get(), path, segs, &namesRoot) && engine) {
        Json scratch;
        const Json* v = lookup(*engine, segs, scratch);
        found = v && !v->is_null();
    }
    if (!namesRoot) {
        if (path.empty())
            path = rootName;
        else if (path[0] == '[')
            path.insert(0, rootName);
        else
            path.insert(0, std::string(rootName) + ".");
    }
    return found;
}

bool JsonDocument::exists(const std::string& path) const
{
    Segments segs;
    if (!engine || !qualify(engine.get(), path, segs))
        return false;
    Json scratch;
    const Json* v = lookup(*engine, segs, scratch);
    return v && !v->is_null();
}

int JsonDocument::typeOf(const std::string& path) const
{
    Segments segs;
    if (!engine || !qualify(engine.get(), path, segs))
        return 0;
    Json scratch;
    const Json* v = lookup(*engine, segs, scratch);
    if (!v)
        return 0;
    switch (v->type()) {
    case Json::value_t::null: return 0;
    case Json::value_t::string: return 6;
    case Json::value_t::array: return 5;
    case Json::value_t::object: return 4;
    case Json::value_t::number_float:
    case Json::value_t::number_integer:
    case Json::value_t::number_unsigned: return 2;
    case Json::value_t::boolean: return 1;
    default: return 255;
    }
}

std::string JsonDocument::getText(const std::string& path, bool asJson) const
{
    Segments segs;
    if (!engine || !qualify(engine.get(), path, segs))
        return {};
    Json scratch;
    const Json* v = lookup(*engine, segs, scratch);
    if (!v)
        return {};
    return asJson ? jsonTextOf(*v) : scriptText(*v);
}

int JsonDocument::keys(std::vector<std::string>& list, const std::string& path) const
{
    list.clear();
    Segments segs;
    if (!engine || !qualify(engine.get(), path, segs))
        return 0;
    Json scratch;
    const Json* v = lookup(*engine, segs, scratch);
    if (!v || !v->is_object())
        return 0;
    for (const auto& member : v->get_ref<const Json::object_t&>())
        list.push_back(member.first);
    return static_cast<int>(list.size());
}

int JsonDocument::count(const std::string& path) const
{
    Segments segs;
    if (!engine || !qualify(engine.get(), path, segs))
        return 0;
    Json scratch;
    const Json* v = lookup(*engine, segs, scratch);
    return v && v->is_array() ? static_cast<int>(v->size()) : 0;
}

JsonDocument JsonDocument::subDocument(const std::string& path) const
{
    JsonDocument copy;
    copy.parse(jsonText(path));
    return copy;
}

bool JsonDocument::append(const std::string& value, const std::string& path, bool isJson,
                          bool atFront)
{
    Segments segs;
    if (!engine || !qualify(engine.get(), path, segs))
        return false;
    Json item;
    if (!isJson)
        item = value;
    else if (readJson(value, item, false, nullptr) != ReadResult::Value)
        return false;
    Json* target = lookupForWrite(*engine, segs, segs.size());
    if (!target || !target->is_array()) {
        if (!assign(*engine, segs, Json::array()))
            return false;
        target = lookupForWrite(*engine, segs, segs.size());
        if (!target)
            return false;
    }
    auto& a = target->get_ref<Json::array_t&>();
    if (atFront)
        a.insert(a.begin(), std::move(item));
    else
        a.push_back(std::move(item));
    return true;
}

JsonDocument JsonDocument::itemDocument(int index, const std::string& path) const
{
    JsonDocument copy;
    copy.parse(itemText(index, path, true));
    return copy;
}

std::string JsonDocument::itemText(int index, const std::string& path, bool asJson) const
{
    Segments segs;
    if (!engine || !qualify(engine.get(), path, segs))
        return {};
    pushIndex(segs, index);
    Json scratch;
    const Json* v = lookup(*engine, segs, scratch);
    if (!v)
        return {};
    if (asJson)
        return jsonTextOf(*v);
    return v->is_string() ? v->get<std::string>() : std::string();
}

bool JsonDocument::setItem(int index, const std::string& path, const std::string& value,
                           bool isJson)
{
    Segments segs;
    if (!engine || !qualify(engine.get(), path, segs))
        return false;
    pushIndex(segs, index);
    Json item;
    if (!isJson)
        item = value;
    else if (readJson(value, item, false, nullptr) != ReadResult::Value)
        return false;
    return assign(*engine, segs, std::move(item));
}

bool JsonDocument::removeAt(int index, const std::string& path)
{
    Segments segs;
    if (!engine || !qualify(engine.get(), path, segs))
        return false;
    Json* target = lookupForWrite(*engine, segs, segs.size());
    if (!target || !target->is_array())
        return false;
    auto& a = target->get_ref<Json::array_t&>();
    const auto size = static_cast<std::int64_t>(a.size());
    std::int64_t start = index < 0 ? std::max<std::int64_t>(size + index, 0) : index;
    if (start >= size)
        return false;
    a.erase(a.begin() + start);
    return true;
}

bool JsonDocument::remove(const std::string& path)
{
    Segments segs;
    if (!engine || !qualify(engine.get(), path, segs) || segs.empty())
        return false;
    Json* parent = lookupForWrite(*engine, segs, segs.size() - 1);
    if (!parent)
        return false;
    const Segment& last = segs.back();
    if (parent->is_object()) {
        parent->get_ref<Json::object_t&>().erase(last.key);
        return true;
    }
    if (parent->is_array() && last.index >= 0) {
        auto& a = parent->get_ref<Json::array_t&>();
        if (static_cast<std::size_t>(last.index) < a.size())
            a[static_cast<std::size_t>(last.index)] = nullptr;
        return true;
    }
    return false;
}

bool JsonDocument::setNumber(const std::string& path, double number)
{
    Segments segs;
    if (!engine || !qualify(engine.get(), path, segs))
        return false;
    return assign(*engine, segs, Json(number));
}

double JsonDocument::number(const std::string& path) const
{
    Segments segs;
    if (!engine || !qualify(engine.get(), path, segs))
        return 0;
    Json scratch;
    const Json* v = lookup(*engine, segs, scratch);
    if (!v)
        return 0;
    if (v->is_number())
        return v->get<double>();
    if (v->is_boolean())
        return v->get<bool>() ? 1 : 0;
    if (!v->is_string())
        return 0;
    std::string_view s = v->get_ref<const std::string&>();
    while (!s.empty() && (isJsonSpace(s.front()) || s.front() == '\v' || s.front() == '\f'))
        s.remove_prefix(1);
    if (s.empty() || !((s[0] >= '0' && s[0] <= '9') || s[0] == '-' || s[0] == '.'))
        return 0;
    double d = 0;
    auto res = std::from_chars(s.data(), s.data() + s.size(), d);
    return res.ec == std::errc() ? d : 0;
}

std::string JsonDocument::jsonText(const std::string& path) const
{
    return getText(path, true);
}

std::shared_ptr<JsonEngine> JsonDocument::engineRef() const
{
    return engine;
}

int JsonDocument::leafValues(std::vector<std::string>& list, const std::string& path,
                             bool recursive) const
{
    list.clear();
    Segments segs;
    if (!engine || !qualify(engine.get(), path, segs))
        return 0;
    Json scratch;
    const Json* v = lookup(*engine, segs, scratch);
    if (v)
        collectLeaves(*v, recursive, list);
    return static_cast<int>(list.size());
}
