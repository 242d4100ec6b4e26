#pragma once
// Fetching and reading one page of a catalogue listing (the URLs, the answer, combined type pages).

#include "catalogue/catalogue_text.h"

#include "net/curl_easy.h"

#include <functional>
#include <string>
#include <vector>

struct MainForm;

// ListingMode: -1 keyword search, -2 latest items, a positive number: a server type id (sent as
// "t" as it is), categoryMode(k) (catalogue_categories.h): label k of the category grid.
inline constexpr int kSearchMode = -1;
inline constexpr int kLatestMode = -2;

// The rows a page shows: every request asks the server for pages of this size ("pagesize").
inline constexpr int kCatalogueRowsPerPage = 20;
// The most rows read from one answer (a server may ignore "pagesize" and send more).
inline constexpr int kMaxRowsPerAnswer = 200;

// One row of the series list 超级列表框_列表: a catalogue item, or an entry of the watch history.
// The list shows title, type and blurb; the rest is what opening the row works from.
struct CatalogueItem {
    std::string title;       // 标题
    std::string typeName;    // 类型 ("已下架" when the series has no play text)
    std::string blurb;       // 简介
    std::string cover;       // 封面
    std::string playText;    // 全剧地址 (empty for a "已下架" row and for history rows)
    std::string historyUrl;  // 历史URL (history rows only)
    std::string historyM3u8; // 历史m3u8 (history rows only)
    // vod_play_from: the names of the play sources, "$$$" between them, in the order of the play
    // text's sources.
    std::string playFrom{};
};

// The request URL of one page, or the empty text for a mode that names no listing by itself (0,
// below -2, a grid label, which needs the route's types). The keyword is sent percent-encoded as a
// UTF-8 query value, so "&", "#", "?", "%" and spaces stay part of the keyword. Every URL asks
// for pages of kCatalogueRowsPerPage rows.
std::string catalogueUrl(const std::string& host, int mode, const std::string& keyword, int page);

// The URL of one page of the server type typeId.
std::string typePageUrl(const std::string& host, int typeId, int page);

// Percent-encodes every byte except A-Z a-z 0-9 - . _ ~ (space becomes %20).
std::string encodeQueryValue(const std::string& text);

// What one fetched page holds, before anything is shown.
struct CataloguePage {
    enum class Outcome { Listed, NothingFound, Failed };
    // Why a page failed.
    enum class Problem { None, Exchange, EmptyBody, NotJson, ApiClosed };
    Outcome outcome = Outcome::Failed;
    Problem problem = Problem::None;
    std::string failure;              // a few words on why, when Failed
    std::string total;                // "total" as the record-count label shows it
    std::string pageCount;            // "pagecount" likewise (from "total" and "limit" without it)
    std::vector<CatalogueItem> items; // every item of the answer with a name, at most
                                      // kMaxRowsPerAnswer
    int totalCount = 0;               // "total" as a number
    int limit = 0;                    // the page size the server used ("limit"), 0 when not said
    std::vector<int> typeIds;         // type_id of each item of items
};

// Reads a response body (UTF-8) as a catalogue page. Covers resolve against pageUrl, the address
// the body came from (resolveCoverUrl). The plain text "closed" (a server whose admin has not
// opened the API) fails with Problem::ApiClosed.
CataloguePage readCataloguePage(const std::string& body, const std::string& pageUrl = {});

// GET of url (no redirects followed, default options otherwise) and readCataloguePage; a
// failed exchange (a certificate that does not verify under policy included), an HTTP error
// status or a body that is not JSON gives Outcome::Failed. The transfer ends early once cancelled
// answers true.
CataloguePage fetchCataloguePage(const std::string& url, std::function<bool()> cancelled = {},
                                 const TransferPolicy& policy = {});

// Page `page` of one listing made of several server types (a category and its child types), in
// the order given, kCatalogueRowsPerPage rows a page. fetch(typeId, serverPage) gets one page of
// one type. The first type's first page tells whether the server lists the child types' items
// under it already (an item of one of the other types in it): then that type alone is the
// listing. A failed fetch fails the whole page.
using TypePageFetch = std::function<CataloguePage(int typeId, int serverPage)>;
CataloguePage combinedTypePage(const std::vector<int>& typeIds, int page,
                               const TypePageFetch& fetch);
