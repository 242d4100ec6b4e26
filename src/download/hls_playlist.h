#pragma once
// HLS playlists (master and media) read tag by tag, with every URI resolved against the address
// of the playlist that names it.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// A byte range of a resource: length bytes from offset. length < 0 means the whole resource.
struct ByteRange {
    int64_t length = -1;
    int64_t offset = 0;
    bool whole() const { return length < 0; }
};

// One EXT-X-KEY in force for a run of segments.
struct HlsKey {
    std::string method; // "AES-128", "SAMPLE-AES", ...; never "NONE"
    std::string uri;    // resolved
    bool hasIv = false;
    std::array<uint8_t, 16> iv{};
};

// One EXT-X-MAP (media initialisation section).
struct HlsMap {
    std::string uri; // resolved
    ByteRange range;
};

struct HlsSegment {
    std::string uri; // resolved
    double duration = 0;
    ByteRange range;
    int64_t sequence = 0;         // media sequence number
    int keyIndex = -1;            // into HlsPlaylist::keys, -1 when clear
    std::array<uint8_t, 16> iv{}; // the key's IV, or the sequence number big-endian
    int mapIndex = -1;            // into HlsPlaylist::maps
    bool discontinuity = false;
};

struct HlsVariant {
    std::string uri; // resolved
    int64_t bandwidth = 0;
    int64_t averageBandwidth = 0; // 0 when not given
    std::string audioGroup;       // GROUP-ID of the EXT-X-MEDIA audio renditions it plays with
};

// One EXT-X-MEDIA rendition of a master playlist.
struct HlsRendition {
    std::string type; // "AUDIO", "SUBTITLES", ...
    std::string groupId;
    std::string name;
    std::string language;
    std::string uri; // resolved; empty when the rendition is carried in the variant's own stream
    bool isDefault = false;
};

// The most entries of each kind (segments, variants, renditions, keys, maps) one playlist may
// hold; a longer playlist is refused, and its parse stops at the entry past the limit.
inline constexpr size_t kMaxPlaylistEntries = 100000;

// Why a playlist that began with #EXTM3U cannot be used.
enum class HlsError {
    None,
    TooManySegments, // more segments than the limit
    TooManyEntries,  // more variants, renditions, keys or initialisation sections than the limit
    BadByteRange,    // a byte range that is negative or whose end lies past the largest offset
};

struct HlsPlaylist {
    bool valid = false; // the text began with #EXTM3U
    // The parse stopped here (the lists hold what came before); errorDetail names the line.
    HlsError error = HlsError::None;
    std::string errorDetail;
    bool master = false; // holds EXT-X-STREAM-INF variants
    std::vector<HlsVariant> variants;
    std::vector<HlsRendition> renditions;
    std::vector<HlsSegment> segments;
    std::vector<HlsKey> keys;
    std::vector<HlsMap> maps;
    int64_t mediaSequence = 0;
    bool endList = false;
    // The first key method in force over a segment that this build cannot decrypt (empty if none).
    std::string unsupportedMethod;
};

// Resolves reference against base (RFC 3986). Trailing CR/LF and surrounding blanks of both are
// ignored. Returns an empty text when either cannot be parsed.
std::string resolveUrl(std::string_view base, std::string_view reference);

// Splits an attribute list (KEY=VALUE,KEY="quoted, value",...) into pairs; quotes are removed.
std::vector<std::pair<std::string, std::string>> parseAttributeList(std::string_view text);

// Reads an IV attribute ("0x" + up to 32 hex digits, left-padded). False when malformed.
bool parseIv(std::string_view text, std::array<uint8_t, 16>& iv);

// Parses text (LF or CR LF lines, the last line may lack its line feed) fetched from baseUrl;
// with an empty baseUrl the URIs are kept as written. More than maxEntries entries of one kind, or
// a byte range that cannot be, stop the parse with the error set.
HlsPlaylist parseHlsPlaylist(std::string_view text, std::string_view baseUrl,
                             size_t maxEntries = kMaxPlaylistEntries);

// The variant of highest AVERAGE-BANDWIDTH (BANDWIDTH for one that gives no average), then of
// highest BANDWIDTH, the first on a tie; -1 when there is none.
int bestVariant(const HlsPlaylist& master);

// The audio rendition a variant plays with: of its audio group, the DEFAULT=YES one, else the
// first; -1 when the variant names no group or the group has no rendition.
int audioRendition(const HlsPlaylist& master, const HlsVariant& variant);
