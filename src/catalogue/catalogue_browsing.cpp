#include "catalogue/catalogue_browsing.h"

#include "app/settings_store.h"
#include "app/status_log.h"
#include "app/transfer_settings.h"
#include "catalogue/catalogue_sources.h"
#include "util/gui_call.h"
#include "util/text_number.h"

#include <QtCore/qnamespace.h>

#include <chrono>
#include <cstdint>
#include <ctime>
#include <optional>
#include <thread>

namespace {

bool validMode(int mode)
{
    return mode == kSearchMode || mode == kLatestMode || mode > 0 || categoryIndexOfMode(mode);
}

std::int64_t nowSeconds()
{
    return static_cast<std::int64_t>(std::time(nullptr));
}

bool isEnter(int qtKey)
{
    return qtKey == Qt::Key_Return || qtKey == Qt::Key_Enter;
}

// A page of the server types ids: one type is the server's own listing, several are one
// listing made of them.
CataloguePage fetchTypesPage(const std::string& host, const std::vector<int>& ids, int page,
                             const std::function<bool()>& cancelled, const TransferPolicy& policy)
{
    if (ids.size() == 1)
        return fetchCataloguePage(typePageUrl(host, ids.front(), page), cancelled, policy);
    return combinedTypePage(ids, page, [&](int typeId, int serverPage) {
        return fetchCataloguePage(typePageUrl(host, typeId, serverPage), cancelled, policy);
    });
}

// What a load works from: taken on the GUI thread when it starts.
struct LoadInputs {
    int mode = kLatestMode;
    int page = 1;
    std::string host;
    std::string keyword;
    bool hasRoute = false;
};

// The load itself, on its worker thread: no view, no model, only values.
CatalogueBrowser::LoadResult fetchListing(const LoadInputs& inputs,
                                          const LatestRequest::Ticket& ticket,
                                          const TransferPolicy& policy)
{
    CatalogueBrowser::LoadResult out;
    const std::optional<int> category = categoryIndexOfMode(inputs.mode);
    const std::string url = catalogueUrl(inputs.host, inputs.mode, inputs.keyword, inputs.page);
    const bool routed = inputs.hasRoute && !inputs.host.empty();
    if (url.empty() && !category) {
        out.page.failure = "无效的列表 (" + std::to_string(inputs.mode) + ")";
    } else if (!routed) {
        out.page.failure = "未选择线路";
    } else if (category) {
        // The label's types on this route: read from the route's type list (on this worker)
        // when none is stored or it is a day old.
        const CategoryMapping mapping =
            categoryMappingFor(inputs.host, nowSeconds(), true, ticket.cancelCheck(), policy);
        const std::vector<int> ids = typeIdsFor(mapping, *category);
        if (ids.empty())
            out.missingCategory = categoryCell(*category).label;
        else
            out.page = fetchTypesPage(inputs.host, ids, inputs.page, ticket.cancelCheck(), policy);
    } else {
        out.page = fetchCataloguePage(url, ticket.cancelCheck(), policy);
    }
    return out;
}

} // namespace

PagingButtons pagingButtons(int pages, int current)
{
    if (pages == current && current == 1)
        return {false, false, false, false};
    if (pages > current && current == 1)
        return {false, false, true, true};
    if (pages == current && current != 1)
        return {true, true, false, false};
    if (pages != current && current != 1)
        return {true, true, true, true};
    PagingButtons same;
    same.unchanged = true;
    return same;
}

CatalogueBrowser::CatalogueBrowser(CatalogueView& view, Events events)
        : view_(view), events_(std::move(events))
{}

CatalogueBrowser::~CatalogueBrowser()
{
    stop();
}

void CatalogueBrowser::stop()
{
    requests_.cancelAll();
    // A cancelled load's transfer ends at its next progress call; its thread then only posts a
    // result that is dropped.
    while (running_->load() > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
}

const CatalogueItem* CatalogueBrowser::row(int index) const
{
    if (index < 0 || index >= static_cast<int>(rows_.size()))
        return nullptr;
    return &rows_[static_cast<std::size_t>(index)];
}

void CatalogueBrowser::startLoad(int mode, int page)
{
    gui::assertGuiThread();
    if (validMode(mode))
        currentMode_ = mode;
    const LatestRequest::Ticket ticket = requests_.begin();
    // The loading hint and the paging buttons change once the click that started the load has
    // been handled, as a load's first step (a superseded load's step does nothing).
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [this, ticket] {
            if (!ticket.current())
                return;
            view_.showLoadingHint("正在加载 ...");
            view_.setPagingEnabled(false, false, false, false);
        },
        Qt::QueuedConnection);

    LoadInputs inputs;
    inputs.mode = mode;
    inputs.page = page;
    const int route = view_.selectedRoute();
    inputs.hasRoute = route >= 0 && route < static_cast<int>(routes_.size());
    if (inputs.hasRoute)
        inputs.host = routes_[static_cast<std::size_t>(route)];
    inputs.keyword = view_.searchText();
    const TransferPolicy policy = transferPolicyFromSettings();

    ++*running_;
    // Worker thread: the exchange; the result is posted to the GUI thread as a value, where the
    // ticket is checked, so a superseded load shows nothing and logs nothing. The counter is
    // shared so the thread may end after this object.
    std::thread([this, ticket, inputs, policy, running = running_] {
        LoadResult result = fetchListing(inputs, ticket, policy);
        const bool listed =
            result.missingCategory.empty() && result.page.outcome != CataloguePage::Outcome::Failed;
        gui::post(QCoreApplication::instance(), [this, ticket, result = std::move(result)] {
            // stop() cancels every ticket before this object goes, on this same thread.
            if (ticket.current())
                showResult(result);
        });
        // A route used for the first time (or a day after its last read) has its type list read
        // once its listing is shown, so the first category click finds the mapping stored.
        const bool routed = inputs.hasRoute && !inputs.host.empty();
        if (listed && !categoryIndexOfMode(inputs.mode) && routed && ticket.current() &&
            categoryMappingDue(inputs.host, nowSeconds()))
            categoryMappingFor(inputs.host, nowSeconds(), true, ticket.cancelCheck(), policy);
        --*running;
    }).detach();
}

void CatalogueBrowser::showResult(const LoadResult& result)
{
    gui::assertGuiThread();
    const CataloguePage& page = result.page;
    if (!result.missingCategory.empty()) {
        const std::string notice = "该线路没有此分类: " + result.missingCategory;
        view_.setBlurb(notice);
        view_.showLoadingHint(notice);
        view_.setSearchEnabled(true);
        logStatus(notice);
        return;
    }
    if (page.outcome == CataloguePage::Outcome::NothingFound) {
        view_.setBlurb("未 有 找 到 剧集 任 何 信 息\r\n\r\n请更换关键词, 或稍后再试");
        view_.showLoadingHint("抱歉!没有找到剧集!");
        view_.setSearchEnabled(true);
        return;
    }
    if (page.outcome == CataloguePage::Outcome::Failed) {
        rows_.clear();
        pageCount_.clear();
        view_.showSeriesRows(rows_);
        view_.setRecordCounts({}, {});
        view_.setBlurb("剧集列表加载失败\r\n\r\n" + page.failure);
        view_.showLoadingHint("加载失败!");
        updatePagingButtons();
        // A load that ended, failed or not, no longer holds the player back.
        if (events_.loadEnded)
            events_.loadEnded(false);
        logStatus("剧集列表获取失败: " + page.failure);
        return;
    }
    rows_ = page.items;
    pageCount_ = page.pageCount;
    view_.showSeriesRows(rows_);
    view_.setRecordCounts(page.total, page.pageCount);
    if (events_.loadEnded && events_.loadEnded(true))
        view_.setBlurb("恭喜 ! 线路切换成功 !  欢迎使用");
    view_.hideLoadingHint();
    updatePagingButtons();
    logStatus("剧集列表获取完成");
}

void CatalogueBrowser::showListing(std::vector<CatalogueItem> rows, const std::string& total,
                                   const std::string& pageCount)
{
    gui::assertGuiThread();
    requests_.begin();
    rows_ = std::move(rows);
    pageCount_ = pageCount;
    view_.showSeriesRows(rows_);
    view_.setRecordCounts(total, pageCount);
    view_.setCurrentPageText("1");
    updatePagingButtons();
}

void CatalogueBrowser::updatePagingButtons()
{
    gui::assertGuiThread();
    const PagingButtons buttons =
        pagingButtons(textToInt(pageCount_), textToInt(view_.currentPageText()));
    if (!buttons.unchanged)
        view_.setPagingEnabled(buttons.first, buttons.previous, buttons.next, buttons.last);
    view_.setSearchEnabled(true);
}

void CatalogueBrowser::searchBoxFocusIn()
{
    gui::assertGuiThread();
    view_.setSearchText({});
}

void CatalogueBrowser::searchBoxFocusOut()
{
    gui::assertGuiThread();
    if (view_.searchText().empty())
        view_.setSearchText(kSearchPlaceholder);
}

void CatalogueBrowser::searchBoxKeyReleased(int qtKey)
{
    gui::assertGuiThread();
    if (!isEnter(qtKey))
        return;
    logStatus("正在提交搜索");
    startSearch();
}

void CatalogueBrowser::startSearch()
{
    gui::assertGuiThread();
    view_.setSearchEnabled(false);
    view_.setCurrentPageText("1");
    startLoad(kSearchMode, 1);
}

void CatalogueBrowser::searchFor(const std::string& text)
{
    gui::assertGuiThread();
    view_.setSearchText(text);
    startSearch();
}

void CatalogueBrowser::goToPage(PageAction action)
{
    gui::assertGuiThread();
    const int current = textToInt(view_.currentPageText());
    const int pages = textToInt(pageCount_);
    switch (action) {
    case PageAction::First: view_.setCurrentPageText("1"); break;
    case PageAction::Previous: view_.setCurrentPageText(std::to_string(current - 1)); break;
    case PageAction::Next: view_.setCurrentPageText(std::to_string(current + 1)); break;
    case PageAction::Last:
        if (!pageCount_.empty())
            view_.setCurrentPageText(pageCount_);
        break;
    case PageAction::Typed:
        if (!pageCount_.empty() && pages < current)
            view_.setCurrentPageText(pageCount_);
        break;
    }
    startLoad(currentMode_, textToInt(view_.currentPageText()));
}

void CatalogueBrowser::selectCategory(int row, int column)
{
    gui::assertGuiThread();
    if (row < 0 || row >= static_cast<int>(std::size(CategoryTable)) || column < 0 || column >= 14)
        return;
    // Ids sit in the odd column right of each label; a click on an id column counts for its label.
    const CategoryCell& cell =
        CategoryTable[static_cast<std::size_t>(row)][static_cast<std::size_t>(column / 2)];
    logStatus("获取分类剧集列表");
    const std::optional<int> label = categoryIndexOf(cell.label);
    const bool category = label && categoryCell(*label).id > 0;
    startLoad(category ? categoryMode(*label) : cell.id, 1);
    view_.setCurrentPageText("1");
}

void CatalogueBrowser::fillRouteBox()
{
    gui::assertGuiThread();
    routes_ = routeHosts();
    view_.setRouteEntries(routes_);
}

void CatalogueBrowser::selectRouteEntry(int value)
{
    gui::assertGuiThread();
    view_.selectRoute(value >= 0 && value < static_cast<int>(routes_.size()) ? value : -1);
}

void CatalogueBrowser::switchRoute()
{
    gui::assertGuiThread();
    if (events_.routeSwitchStarted)
        events_.routeSwitchStarted();
    view_.setBlurb("请稍等 ! 线路正在切换中...");
    logStatus("正在切换线路");
    const int index = view_.selectedRoute();
    const int value = index >= 0 && index < static_cast<int>(routes_.size()) ? index : -1;
    writeSetting("配置项", "线路", std::to_string(value));
    // The new route's listing starts at page 1, so the page box must say so as well.
    view_.setCurrentPageText("1");
    startLoad(kLatestMode, 1);
}
