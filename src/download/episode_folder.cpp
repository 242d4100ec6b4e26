#include "download/episode_folder.h"

#include "app/paths.h"
#include "util/text_number.h"
#include "util/utf8_path.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;

namespace {

bool writeFileAtomically(const std::string& path, const std::string& text)
{
    std::string temp = path + ".part";
    {
        std::ofstream out(utf8Path(temp), std::ios::binary | std::ios::trunc);
        out << text;
        if (!out.flush())
            return false;
    }
    std::error_code ec;
    fs::rename(utf8Path(temp), utf8Path(path), ec);
    return !ec;
}

} // namespace

std::string trimLineEnd(std::string s)
{
    while (!s.empty() && (s.back() == '\r' || s.back() == '\n' || s.back() == ' '))
        s.pop_back();
    return s;
}

bool isSegmentName(const std::string& name, int& number)
{
    if (name.size() < 4 || name.compare(name.size() - 3, 3, ".ts") != 0)
        return false;
    std::string digits = name.substr(0, name.size() - 3);
    if (digits.empty() || digits.size() > 9 || digits[0] == '0')
        return false;
    for (char c : digits)
        if (c < '0' || c > '9')
            return false;
    number = std::stoi(digits);
    return true;
}

std::string segmentSource(const HlsSegment& seg, const HlsPlaylist& playlist)
{
    std::string source = trimLineEnd(seg.uri);
    if (!seg.range.whole())
        source +=
            " range=" + std::to_string(seg.range.offset) + "@" + std::to_string(seg.range.length);
    if (seg.keyIndex >= 0) {
        static const char* hex = "0123456789abcdef";
        std::string iv;
        for (uint8_t b : seg.iv) {
            iv += hex[b >> 4];
            iv += hex[b & 15];
        }
        source += " key=" + trimLineEnd(playlist.keys[seg.keyIndex].uri) + " iv=" + iv;
    }
    return source;
}

std::map<int, std::string> readSegmentSources(const std::string& folder)
{
    std::map<int, std::string> sources;
    std::ifstream in(utf8Path(folder + pathSeparator() + kSegmentSourcesName), std::ios::binary);
    std::string line;
    while (std::getline(in, line)) {
        const size_t tab = line.find('\t');
        if (tab == std::string::npos || tab == 0)
            continue;
        const std::string number = line.substr(0, tab);
        if (!std::all_of(number.begin(), number.end(), [](char c) { return c >= '0' && c <= '9'; }))
            continue;
        sources[textToInt(number)] = line.substr(tab + 1);
    }
    return sources;
}

int keepOnlyMatchingSegments(const std::string& folder, const std::string& playlistUrl,
                             const std::vector<std::string>& sources)
{
    const std::map<int, std::string> before = readSegmentSources(folder);
    std::map<int, std::string> kept;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(utf8Path(folder), ec)) {
        const std::u8string file = entry.path().filename().u8string();
        const std::string name(file.begin(), file.end());
        if (name.size() > 5 && name.compare(name.size() - 5, 5, ".part") == 0) {
            fs::remove(entry.path(), ec);
            continue;
        }
        if (name.size() < 4 || name.compare(name.size() - 3, 3, ".ts") != 0)
            continue;
        const std::string number = name.substr(0, name.size() - 3);
        if (!std::all_of(number.begin(), number.end(), [](char c) { return c >= '0' && c <= '9'; }))
            continue;
        const int index = textToInt(number);
        auto was = before.find(index);
        if (index >= 1 && index <= static_cast<int>(sources.size()) && was != before.end() &&
            was->second == sources[index - 1] && std::to_string(index) == number) {
            kept[index] = was->second;
        } else {
            fs::remove(entry.path(), ec);
        }
    }
    std::ostringstream record;
    record << "playlist\t" << trimLineEnd(playlistUrl) << '\n';
    for (const auto& [index, source] : kept)
        record << index << '\t' << source << '\n';
    const std::string path = folder + pathSeparator() + kSegmentSourcesName;
    {
        std::ofstream out(utf8Path(path + ".new"), std::ios::binary | std::ios::trunc);
        out << record.str();
    }
    fs::rename(utf8Path(path + ".new"), utf8Path(path), ec);
    return static_cast<int>(kept.size());
}

void recordSegmentSource(const std::string& folder, int number, const std::string& source)
{
    std::ofstream out(utf8Path(folder + pathSeparator() + kSegmentSourcesName),
                      std::ios::binary | std::ios::app);
    out << number << '\t' << source << '\n';
}

bool writeSegmentList(const std::string& episodeFolder,
                      const std::vector<SegmentListEntry>& entries)
{
    std::ostringstream out;
    out << "#EXTM3U\n#EXT-X-VERSION:7\n#EXT-X-PLAYLIST-TYPE:VOD\n";
    std::string map;
    for (const auto& e : entries) {
        if (e.discontinuity)
            out << "#EXT-X-DISCONTINUITY\n";
        if (e.mapFile != map) {
            map = e.mapFile;
            if (!map.empty())
                out << "#EXT-X-MAP:URI=\"" << map << "\"\n";
        }
        out << "#EXTINF:" << e.duration << ",\n" << e.index << ".ts\n";
    }
    out << "#EXT-X-ENDLIST\n";
    return writeFileAtomically(episodeFolder + pathSeparator() + kSegmentListName, out.str());
}

std::vector<SegmentListEntry> readSegmentList(const std::string& episodeFolder)
{
    std::vector<SegmentListEntry> entries;
    std::ifstream in(utf8Path(episodeFolder + pathSeparator() + kSegmentListName),
                     std::ios::binary);
    if (in) {
        std::stringstream text;
        text << in.rdbuf();
        HlsPlaylist list = parseHlsPlaylist(text.str(), "");
        for (const auto& seg : list.segments) {
            SegmentListEntry e;
            if (!isSegmentName(seg.uri, e.index))
                continue;
            e.duration = seg.duration;
            e.discontinuity = seg.discontinuity;
            if (seg.mapIndex >= 0)
                e.mapFile = list.maps[seg.mapIndex].uri;
            entries.push_back(e);
        }
        if (!entries.empty())
            return entries;
    }
    // No list (a folder from elsewhere): every number up to the highest segment file.
    int highest = 0;
    std::error_code ec;
    for (const auto& item : fs::directory_iterator(utf8Path(episodeFolder), ec)) {
        int n = 0;
        auto name = item.path().filename().u8string();
        if (item.is_regular_file() && isSegmentName(std::string(name.begin(), name.end()), n))
            highest = std::max(highest, n);
    }
    for (int i = 1; i <= highest; ++i)
        entries.push_back(SegmentListEntry{i, 0, {}, false});
    return entries;
}

bool holdsSegmentFiles(const std::string& episodeFolder)
{
    std::error_code ec;
    for (const auto& item : fs::directory_iterator(utf8Path(episodeFolder), ec)) {
        int n = 0;
        auto name = item.path().filename().u8string();
        if (item.is_regular_file() && isSegmentName(std::string(name.begin(), name.end()), n))
            return true;
    }
    return false;
}
