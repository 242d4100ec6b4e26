#include "catalogue.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>

namespace demo {

namespace {

struct CategoryInfo {
    int id;
    const char* name;
    int parent; // 0 for a top category
};

// The category ids of the main window's category list; 电影, 连续剧, 综艺 and 动漫 are top
// categories whose listings include their sub-categories.
constexpr CategoryInfo kCategories[] = {
    {1, "电影", 0},       {2, "纪录片", 0},     {3, "连续剧", 0},     {24, "动漫", 0},
    {25, "综艺", 0},      {37, "电影解说", 0},  {42, "体育赛事", 0},  {6, "动作片", 1},
    {8, "科幻片", 1},     {9, "恐怖片", 1},     {10, "剧情片", 1},    {11, "战争片", 1},
    {20, "喜剧片", 1},    {21, "犯罪片", 1},    {38, "奇幻片", 1},    {39, "灾难片", 1},
    {40, "悬疑片", 1},    {41, "其他片", 1},    {22, "国产剧", 3},    {5, "香港剧", 3},
    {30, "台湾剧", 3},    {4, "欧美剧", 3},     {23, "韩国剧", 3},    {35, "泰国剧", 3},
    {36, "日本剧", 3},    {26, "大陆综艺", 25}, {27, "港台综艺", 25}, {28, "日韩综艺", 25},
    {29, "欧美综艺", 25}, {31, "国产动漫", 24}, {32, "日本动漫", 24}, {33, "欧美动漫", 24},
    {34, "海外动漫", 24},
};

const CategoryInfo* category(int id)
{
    for (const auto& c : kCategories)
        if (c.id == id)
            return &c;
    return nullptr;
}

std::optional<PlayStyle> parseStyle(const std::string& s)
{
    static const std::map<std::string, PlayStyle> styles = {
        {"two", PlayStyle::TwoSources}, {"one", PlayStyle::OneSource},
        {"none", PlayStyle::None},      {"removed", PlayStyle::Removed},
        {"enc", PlayStyle::Encrypted},  {"variants", PlayStyle::Variants},
    };
    auto it = styles.find(s);
    if (it == styles.end())
        return std::nullopt;
    return it->second;
}

std::vector<std::string> splitTabs(const std::string& line)
{
    std::vector<std::string> fields;
    size_t start = 0;
    for (;;) {
        size_t tab = line.find('\t', start);
        fields.push_back(
            line.substr(start, tab == std::string::npos ? std::string::npos : tab - start));
        if (tab == std::string::npos)
            break;
        start = tab + 1;
    }
    return fields;
}

bool parseInt(const std::string& s, int& out)
{
    if (s.empty() || s.size() > 9)
        return false;
    for (char c : s)
        if (c < '0' || c > '9')
            return false;
    out = std::stoi(s);
    return true;
}

bool isFilm(int typeId)
{
    const CategoryInfo* c = category(typeId);
    return c && (c->id == 1 || c->parent == 1);
}

bool isShow(int typeId)
{
    const CategoryInfo* c = category(typeId);
    return c && (c->id == 25 || c->parent == 25 || c->id == 37);
}

std::string twoDigits(int n)
{
    char buf[16];
    std::snprintf(buf, sizeof buf, "%02d", n);
    return buf;
}

// PHP's json_encode writes "/" as "\/"; the catalogue clients are used to it. A "/" only ever
// occurs inside strings in JSON text, so a plain replacement is exact.
std::string escapeSlashes(const std::string& json)
{
    std::string out;
    out.reserve(json.size() + json.size() / 8);
    for (char c : json) {
        if (c == '/')
            out += '\\';
        out += c;
    }
    return out;
}

} // namespace

const CatalogueItem* Catalogue::find(int id) const
{
    for (const auto& item : items)
        if (item.id == id)
            return &item;
    return nullptr;
}

std::optional<Catalogue> loadCatalogue(const std::string& path, std::string& error)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = "cannot open " + path;
        return std::nullopt;
    }
    Catalogue cat;
    std::string line;
    int lineNo = 0;
    while (std::getline(in, line)) {
        ++lineNo;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.empty() || line[0] == '#')
            continue;
        auto f = splitTabs(line);
        CatalogueItem item;
        std::optional<PlayStyle> style;
        if (f.size() != 7 || !parseInt(f[0], item.id) || !parseInt(f[1], item.typeId) ||
            !parseInt(f[4], item.episodes) || !(style = parseStyle(f[5])) || f[2].empty() ||
            !category(item.typeId) || item.episodes < 1 || cat.find(item.id)) {
            error = path + ":" + std::to_string(lineNo) + ": malformed catalogue line";
            return std::nullopt;
        }
        item.name = f[2];
        item.remarks = f[3];
        item.style = *style;
        item.blurb = f[6];
        cat.items.push_back(std::move(item));
    }
    std::sort(cat.items.begin(), cat.items.end(),
              [](const CatalogueItem& a, const CatalogueItem& b) { return a.id > b.id; });
    return cat;
}

std::string categoryName(int typeId)
{
    const CategoryInfo* c = category(typeId);
    return c ? c->name : "";
}

bool listedUnder(int typeId, int t)
{
    if (typeId == t)
        return true;
    const CategoryInfo* c = category(typeId);
    return c && c->parent != 0 && c->parent == t;
}

std::string episodeLabel(const CatalogueItem& item, int episode)
{
    if (isFilm(item.typeId) && item.episodes == 1)
        return "正片";
    if (isShow(item.typeId))
        return "第" + twoDigits(episode) + "期";
    return "第" + twoDigits(episode) + "集";
}

std::string sharePageAddress(const std::string& httpBase, int id, int episode)
{
    return httpBase + "/share/" + std::to_string(id) + "-" + std::to_string(episode);
}

std::string m3u8Address(const std::string& httpBase, int id, int episode)
{
    return httpBase + "/media/" + std::to_string(id) + "/" + std::to_string(episode) +
           "/index.m3u8";
}

std::string playFrom(const CatalogueItem& item)
{
    switch (item.style) {
    case PlayStyle::None: return "";
    case PlayStyle::OneSource: return "demom3u8";
    default: return "demoyun$$$demom3u8";
    }
}

std::string playText(const CatalogueItem& item, const std::string& httpBase)
{
    if (item.style == PlayStyle::None)
        return "";
    std::string shares, streams;
    for (int e = 1; e <= item.episodes; ++e) {
        const std::string label = episodeLabel(item, e);
        if (e > 1) {
            shares += '#';
            streams += '#';
        }
        shares += label + "$" + sharePageAddress(httpBase, item.id, e);
        streams += label + "$" + m3u8Address(httpBase, item.id, e);
    }
    if (item.style == PlayStyle::OneSource)
        return streams;
    return shares + "$$$" + streams;
}

std::string listingJson(const Catalogue& catalogue, const ListingQuery& query,
                        const std::string& httpBase)
{
    std::vector<const CatalogueItem*> hits;
    for (const auto& item : catalogue.items) {
        if (query.keyword && item.name.find(*query.keyword) == std::string::npos)
            continue;
        if (query.typeId && !listedUnder(item.typeId, *query.typeId))
            continue;
        hits.push_back(&item);
    }
    const int total = static_cast<int>(hits.size());
    const int pageCount = (total + kPageSize - 1) / kPageSize;
    const int page = std::max(1, query.page);

    nlohmann::ordered_json list = nlohmann::ordered_json::array();
    const long first = static_cast<long>(page - 1) * kPageSize;
    for (long i = first; i < total && i < first + kPageSize; ++i) {
        const CatalogueItem& item = *hits[static_cast<size_t>(i)];
        nlohmann::ordered_json o;
        o["vod_id"] = item.id;
        o["type_id"] = item.typeId;
        o["type_name"] = categoryName(item.typeId);
        o["vod_name"] = item.name;
        o["vod_pic"] = httpBase + "/covers/" + std::to_string(item.id) + ".jpg";
        o["vod_blurb"] = item.blurb;
        o["vod_content"] = "<p>" + item.blurb + "</p>";
        o["vod_remarks"] = item.remarks;
        o["vod_play_from"] = playFrom(item);
        o["vod_play_url"] = playText(item, httpBase);
        list.push_back(std::move(o));
    }

    nlohmann::ordered_json body;
    body["code"] = 1;
    body["msg"] = "数据列表";
    body["page"] = page;
    body["pagecount"] = pageCount;
    body["limit"] = std::to_string(kPageSize);
    body["total"] = total;
    body["list"] = std::move(list);
    return escapeSlashes(
        body.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace));
}

} // namespace demo
