#pragma once
// The 35 category labels of the main window and how they meet a server's own type list: the
// server numbers its types as its admin set them up, so a label is matched to a type by name
// ("ac=list" gives the list), and a type with child types lists the children's rows too.

#include "net/curl_easy.h"

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// One label of the category grid and the type id used where a server's type list is unknown.
struct CategoryCell {
    const char* label;
    int id;
};

// The category grid: 5 rows of seven label/id pairs, row by row.
extern const CategoryCell CategoryTable[5][7];
inline constexpr int kCategoryCount = 35;

// Label k of the grid (row-major, 0 = "最新"), k in [0, kCategoryCount).
const CategoryCell& categoryCell(int index);
// The index of a label in the grid; nullopt when no cell shows it.
std::optional<int> categoryIndexOf(std::string_view label);

// A ListingMode that names a grid label (to be matched to the server's types when loaded), as
// opposed to a positive mode, which is a server type id sent as it is.
inline constexpr int kCategoryModeBase = -100;
inline constexpr int categoryMode(int index)
{
    return kCategoryModeBase - index;
}
// The label index a mode names; nullopt for every other mode.
std::optional<int> categoryIndexOfMode(int mode);

// One entry of a server's type list.
struct ServerType {
    int id = 0;
    int parentId = 0;
    std::string name;
};

// The "class" array of an "ac=list" answer (UTF-8 body): entries with a positive type_id and a
// name, in order. nullopt when the body is not JSON or holds no such entry.
std::optional<std::vector<ServerType>> readTypeList(const std::string& body);

// What a route's type list says about the labels: for each label but "最新", the server's type
// ids to list (the matched type first, then its descendants); no ids means the server has no
// such category. builtin means the route gave no type list, so the grid's own ids apply.
struct CategoryMapping {
    std::int64_t readAt = 0; // seconds since the epoch of the read
    bool builtin = true;
    std::map<std::string, std::vector<int>> types;
};

// Matches every label to a type: a type of the same name first, then one named by a common
// synonym of the label (连续剧/电视剧, 动漫/动漫片 ...).
CategoryMapping mapCategories(const std::vector<ServerType>& types, std::int64_t readAt);

// The type ids a load of the label asks for under mapping: the grid's id when mapping is
// builtin, otherwise the mapped ids (empty: the route has no such category).
std::vector<int> typeIdsFor(const CategoryMapping& mapping, int labelIndex);

// The stored form (one INI value): "<readAt>|" for a route without a type list, else
// "<readAt>|电影=1,6,7;连续剧=2,13;动画片=;..." with every label but "最新".
std::string mappingText(const CategoryMapping& mapping);
std::optional<CategoryMapping> parseMappingText(const std::string& text);

// A mapping is read again once it is a day old (or stamped in the future: the clock moved).
inline constexpr std::int64_t kMappingLifetimeSeconds = std::int64_t{24} * 60 * 60;
bool mappingIsCurrent(const CategoryMapping& mapping, std::int64_t now);

// Settings: section "分类映射", one key per route host.
inline constexpr const char* kMappingSection = "分类映射";

// Reads the route's type list ("ac=list", through HttpRequest under policy, no redirects
// followed).
struct TypeListRead {
    enum class Outcome { Read, NoTypeList, Failed };
    Outcome outcome = Outcome::Failed;
    std::vector<ServerType> types;
};
std::string typeListUrl(const std::string& host);
TypeListRead fetchTypeList(const std::string& host, std::function<bool()> cancelled = {},
                           const TransferPolicy& policy = {});

// The mapping of host for a load: the stored one while it is current; otherwise the type list is
// read (on the calling thread) and the result stored. A route that answered without a usable type
// list is stored as builtin; a failed read stores nothing and falls back on the stored mapping,
// or on builtin when there is none. refresh false never reads (only what is stored).
CategoryMapping categoryMappingFor(const std::string& host, std::int64_t now, bool refresh,
                                   const std::function<bool()>& cancelled = {},
                                   const TransferPolicy& policy = {});

// Whether the stored mapping of host is missing or outdated.
bool categoryMappingDue(const std::string& host, std::int64_t now);
