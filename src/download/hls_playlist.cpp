#include "download/hls_playlist.h"

#include <curl/curl.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdint>
#include <memory>
#include <utility>

namespace {

std::string_view trimmed(std::string_view s)
{
    while (!s.empty() &&
           (s.front() == ' ' || s.front() == '\t' || s.front() == '\r' || s.front() == '\n'))
        s.remove_prefix(1);
    while (!s.empty() &&
           (s.back() == ' ' || s.back() == '\t' || s.back() == '\r' || s.back() == '\n'))
        s.remove_suffix(1);
    return s;
}

struct UrlHandle {
    CURLU* h = curl_url();
    ~UrlHandle() { curl_url_cleanup(h); }
};

int64_t toInt(std::string_view s)
{
    int64_t v = 0;
    s = trimmed(s);
    auto r = std::from_chars(s.data(), s.data() + s.size(), v);
    return r.ec == std::errc() ? v : 0;
}

double toDouble(std::string_view s)
{
    s = trimmed(s);
    try {
        return std::stod(std::string(s));
    } catch (...) {
        return 0;
    }
}

// "n[@o]" of EXT-X-BYTERANGE and of the BYTERANGE attribute of EXT-X-MAP.
ByteRange parseRange(std::string_view s, int64_t continueFrom, bool& hadOffset)
{
    ByteRange r;
    s = trimmed(s);
    auto at = s.find('@');
    r.length = toInt(s.substr(0, at));
    hadOffset = at != std::string_view::npos;
    r.offset = hadOffset ? toInt(s.substr(at + 1)) : continueFrom;
    return r;
}

// A range can be asked for only when it is not negative and its last byte, offset + length - 1
// (a length of 0 still names one byte in the request), is a representable offset.
bool rangeFits(const ByteRange& r)
{
    return r.length >= 0 && r.offset >= 0 && r.offset <= INT64_MAX - std::max<int64_t>(r.length, 1);
}

std::array<uint8_t, 16> sequenceIv(int64_t sequence)
{
    std::array<uint8_t, 16> iv{};
    auto v = static_cast<uint64_t>(sequence);
    for (int i = 15; i >= 8; --i) {
        iv[i] = static_cast<uint8_t>(v & 0xff);
        v >>= 8;
    }
    return iv;
}

} // namespace

std::string resolveUrl(std::string_view base, std::string_view reference)
{
    UrlHandle u;
    if (u.h == nullptr)
        return {};
    std::string b(trimmed(base)), r(trimmed(reference));
    if (curl_url_set(u.h, CURLUPART_URL, b.c_str(), CURLU_URLENCODE) != CURLUE_OK)
        return {};
    if (curl_url_set(u.h, CURLUPART_URL, r.c_str(), CURLU_URLENCODE) != CURLUE_OK)
        return {};
    char* out = nullptr;
    if (curl_url_get(u.h, CURLUPART_URL, &out, 0) != CURLUE_OK)
        return {};
    std::string result(out);
    curl_free(out);
    return result;
}

std::vector<std::pair<std::string, std::string>> parseAttributeList(std::string_view text)
{
    std::vector<std::pair<std::string, std::string>> out;
    size_t i = 0;
    while (i < text.size()) {
        while (i < text.size() && (text[i] == ' ' || text[i] == ','))
            ++i;
        size_t eq = text.find('=', i);
        if (eq == std::string_view::npos)
            break;
        std::string name(trimmed(text.substr(i, eq - i)));
        i = eq + 1;
        std::string value;
        if (i < text.size() && text[i] == '"') {
            size_t close = text.find('"', i + 1);
            if (close == std::string_view::npos)
                close = text.size();
            value = std::string(text.substr(i + 1, close - i - 1));
            i = close + 1;
            size_t comma = text.find(',', i);
            i = comma == std::string_view::npos ? text.size() : comma + 1;
        } else {
            size_t comma = text.find(',', i);
            size_t end = comma == std::string_view::npos ? text.size() : comma;
            value = std::string(trimmed(text.substr(i, end - i)));
            i = end == text.size() ? end : end + 1;
        }
        for (auto& c : name)
            c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        out.emplace_back(std::move(name), std::move(value));
    }
    return out;
}

bool parseIv(std::string_view text, std::array<uint8_t, 16>& iv)
{
    text = trimmed(text);
    if (text.size() < 3 || text[0] != '0' || (text[1] != 'x' && text[1] != 'X'))
        return false;
    std::string hex(text.substr(2));
    if (hex.size() > 32)
        return false;
    hex.insert(0, 32 - hex.size(), '0');
    for (size_t i = 0; i < 16; ++i) {
        unsigned v = 0;
        auto r = std::from_chars(hex.data() + 2 * i, hex.data() + 2 * i + 2, v, 16);
        if (r.ec != std::errc() || r.ptr != hex.data() + 2 * i + 2)
            return false;
        iv[i] = static_cast<uint8_t>(v);
    }
    return true;
}

HlsPlaylist parseHlsPlaylist(std::string_view text, std::string_view baseUrl, size_t maxEntries)
{
    HlsPlaylist pl;
    std::string_view line;
    auto stop = [&](HlsError error) {
        pl.error = error;
        pl.errorDetail = std::string(line.substr(0, 200));
        return pl;
    };
    // Without a base (a playlist kept beside its files) URIs stay as written.
    auto resolve = [baseUrl](std::string_view ref) {
        return baseUrl.empty() ? std::string(trimmed(ref)) : resolveUrl(baseUrl, ref);
    };
    // A byte-order mark before #EXTM3U is tolerated.
    if (text.substr(0, 3) == "\xEF\xBB\xBF")
        text.remove_prefix(3);

    bool first = true;
    double pendingDuration = 0;
    bool pendingRange = false;
    ByteRange range;
    bool pendingDiscontinuity = false;
    int currentKey = -1;
    int currentMap = -1;
    bool pendingVariant = false;
    HlsVariant variant;
    int64_t sequence = 0;
    std::string lastRangeUri;
    int64_t lastRangeEnd = 0;

    size_t pos = 0;
    while (pos < text.size()) {
        size_t lf = text.find('\n', pos);
        line = text.substr(pos, lf == std::string_view::npos ? std::string_view::npos : lf - pos);
        pos = lf == std::string_view::npos ? text.size() : lf + 1;
        line = trimmed(line);
        if (line.empty())
            continue;
        if (first) {
            first = false;
            if (line.substr(0, 7) != "#EXTM3U")
                return pl;
            pl.valid = true;
            continue;
        }
        if (line[0] == '#') {
            if (line.substr(0, 4) != "#EXT")
                continue; // comment
            size_t colon = line.find(':');
            std::string_view tag = line.substr(0, colon);
            std::string_view value =
                colon == std::string_view::npos ? std::string_view() : line.substr(colon + 1);
            if (tag == "#EXTINF") {
                pendingDuration = toDouble(value.substr(0, value.find(',')));
            } else if (tag == "#EXT-X-BYTERANGE") {
                bool hadOffset = false;
                range = parseRange(value, 0, hadOffset);
                if (!rangeFits(range))
                    return stop(HlsError::BadByteRange);
                if (!hadOffset)
                    range.offset = -1; // continues the previous range of the same resource
                pendingRange = true;
            } else if (tag == "#EXT-X-MEDIA-SEQUENCE") {
                pl.mediaSequence = toInt(value);
                sequence = pl.mediaSequence;
            } else if (tag == "#EXT-X-DISCONTINUITY") {
                pendingDiscontinuity = true;
            } else if (tag == "#EXT-X-ENDLIST") {
                pl.endList = true;
            } else if (tag == "#EXT-X-KEY") {
                HlsKey key;
                bool badIv = false;
                for (auto& [name, v] : parseAttributeList(value)) {
                    if (name == "METHOD")
                        key.method = v;
                    else if (name == "URI")
                        key.uri = resolve(v);
                    else if (name == "IV")
                        badIv = !(key.hasIv = parseIv(v, key.iv));
                }
                if (key.method.empty() || key.method == "NONE") {
                    currentKey = -1;
                } else if (pl.keys.size() >= maxEntries) {
                    return stop(HlsError::TooManyEntries);
                } else {
                    if (badIv)
                        key.method += " (IV 无效)"; // an unreadable IV cannot decrypt anything
                    pl.keys.push_back(std::move(key));
                    currentKey = static_cast<int>(pl.keys.size()) - 1;
                }
            } else if (tag == "#EXT-X-MAP") {
                HlsMap map;
                for (auto& [name, v] : parseAttributeList(value)) {
                    if (name == "URI") {
                        map.uri = resolve(v);
                    } else if (name == "BYTERANGE") {
                        bool hadOffset = false;
                        map.range = parseRange(v, 0, hadOffset);
                        if (!rangeFits(map.range))
                            return stop(HlsError::BadByteRange);
                    }
                }
                if (pl.maps.size() >= maxEntries)
                    return stop(HlsError::TooManyEntries);
                pl.maps.push_back(std::move(map));
                currentMap = static_cast<int>(pl.maps.size()) - 1;
            } else if (tag == "#EXT-X-STREAM-INF") {
                pl.master = true;
                variant = HlsVariant{};
                for (auto& [name, v] : parseAttributeList(value)) {
                    if (name == "BANDWIDTH")
                        variant.bandwidth = toInt(v);
                    else if (name == "AVERAGE-BANDWIDTH")
                        variant.averageBandwidth = toInt(v);
                    else if (name == "AUDIO")
                        variant.audioGroup = v;
                }
                pendingVariant = true;
            } else if (tag == "#EXT-X-MEDIA") {
                HlsRendition r;
                for (auto& [name, v] : parseAttributeList(value)) {
                    if (name == "TYPE")
                        r.type = v;
                    else if (name == "GROUP-ID")
                        r.groupId = v;
                    else if (name == "NAME")
                        r.name = v;
                    else if (name == "LANGUAGE")
                        r.language = v;
                    else if (name == "URI")
                        r.uri = resolve(v);
                    else if (name == "DEFAULT")
                        r.isDefault = v == "YES";
                }
                if (pl.renditions.size() >= maxEntries)
                    return stop(HlsError::TooManyEntries);
                pl.renditions.push_back(std::move(r));
            }
            continue;
        }
        // A URI line.
        if (pendingVariant && pl.variants.size() >= maxEntries)
            return stop(HlsError::TooManyEntries);
        if (!pendingVariant && !pl.master && pl.segments.size() >= maxEntries)
            return stop(HlsError::TooManySegments);
        std::string uri = resolve(line);
        if (pendingVariant) {
            variant.uri = uri;
            pl.variants.push_back(variant);
            pendingVariant = false;
            continue;
        }
        if (pl.master)
            continue; // a stray URI in a master playlist names no segment
        HlsSegment seg;
        seg.uri = uri;
        seg.duration = pendingDuration;
        seg.sequence = sequence;
        // A media sequence near the largest number goes on modulo 2^64, as its IV does.
        sequence = static_cast<int64_t>(static_cast<uint64_t>(sequence) + 1);
        seg.discontinuity = pendingDiscontinuity;
        seg.mapIndex = currentMap;
        seg.keyIndex = currentKey;
        if (pendingRange) {
            seg.range = range;
            if (seg.range.offset < 0)
                seg.range.offset = uri == lastRangeUri ? lastRangeEnd : 0;
            // A range that continues the one before can carry its end past the largest offset.
            if (!rangeFits(seg.range))
                return stop(HlsError::BadByteRange);
            lastRangeUri = uri;
            lastRangeEnd = seg.range.offset + seg.range.length;
        }
        if (currentKey >= 0) {
            const HlsKey& key = pl.keys[currentKey];
            seg.iv = key.hasIv ? key.iv : sequenceIv(seg.sequence);
            if (key.method != "AES-128" && pl.unsupportedMethod.empty())
                pl.unsupportedMethod = key.method;
        }
        pl.segments.push_back(std::move(seg));
        pendingDuration = 0;
        pendingRange = false;
        pendingDiscontinuity = false;
    }
    return pl;
}

int bestVariant(const HlsPlaylist& master)
{
    auto rank = [](const HlsVariant& v) {
        return std::make_pair(v.averageBandwidth > 0 ? v.averageBandwidth : v.bandwidth,
                              v.bandwidth);
    };
    int best = -1;
    for (size_t i = 0; i < master.variants.size(); ++i) {
        if (best < 0 || rank(master.variants[i]) > rank(master.variants[best]))
            best = static_cast<int>(i);
    }
    return best;
}

int audioRendition(const HlsPlaylist& master, const HlsVariant& variant)
{
    if (variant.audioGroup.empty())
        return -1;
    int first = -1;
    for (size_t i = 0; i < master.renditions.size(); ++i) {
        const HlsRendition& r = master.renditions[i];
        if (r.type != "AUDIO" || r.groupId != variant.audioGroup)
            continue;
        if (r.isDefault)
            return static_cast<int>(i);
        if (first < 0)
            first = static_cast<int>(i);
    }
    return first;
}
