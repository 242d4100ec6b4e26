#pragma once
// Fetching one page of a catalogue listing and showing it in the main window's series list.

#include "net/curl_easy.h"

#include <atomic>
#include <functional>
#include <string>
#include <vector>

struct MainForm;

// ListingMode: -1 keyword search, -2 latest items, a positive number: a category id.
inline constexpr int kSearchMode = -1;
inline constexpr int kLatestMode = -2;

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
};

// The request URL of one page, or the empty text for a mode that names no listing (0, below -2).
// The keyword is sent percent-encoded as a UTF-8 query value, so "&", "#", "?", "%" and spaces
// stay part of the keyword.
std::string catalogueUrl(const std::string& host, int mode, const std::string& keyword, int page);

// Percent-encodes every byte except A-Z a-z 0-9 - . _ ~ (space becomes %20).
std::string encodeQueryValue(const std::string& text);

// The 简介 column: every ASCII and ideographic space removed, "这个作者很懒, 暂无此剧简介" when
// nothing remains.
std::string blurbText(const std::string& blurb);

// What one fetched page holds, before anything is shown.
struct CataloguePage {
    enum class Outcome { Listed, NothingFound, Failed };
    Outcome outcome = Outcome::Failed;
    std::string failure;              // a few words on why, when Failed
    std::string total;                // "total" as the record-count label shows it
    std::string pageCount;            // "pagecount" likewise
    std::vector<CatalogueItem> items; // at most 20, items without a name skipped
};

// Reads a response body (UTF-8) as a catalogue page.
CataloguePage readCataloguePage(const std::string& body);

// GET of url (no redirects followed, default options otherwise) and readCataloguePage; a
// failed exchange (a certificate that does not verify under policy included), an HTTP error
// status or a body that is not JSON gives Outcome::Failed. The transfer ends early once cancelled
// answers true.
CataloguePage fetchCataloguePage(const std::string& url, std::function<bool()> cancelled = {},
                                 const TransferPolicy& policy = {});

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
