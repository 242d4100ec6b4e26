#include "catalogue/catalogue_categories.h"

#include "app/settings_store.h"
#include "net/http_request.h"
#include "net/json_document.h"
#include "util/text_number.h"

#include <charconv>
#include <set>

const CategoryCell CategoryTable[5][7] = {
    {{"最新", -2},
     {"电影", 1},
     {"动漫", 24},
     {"综艺", 25},
     {"纪录片", 2},
     {"连续剧", 3},
     {"动作片", 6}},
    {{"科幻片", 8},
     {"恐怖片", 9},
     {"剧情片", 10},
     {"战争片", 11},
     {"喜剧片", 20},
     {"动画片", 20},
     {"犯罪片", 21}},
    {{"奇幻片", 38},
     {"灾难片", 39},
     {"悬疑片", 40},
     {"其他片", 41},
     {"国产剧", 22},
     {"香港剧", 5},
     {"台湾剧", 30}},
    {{"欧美剧", 4},
     {"韩国剧", 23},
     {"泰国剧", 35},
     {"日本剧", 36},
     {"大陆综艺", 26},
     {"港台综艺", 27},
     {"日韩综艺", 28}},
    {{"欧美综艺", 29},
     {"国产动漫", 31},
     {"日本动漫", 32},
     {"欧美动漫", 33},
     {"海外动漫", 34},
     {"电影解说", 37},
     {"体育赛事", 42}},
};

namespace {

// Other names servers commonly give the type a label stands for, most likely first.
struct Synonyms {
    const char* label;
    std::vector<const char*> names;
};

const std::vector<Synonyms>& synonymTable()
{
    static const std::vector<Synonyms> table = {
        {"电影", {"电影片", "影片"}},
        {"动漫", {"动漫片", "动画", "动漫剧"}},
        {"综艺", {"综艺片", "综艺节目", "真人秀"}},
        {"纪录片", {"记录片", "纪录", "纪实"}},
        {"连续剧", {"电视剧", "剧集", "电视连续剧"}},
        {"动作片", {"动作"}},
        {"科幻片", {"科幻"}},
        {"恐怖片", {"恐怖", "惊悚片"}},
        {"剧情片", {"剧情"}},
        {"战争片", {"战争"}},
        {"喜剧片", {"喜剧"}},
        {"动画片", {"动画电影", "动画"}},
        {"犯罪片", {"犯罪"}},
        {"奇幻片", {"奇幻"}},
        {"灾难片", {"灾难"}},
        {"悬疑片", {"悬疑"}},
        {"其他片", {"其它片", "其他", "其它"}},
        {"国产剧", {"大陆剧", "内地剧", "国剧"}},
        {"香港剧", {"港剧", "港台剧"}},
        {"台湾剧", {"台剧", "港台剧"}},
        {"欧美剧", {"美剧", "欧美剧集"}},
        {"韩国剧", {"韩剧", "日韩剧"}},
        {"泰国剧", {"泰剧"}},
        {"日本剧", {"日剧", "日韩剧"}},
        {"大陆综艺", {"国产综艺", "内地综艺"}},
        {"港台综艺", {"香港综艺", "台湾综艺"}},
        {"日韩综艺", {"韩国综艺", "日本综艺"}},
        {"国产动漫", {"国漫", "大陆动漫", "中国动漫"}},
        {"日本动漫", {"日漫", "日韩动漫"}},
        {"欧美动漫", {"美漫"}},
        {"海外动漫", {"其他动漫", "其它动漫"}},
        {"电影解说", {"解说"}},
        {"体育赛事", {"体育", "体育节目", "赛事"}},
    };
    return table;
}

// A type name as compared: ASCII and ideographic spaces removed.
std::string nameKey(const std::string& name)
{
    std::string key;
    key.reserve(name.size());
    for (std::size_t i = 0; i < name.size(); ++i) {
        const char c = name[i];
        if (c == ' ' || c == '\t' || c == '\r' || c == '\n')
            continue;
        if (name.compare(i, 3, "\xE3\x80\x80") == 0) {
            i += 2;
            continue;
        }
        key += c;
    }
    return key;
}

const ServerType* findByName(const std::vector<ServerType>& types, const std::string& name)
{
    for (const ServerType& type : types)
        if (nameKey(type.name) == name)
            return &type;
    return nullptr;
}

// The type itself, then its children, their children and so on (the list may hold loops).
std::vector<int> withDescendants(const std::vector<ServerType>& types, int root)
{
    std::vector<int> ids{root};
    std::set<int> seen{root};
    for (std::size_t at = 0; at < ids.size(); ++at)
        for (const ServerType& type : types)
            if (type.parentId == ids[at] && seen.insert(type.id).second)
                ids.push_back(type.id);
    return ids;
}

std::vector<int> parseIds(std::string_view text)
{
    std::vector<int> ids;
    std::size_t from = 0;
    while (from < text.size()) {
        std::size_t comma = text.find(',', from);
        if (comma == std::string_view::npos)
            comma = text.size();
        int id = 0;
        const std::string_view piece = text.substr(from, comma - from);
        const auto [end, error] = std::from_chars(piece.data(), piece.data() + piece.size(), id);
        if (error == std::errc() && end == piece.data() + piece.size() && id > 0)
            ids.push_back(id);
        from = comma + 1;
    }
    return ids;
}

} // namespace

const CategoryCell& categoryCell(int index)
{
    return CategoryTable[index / 7][index % 7];
}

std::optional<int> categoryIndexOf(std::string_view label)
{
    for (int k = 0; k < kCategoryCount; ++k)
        if (label == categoryCell(k).label)
            return k;
    return std::nullopt;
}

std::optional<int> categoryIndexOfMode(int mode)
{
    const int index = kCategoryModeBase - mode;
    if (index < 0 || index >= kCategoryCount)
        return std::nullopt;
    return index;
}

std::optional<std::vector<ServerType>> readTypeList(const std::string& body)
{
    JsonDocument doc;
    if (!doc.parse(body))
        return std::nullopt;
    std::vector<ServerType> types;
    const int n = doc.count("class");
    for (int i = 0; i < n; ++i) {
        const std::string entry = "class[" + std::to_string(i) + "]";
        ServerType type;
        type.id = textToInt(doc.getText(entry + "['type_id']"));
        type.parentId = textToInt(doc.getText(entry + "['type_pid']"));
        type.name = doc.getText(entry + "['type_name']");
        if (type.id > 0 && !nameKey(type.name).empty())
            types.push_back(std::move(type));
    }
    if (types.empty())
        return std::nullopt;
    return types;
}

CategoryMapping mapCategories(const std::vector<ServerType>& types, std::int64_t readAt)
{
    CategoryMapping mapping;
    mapping.readAt = readAt;
    mapping.builtin = false;
    for (int k = 0; k < kCategoryCount; ++k) {
        const CategoryCell& cell = categoryCell(k);
        if (cell.id <= 0)
            continue;
        const ServerType* match = findByName(types, cell.label);
        for (const Synonyms& entry : synonymTable()) {
            if (match != nullptr || std::string_view(entry.label) != cell.label)
                continue;
            for (const char* name : entry.names)
                if (match == nullptr)
                    match = findByName(types, name);
        }
        mapping.types[cell.label] = match ? withDescendants(types, match->id) : std::vector<int>{};
    }
    return mapping;
}

std::vector<int> typeIdsFor(const CategoryMapping& mapping, int labelIndex)
{
    const CategoryCell& cell = categoryCell(labelIndex);
    if (mapping.builtin)
        return {cell.id};
    const auto found = mapping.types.find(cell.label);
    return found == mapping.types.end() ? std::vector<int>{} : found->second;
}

std::string mappingText(const CategoryMapping& mapping)
{
    std::string text = std::to_string(mapping.readAt) + "|";
    if (mapping.builtin)
        return text;
    bool first = true;
    for (int k = 0; k < kCategoryCount; ++k) {
        const CategoryCell& cell = categoryCell(k);
        if (cell.id <= 0)
            continue;
        text += first ? "" : ";";
        first = false;
        text += std::string(cell.label) + "=";
        const auto found = mapping.types.find(cell.label);
        if (found == mapping.types.end())
            continue;
        for (std::size_t i = 0; i < found->second.size(); ++i)
            text += (i ? "," : "") + std::to_string(found->second[i]);
    }
    return text;
}

std::optional<CategoryMapping> parseMappingText(const std::string& text)
{
    const std::size_t bar = text.find('|');
    if (bar == std::string::npos || bar == 0)
        return std::nullopt;
    CategoryMapping mapping;
    const auto [end, error] = std::from_chars(text.data(), text.data() + bar, mapping.readAt);
    if (error != std::errc() || end != text.data() + bar)
        return std::nullopt;
    const std::string_view rest = std::string_view(text).substr(bar + 1);
    mapping.builtin = rest.empty();
    std::size_t from = 0;
    while (from < rest.size()) {
        std::size_t semicolon = rest.find(';', from);
        if (semicolon == std::string_view::npos)
            semicolon = rest.size();
        const std::string_view entry = rest.substr(from, semicolon - from);
        const std::size_t eq = entry.find('=');
        // Only cells that list a category carry ids; 最新 and the order cells are never mapped,
        // so an entry for them is ignored, as writing the mapping back would drop it.
        const std::optional<int> index =
            eq == std::string_view::npos ? std::nullopt : categoryIndexOf(entry.substr(0, eq));
        if (index && categoryCell(*index).id > 0)
            mapping.types[std::string(entry.substr(0, eq))] = parseIds(entry.substr(eq + 1));
        from = semicolon + 1;
    }
    if (!mapping.builtin && mapping.types.empty())
        return std::nullopt;
    return mapping;
}

bool mappingIsCurrent(const CategoryMapping& mapping, std::int64_t now)
{
    return mapping.readAt <= now && now - mapping.readAt < kMappingLifetimeSeconds;
}

std::string typeListUrl(const std::string& host)
{
    return "https://" + host + "/api.php/provide/vod/?ac=list";
}

TypeListRead fetchTypeList(const std::string& host, std::function<bool()> cancelled,
                           const TransferPolicy& policy)
{
    TypeListRead read;
    HttpRequest request;
    RequestOptions options;
    options.disableRedirects = true;
    options.policy = policy;
    options.cancelled = std::move(cancelled);
    const std::string body = request.send(typeListUrl(host), options);
    const int status = request.statusCode();
    if (status < 200 || status >= 300)
        return read;
    std::optional<std::vector<ServerType>> types = readTypeList(body);
    if (types) {
        read.outcome = TypeListRead::Outcome::Read;
        read.types = std::move(*types);
        return read;
    }
    // A JSON answer without a type list comes from a server that keeps none; anything else
    // (a closed API's "closed", an error page) may change, so it is asked again next time.
    JsonDocument doc;
    if (doc.parse(body) && doc.exists("list"))
        read.outcome = TypeListRead::Outcome::NoTypeList;
    return read;
}

CategoryMapping categoryMappingFor(const std::string& host, std::int64_t now, bool refresh,
                                   const std::function<bool()>& cancelled,
                                   const TransferPolicy& policy)
{
    std::optional<CategoryMapping> stored = parseMappingText(readSetting(kMappingSection, host));
    if (stored && (mappingIsCurrent(*stored, now) || !refresh))
        return *stored;
    if (!refresh)
        return CategoryMapping{};
    const TypeListRead read = fetchTypeList(host, cancelled, policy);
    if (read.outcome == TypeListRead::Outcome::Failed)
        return stored ? *stored : CategoryMapping{};
    CategoryMapping mapping;
    mapping.readAt = now;
    if (read.outcome == TypeListRead::Outcome::Read)
        mapping = mapCategories(read.types, now);
    writeSetting(kMappingSection, host, mappingText(mapping));
    return mapping;
}

bool categoryMappingDue(const std::string& host, std::int64_t now)
{
    const std::optional<CategoryMapping> stored =
        parseMappingText(readSetting(kMappingSection, host));
    return !stored || !mappingIsCurrent(*stored, now);
}
