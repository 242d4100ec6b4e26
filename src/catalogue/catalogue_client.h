#pragma once
// Fetching one page of a catalogue listing and showing it in the main window's series list.

#include "catalogue/catalogue_text.h"

#include "net/curl_easy.h"
#include <QtCore/qnamespace.h>

#include <atomic>
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

// The mode of the last load that was started; the paging handlers reuse it.
extern std::atomic<int> currentMode;

// One row of 超级列表框_列表, columns 0..6 in this order.
struct CatalogueItem {
    std::string title;       // 标题
    std::string typeName;    // 类型 ("已下架" when the series has no play text)
    std::string blurb;       // 简介
    std::string cover;       // 封面
    std::string playText;    // 全剧地址 (empty for a "已下架" row and for history rows)
    std::string historyUrl;  // 历史URL (history rows only)
    std::string historyM3u8; // 历史m3u8 (history rows only)
    // vod_play_from: the names of the play sources, "$$$" between them, in the order of the play
    // text's sources. Kept on the row's 全剧地址 cell under kPlayFromRole.
    std::string playFrom{};
};

// The item data role of the 全剧地址 cell that holds CatalogueItem::playFrom.
inline constexpr int kPlayFromRole = Qt::UserRole + 1;

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

// Fills the series list with one page of the listing, on the calling (worker) thread; widgets are
// written through the GUI thread. Reads the host from 组合框_线路 and, for a search, the keyword
// from 编辑框_搜索 when it builds the URL. A newer load supersedes it: from then on it writes
// nothing, neither widgets nor log lines. Loads and the history list are requests of one
// consumer, the series list (MainForm::seriesListRequests).
void loadCatalogue(MainForm& form, int mode, int page);

// Starts loadCatalogue on a new detached worker thread. The load counts as started (for
// superseding and currentMode) at this call, so the last click wins whatever thread runs first.
void startCatalogueLoad(MainForm& form, int mode, int page);

// Enables the four paging buttons from 标签_页数 and 标签_当前 and enables the search button.
// GUI thread.
void updatePagingButtons(MainForm& form);

// Loads started and not yet finished (tests and benchmarks wait for 0 before tearing down).
int runningCatalogueLoads();
