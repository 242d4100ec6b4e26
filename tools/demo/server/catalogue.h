#pragma once
// The demo catalogue: items read from catalogue.tsv and the listing answers of the catalogue API
// (keyword search, latest items, category listing), paged by 20 like the real servers.

#include <optional>
#include <string>
#include <vector>

namespace demo {

// How an item's play text is made (column "style" of catalogue.tsv).
enum class PlayStyle {
    TwoSources, // share-page addresses, then .m3u8 addresses
    OneSource,  // .m3u8 addresses only
    None,       // empty play text: the item is shown as taken down
    Removed,    // two sources; the share pages say the video was removed
    Encrypted,  // two sources on the AES-128 clip
    Variants,   // two sources on a master playlist with two variants
};

struct CatalogueItem {
    int id = 0;
    int typeId = 0;
    std::string name;
    std::string remarks;
    int episodes = 0;
    PlayStyle style = PlayStyle::TwoSources;
    std::string blurb;
};

struct Catalogue {
    std::vector<CatalogueItem> items; // newest (highest id) first
    const CatalogueItem* find(int id) const;
};

// Reads catalogue.tsv; on failure returns nullopt and sets error.
std::optional<Catalogue> loadCatalogue(const std::string& path, std::string& error);

// Name of a category id of the catalogue's category table, or "" when the id is unknown.
std::string categoryName(int typeId);

// True when an item of type typeId is listed under category t (a top category such as 电影
// lists its sub-categories too).
bool listedUnder(int typeId, int t);

// Episode label as the catalogue writes it: 正片 for a one-part film, 第NN期 for shows, 第NN集.
std::string episodeLabel(const CatalogueItem& item, int episode);

// Addresses of one episode, with httpBase such as "http://127.0.0.1:47080".
std::string sharePageAddress(const std::string& httpBase, int id, int episode);
std::string m3u8Address(const std::string& httpBase, int id, int episode);

// vod_play_from and vod_play_url of an item.
std::string playFrom(const CatalogueItem& item);
std::string playText(const CatalogueItem& item, const std::string& httpBase);

struct ListingQuery {
    std::optional<std::string> keyword; // wd: substring of vod_name (UTF-8)
    std::optional<int> typeId;          // t
    int page = 1;                       // pg
};

inline constexpr int kPageSize = 20;

// The JSON body of a listing, slashes escaped as "\/" the way PHP writes them.
std::string listingJson(const Catalogue& catalogue, const ListingQuery& query,
                        const std::string& httpBase);

} // namespace demo
