#include "playback/play_sources.h"

#include "util/marker_text.h"

#include <cstddef>
#include <iterator>
#include <list>
#include <unordered_map>

namespace {

bool isSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// text without leading and trailing ASCII white space and ideographic spaces (U+3000).
std::string trimmed(std::string text)
{
    static const std::string ideographicSpace = "\xE3\x80\x80";
    for (;;) {
        if (!text.empty() && isSpace(text.back()))
            text.pop_back();
        else if (text.size() >= 3 && text.compare(text.size() - 3, 3, ideographicSpace) == 0)
            text.resize(text.size() - 3);
        else
            break;
    }
    std::size_t start = 0;
    for (;;) {
        if (start < text.size() && isSpace(text[start]))
            ++start;
        else if (text.compare(start, 3, ideographicSpace) == 0)
            start += 3;
        else
            break;
    }
    return text.substr(start);
}

std::string asciiLower(std::string text)
{
    for (char& c : text)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return text;
}

struct SourceEntry {
    std::string label;
    std::string address;
};

// The episodes of one play source: "label$address" pieces separated by "#", empty ones dropped.
std::vector<SourceEntry> sourceEntries(const std::string& source)
{
    std::vector<SourceEntry> entries;
    for (const std::string& piece : splitText(source, "#")) {
        if (piece.empty())
            continue;
        SourceEntry entry;
        const std::size_t dollar = piece.find('$');
        if (dollar == std::string::npos) {
            entry.label = std::to_string(entries.size() + 1);
            entry.address = piece;
        } else {
            entry.label = piece.substr(0, dollar);
            entry.address = piece.substr(dollar + 1);
            replaceAll(entry.label, "第", "");
            replaceAll(entry.label, "集", "");
        }
        entries.push_back(std::move(entry));
    }
    return entries;
}

bool isHlsSource(const std::string& name, const std::vector<SourceEntry>& entries)
{
    const std::string lowered = asciiLower(trimmed(name));
    if (lowered.size() >= 4 && lowered.compare(lowered.size() - 4, 4, "m3u8") == 0)
        return true;
    bool any = false;
    for (const SourceEntry& entry : entries) {
        if (entry.address.empty())
            continue;
        if (!isHlsAddress(entry.address))
            return false;
        any = true;
    }
    return any;
}

// What makes two labels the same episode: spaces around and ASCII letter case do not count, nor
// leading zeros of a number ("01" and "1"); the n-th label of a kind in a source is told from
// the others by n.
std::vector<std::string> pairingKeys(const std::vector<SourceEntry>& entries)
{
    std::vector<std::string> keys;
    keys.reserve(entries.size());
    std::unordered_map<std::string, int> seen;
    for (const SourceEntry& entry : entries) {
        std::string key = asciiLower(trimmed(entry.label));
        bool digits = !key.empty();
        for (char c : key)
            digits = digits && c >= '0' && c <= '9';
        if (digits) {
            const std::size_t nonZero = key.find_first_not_of('0');
            key = nonZero == std::string::npos ? "0" : key.substr(nonZero);
        }
        const int occurrence = seen[key]++;
        keys.push_back(key + '\x1f' + std::to_string(occurrence));
    }
    return keys;
}

std::vector<Episode> positionalEpisodes(const std::string& playText)
{
    std::vector<Episode> episodes = pairEpisodes(playText);
    for (Episode& episode : episodes)
        episode.download = isHlsAddress(episode.m3u8)  ? episode.m3u8
                           : isHlsAddress(episode.url) ? episode.url
                                                       : std::string();
    return episodes;
}

} // namespace

bool isHlsAddress(const std::string& address)
{
    const std::string path = trimmed(address.substr(0, address.find('?')));
    static const std::string suffix = ".m3u8";
    return path.size() > suffix.size() &&
           path.compare(path.size() - suffix.size(), suffix.size(), suffix) == 0;
}

std::vector<Episode> selectEpisodes(const std::string& playFrom, const std::string& playText)
{
    if (trimmed(playFrom).empty())
        return positionalEpisodes(playText);

    std::string text = playText;
    replaceAll(text, "\\/", "/");
    const std::vector<std::string> names = splitText(playFrom, "$$$");
    const std::vector<std::string> groups = splitText(text, "$$$");
    std::vector<std::vector<SourceEntry>> sources;
    sources.reserve(groups.size());
    int first = -1;
    int hls = -1;
    for (std::size_t i = 0; i < groups.size(); ++i) {
        sources.push_back(sourceEntries(groups[i]));
        if (sources[i].empty())
            continue;
        const int index = static_cast<int>(i);
        if (first < 0)
            first = index;
        if (hls < 0 && isHlsSource(i < names.size() ? names[i] : std::string(), sources[i]))
            hls = index;
    }

    std::vector<Episode> episodes;
    if (first < 0)
        return episodes;
    if (hls < 0) {
        // Nothing to download; the first source is played as it is.
        for (const SourceEntry& entry : sources[static_cast<std::size_t>(first)])
            episodes.push_back({entry.label, entry.address, {}, {}});
        return episodes;
    }

    const std::vector<SourceEntry>& play = sources[static_cast<std::size_t>(hls)];
    std::list<Episode> order;
    std::unordered_map<std::string, std::list<Episode>::iterator> placed;
    const std::vector<std::string> playKeys = pairingKeys(play);
    for (std::size_t k = 0; k < play.size(); ++k) {
        const std::string& address = play[k].address;
        placed.emplace(playKeys[k],
                       order.insert(order.end(), {play[k].label, address, address, address}));
    }
    if (first != hls) {
        const std::vector<SourceEntry>& listed = sources[static_cast<std::size_t>(first)];
        const std::vector<std::string> listedKeys = pairingKeys(listed);
        bool shared = false;
        for (const std::string& key : listedKeys)
            shared = shared || placed.count(key) > 0;
        if (shared) {
            // Each episode the play source lacks goes after the one the first source lists before
            // it (to the front when there is none).
            auto insertAt = order.begin();
            for (std::size_t k = 0; k < listed.size(); ++k) {
                const auto found = placed.find(listedKeys[k]);
                if (found != placed.end()) {
                    insertAt = std::next(found->second);
                    continue;
                }
                const auto added = order.insert(insertAt, {listed[k].label, {}, {}, {}});
                placed.emplace(listedKeys[k], added);
                insertAt = std::next(added);
            }
        }
    }
    episodes.assign(std::make_move_iterator(order.begin()), std::make_move_iterator(order.end()));
    return episodes;
}

std::vector<std::string> downloadAddresses(const std::vector<Episode>& episodes)
{
    std::vector<std::string> addresses;
    addresses.reserve(episodes.size());
    for (const Episode& episode : episodes)
        addresses.push_back(episode.download);
    return addresses;
}

std::vector<Episode> pairEpisodes(const std::string& playText)
{
    std::string text = playText;
    replaceAll(text, "\\/", "/");
    std::vector<std::vector<SourceEntry>> sources;
    for (const std::string& source : splitText(text, "$$$")) {
        std::vector<SourceEntry> entries = sourceEntries(source);
        if (!entries.empty())
            sources.push_back(std::move(entries));
    }
    std::vector<Episode> episodes;
    if (sources.empty())
        return episodes;
    const std::vector<SourceEntry>& firstSource = sources[0];
    const std::vector<SourceEntry>* second = sources.size() > 1 ? &sources[1] : nullptr;
    episodes.reserve(firstSource.size());
    for (std::size_t k = 0; k < firstSource.size(); ++k) {
        Episode episode;
        episode.label = firstSource[k].label;
        episode.url = firstSource[k].address;
        episode.m3u8 = second != nullptr && k < second->size() ? (*second)[k].address : episode.url;
        episodes.push_back(std::move(episode));
    }
    return episodes;
}
