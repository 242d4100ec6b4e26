#include "media.h"

#include <fstream>
#include <sstream>

namespace demo {

namespace {

const CatalogueItem* playableEpisode(const Catalogue& catalogue, int id, int episode)
{
    const CatalogueItem* item = catalogue.find(id);
    if (!item || item->style == PlayStyle::None || episode < 1 || episode > item->episodes)
        return nullptr;
    return item;
}

std::optional<std::string> readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return std::nullopt;
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

// Only plain file names of a clip folder are served: no separators, no "..".
bool safeFileName(const std::string& name)
{
    if (name.empty() || name[0] == '.')
        return false;
    for (char c : name) {
        const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                        (c >= '0' && c <= '9') || c == '_' || c == '-' || c == '.';
        if (!ok)
            return false;
    }
    return true;
}

std::string episodePrefix(int id, int episode)
{
    return "/media/" + std::to_string(id) + "/" + std::to_string(episode) + "/";
}

std::string contentTypeOf(const std::string& file)
{
    auto endsWith = [&](const char* suffix) {
        const std::string s(suffix);
        return file.size() >= s.size() && file.compare(file.size() - s.size(), s.size(), s) == 0;
    };
    if (endsWith(".m3u8"))
        return "application/vnd.apple.mpegurl";
    if (endsWith(".ts"))
        return "video/mp2t";
    return "application/octet-stream";
}

} // namespace

std::string clipFor(const CatalogueItem& item, int episode, const std::string& variant)
{
    if (variant == "lo")
        return item.style == PlayStyle::Variants ? "lo" : "";
    // Every playable episode in 4:3 as well (/media/<id>/<episode>/sd/index.m3u8).
    if (variant == "sd")
        return item.style == PlayStyle::Encrypted ? "" : "sd";
    if (variant != "hls")
        return "";
    if (item.style == PlayStyle::Encrypted)
        return "enc";
    if (item.style == PlayStyle::Variants)
        return "c1";
    static const char* const clips[] = {"c1", "c2", "c3"};
    return clips[(item.id + episode) % 3];
}

std::optional<MediaReply> masterPlaylist(const Catalogue& catalogue, int id, int episode)
{
    const CatalogueItem* item = playableEpisode(catalogue, id, episode);
    if (!item)
        return std::nullopt;
    const std::string prefix = episodePrefix(id, episode);
    std::string m3u8 = "#EXTM3U\n";
    m3u8 += "#EXT-X-STREAM-INF:PROGRAM-ID=1,BANDWIDTH=800000,RESOLUTION=640x360\n";
    m3u8 += prefix + "hls/index.m3u8\n";
    if (item->style == PlayStyle::Variants) {
        m3u8 += "#EXT-X-STREAM-INF:PROGRAM-ID=1,BANDWIDTH=300000,RESOLUTION=320x180\n";
        m3u8 += prefix + "lo/index.m3u8\n";
    }
    return MediaReply{m3u8, "application/vnd.apple.mpegurl"};
}

std::optional<MediaReply> variantFile(const Catalogue& catalogue, const std::string& clipsDir,
                                      int id, int episode, const std::string& variant,
                                      const std::string& file)
{
    const CatalogueItem* item = playableEpisode(catalogue, id, episode);
    if (!item || !safeFileName(file))
        return std::nullopt;
    const std::string clip = clipFor(*item, episode, variant);
    if (clip.empty())
        return std::nullopt;
    auto body = readFile(clipsDir + "/" + clip + "/" + file);
    if (!body)
        return std::nullopt;
    if (file != "index.m3u8")
        return MediaReply{std::move(*body), contentTypeOf(file)};

    // The clip's own playlist names its segments relatively; the episode's playlist names them by
    // absolute path under the episode's own address, so every episode has distinct segment URLs.
    // Tag lines (key URIs included) are kept as they are.
    const std::string prefix = episodePrefix(id, episode) + variant + "/";
    std::istringstream in(*body);
    std::string line, out;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (!line.empty() && line[0] != '#')
            line = prefix + line;
        out += line + "\n";
    }
    return MediaReply{out, "application/vnd.apple.mpegurl"};
}

} // namespace demo
