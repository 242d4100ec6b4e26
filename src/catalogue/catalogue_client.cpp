#include "catalogue/catalogue_client.h"

#include "app/main_form.h"
#include "app/status_log.h"
#include "app/transfer_settings.h"
#include "catalogue/catalogue_categories.h"
#include "net/http_request.h"
#include "net/json_document.h"
#include "playback/playback_state.h"
#include "util/gui_call.h"
#include "util/text_number.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>

#include <algorithm>
#include <cstdint>
#include <ctime>
#include <thread>

std::atomic<int> currentMode{kLatestMode};

namespace {

std::atomic<int> g_runningLoads{0};

bool validMode(int mode)
{
    return mode == kSearchMode || mode == kLatestMode || mode > 0 || categoryIndexOfMode(mode);
}

std::int64_t nowSeconds()
{
    return static_cast<std::int64_t>(std::time(nullptr));
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

// A load is the newest request of the series list from here on; a superseded load writes
// nothing and its transfer ends.
LatestRequest::Ticket beginLoad(MainForm& form, int mode)
{
    if (validMode(mode))
        currentMode = mode;
    return form.seriesListRequests.begin();
}

QString q(const std::string& text)
{
    return QString::fromStdString(text);
}

// A few words on why an exchange gave no usable page.
std::string exchangeFailure(const HttpRequest& request)
{
    const int status = request.statusCode();
    if (request.bodyLimitHit())
        return "服务器的回答超过 " + std::to_string(kPageBodyLimit / (int64_t{1024} * 1024)) +
               " MiB 上限,已放弃";
    if (request.failure().kind == TransferFailure::Certificate)
        return certificateFailureText(request.failure());
    if (status == 0) {
        const TransferError& failure = request.failure();
        if (failure.kind == TransferFailure::Timeout ||
            failure.kind == TransferFailure::ConnectTimeout)
            return "服务器响应超时";
        return failure.detail.empty() ? "无法连接服务器"
                                      : "无法连接服务器 (" + failure.detail + ")";
    }
    return "服务器返回 HTTP " + std::to_string(status);
}

QTreeWidgetItem* makeRow(const CatalogueItem& item)
{
    auto* row = new QTreeWidgetItem;
    row->setText(0, q(item.title));
    row->setText(1, q(item.typeName));
    row->setText(2, q(item.blurb));
    row->setText(3, q(item.cover));
    row->setText(4, q(item.playText));
    row->setData(4, kPlayFromRole, q(item.playFrom));
    row->setText(5, q(item.historyUrl));
    row->setText(6, q(item.historyM3u8));
    return row;
}

void setPagingEnabled(MainForm& form, bool first, bool previous, bool next, bool last)
{
    form.按钮_首页->setEnabled(first);
    form.按钮_上一页->setEnabled(previous);
    form.按钮_下一页->setEnabled(next);
    form.按钮_尾页->setEnabled(last);
}

struct LoadInputs {
    std::string host;
    std::string keyword;
    bool hasRoute = false;
};

// Runs on the load's worker thread; every widget access is a call onto the GUI thread, where
// the ticket is checked, so a superseded load stops writing the moment a newer request of the
// series list (another load, the history list) starts.
void runLoad(MainForm& form, const LatestRequest::Ticket& ticket, int mode, int page)
{
    auto current = [&ticket] { return ticket.current(); };

    gui::call([&] {
        if (!current())
            return;
        form.标签提示->setText(QStringLiteral("正在加载 ..."));
        form.标签提示->show();
        setPagingEnabled(form, false, false, false, false);
    });

    const LoadInputs inputs = gui::call([&] {
        LoadInputs in;
        const int index = form.组合框_线路->currentIndex();
        in.hasRoute = index >= 0;
        if (in.hasRoute)
            in.host = form.组合框_线路->itemText(index).toStdString();
        in.keyword = form.编辑框_搜索->text().toStdString();
        return in;
    });

    CataloguePage result;
    const TransferPolicy policy = transferPolicyFromSettings();
    std::string missingCategory;
    const std::optional<int> category = categoryIndexOfMode(mode);
    const std::string url = catalogueUrl(inputs.host, mode, inputs.keyword, page);
    const bool routed = inputs.hasRoute && !inputs.host.empty();
    if (url.empty() && !category) {
        result.failure = "无效的列表 (" + std::to_string(mode) + ")";
    } else if (!routed) {
        result.failure = "未选择线路";
    } else if (category) {
        // The label's types on this route: read from the route's type list (on this worker)
        // when none is stored or it is a day old.
        const CategoryMapping mapping =
            categoryMappingFor(inputs.host, nowSeconds(), true, ticket.cancelCheck(), policy);
        const std::vector<int> ids = typeIdsFor(mapping, *category);
        if (ids.empty())
            missingCategory = categoryCell(*category).label;
        else
            result = fetchTypesPage(inputs.host, ids, page, ticket.cancelCheck(), policy);
    } else {
        result = fetchCataloguePage(url, ticket.cancelCheck(), policy);
    }

    // A route used for the first time (or a day after its last read) has its type list read
    // once its listing is shown, so the first category click finds the mapping stored.
    auto readTypesWhenDue = [&] {
        if (!category && routed && current() && categoryMappingDue(inputs.host, nowSeconds()))
            categoryMappingFor(inputs.host, nowSeconds(), true, ticket.cancelCheck(), policy);
    };

    if (!missingCategory.empty()) {
        gui::call([&] {
            if (!current())
                return;
            const QString notice = q("该线路没有此分类: " + missingCategory);
            form.透明标签_简介->setText(notice);
            form.标签提示->setText(notice);
            form.超级按钮_搜索->setEnabled(true);
            logStatus("该线路没有此分类: " + missingCategory);
        });
        return;
    }

    if (result.outcome == CataloguePage::Outcome::NothingFound) {
        gui::call([&] {
            if (!current())
                return;
            form.透明标签_简介->setText(
                QStringLiteral("未 有 找 到 剧集 任 何 信 息\r\n\r\n请更换关键词, 或稍后再试"));
            form.标签提示->setText(QStringLiteral("抱歉!没有找到剧集!"));
            form.超级按钮_搜索->setEnabled(true);
        });
        readTypesWhenDue();
        return;
    }

    if (result.outcome == CataloguePage::Outcome::Failed) {
        gui::call([&] {
            if (!current())
                return;
            form.超级列表框_列表->clear();
            form.标签_共有记录数->clear();
            form.标签_页数->clear();
            form.透明标签_简介->setText(q("剧集列表加载失败\r\n\r\n" + result.failure));
            form.标签提示->setText(QStringLiteral("加载失败!"));
            updatePagingButtons(form);
            // A load that ended, failed or not, no longer holds the player back: left at
            // Starting, the episode that plays would never move on.
            int starting = static_cast<int>(PendingAction::Starting);
            playbackState.pendingAction.compare_exchange_strong(
                starting, static_cast<int>(PendingAction::None));
            logStatus("剧集列表获取失败: " + result.failure);
        });
        return;
    }

    gui::call([&] {
        if (!current())
            return;
        form.标签提示->setText(QStringLiteral("正在加载中..."));
    });

    gui::call([&] {
        if (!current())
            return;
        QTreeWidget* list = form.超级列表框_列表;
        list->clear();
        QList<QTreeWidgetItem*> rows;
        rows.reserve(static_cast<qsizetype>(result.items.size()));
        for (const CatalogueItem& item : result.items)
            rows.append(makeRow(item));
        list->addTopLevelItems(rows);
        form.标签_共有记录数->setText(q(result.total));
        form.标签_页数->setText(q(result.pageCount));
        int starting = static_cast<int>(PendingAction::Starting);
        if (playbackState.pendingAction.compare_exchange_strong(
                starting, static_cast<int>(PendingAction::None)))
            form.透明标签_简介->setText(QStringLiteral("恭喜 ! 线路切换成功 !  欢迎使用"));
        form.标签提示->hide();
        updatePagingButtons(form);
        logStatus("剧集列表获取完成");
    });
    readTypesWhenDue();
}

// Keeps the count of running loads right however the load ends.
struct RunningLoad {
    RunningLoad() { ++g_runningLoads; }
    ~RunningLoad() { --g_runningLoads; }
    RunningLoad(const RunningLoad&) = delete;
    RunningLoad& operator=(const RunningLoad&) = delete;
};

} // namespace

std::string encodeQueryValue(const std::string& text)
{
    static const char* hex = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size() * 3);
    for (unsigned char c : text) {
        const bool unreserved = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                                (c >= '0' && c <= '9') || c == '-' || c == '.' || c == '_' ||
                                c == '~';
        if (unreserved) {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 0x0F];
        }
    }
    return out;
}

std::string catalogueUrl(const std::string& host, int mode, const std::string& keyword, int page)
{
    const std::string base = "https://" + host + "/api.php/provide/vod/?ac=detail";
    const std::string pg =
        "&pg=" + std::to_string(page) + "&pagesize=" + std::to_string(kCatalogueRowsPerPage);
    if (mode == kSearchMode)
        return base + "&wd=" + encodeQueryValue(keyword) + pg;
    if (mode == kLatestMode)
        return base + pg;
    if (mode > 0)
        return typePageUrl(host, mode, page);
    return {};
}

std::string typePageUrl(const std::string& host, int typeId, int page)
{
    return "https://" + host + "/api.php/provide/vod/?ac=detail&t=" + std::to_string(typeId) +
           "&pg=" + std::to_string(page) + "&pagesize=" + std::to_string(kCatalogueRowsPerPage);
}

CataloguePage readCataloguePage(const std::string& body, const std::string& pageUrl)
{
    CataloguePage page;
    const std::size_t first = body.find_first_not_of(" \t\r\n");
    if (first != std::string::npos && body.compare(first, 6, "closed") == 0 &&
        body.find_first_not_of(" \t\r\n", first + 6) == std::string::npos) {
        page.problem = CataloguePage::Problem::ApiClosed;
        page.failure = "该线路的接口未开放 (closed)";
        return page;
    }
    JsonDocument doc;
    if (!doc.parse(body)) {
        page.problem =
            body.empty() ? CataloguePage::Problem::EmptyBody : CataloguePage::Problem::NotJson;
        page.failure = body.empty() ? "服务器没有返回内容" : "返回内容不是有效的数据";
        return page;
    }
    const std::string total = doc.subDocument("total").text();
    if (total == "0") {
        page.outcome = CataloguePage::Outcome::NothingFound;
        return page;
    }
    page.outcome = CataloguePage::Outcome::Listed;
    page.totalCount = std::max(0, textToInt(doc.getText("total")));
    page.limit = std::max(0, textToInt(doc.getText("limit")));
    // Every item the server sent for the page: its own page size may differ from the one asked.
    const int n = std::min(doc.count("list"), kMaxRowsPerAnswer);
    for (int k = 0; k < n; ++k) {
        const std::string item = "list[" + std::to_string(k) + "]";
        CatalogueItem row;
        row.title = doc.getText(item + "['vod_name']");
        if (row.title.empty())
            continue;
        row.typeName = doc.getText(item + "['type_name']");
        row.blurb =
            blurbText(doc.getText(item + "['vod_blurb']"), doc.getText(item + "['vod_content']"));
        row.playText = doc.getText(item + "['vod_play_url']");
        row.playFrom = doc.getText(item + "['vod_play_from']");
        if (row.playText.empty())
            row.typeName = "已下架";
        row.cover = resolveCoverUrl(doc.getText(item + "['vod_pic']"), pageUrl);
        page.items.push_back(std::move(row));
        page.typeIds.push_back(textToInt(doc.getText(item + "['type_id']")));
    }
    page.total = total;
    page.pageCount = doc.subDocument("pagecount").text();
    // Without a page count the pages follow from the record count and the server's page size.
    const bool noPageCount = page.pageCount.empty() || page.pageCount == "null";
    if (noPageCount && page.totalCount > 0 && page.limit > 0)
        page.pageCount = std::to_string((page.totalCount + page.limit - 1) / page.limit);
    return page;
}

CataloguePage combinedTypePage(const std::vector<int>& typeIds, int page,
                               const TypePageFetch& fetch)
{
    if (typeIds.empty())
        return CataloguePage{};
    if (page < 1)
        page = 1;

    struct Part {
        int id = 0;
        long long total = 0;
        int limit = 0;
        CataloguePage first;
    };
    std::vector<Part> parts;
    for (const int id : typeIds) {
        CataloguePage first = fetch(id, 1);
        if (first.outcome == CataloguePage::Outcome::Failed)
            return first;
        if (parts.empty() && first.outcome == CataloguePage::Outcome::Listed) {
            // A server that lists a type's children under it already: the type alone.
            for (const int itemType : first.typeIds)
                if (itemType != id &&
                    std::find(typeIds.begin() + 1, typeIds.end(), itemType) != typeIds.end())
                    return page == 1 ? first : fetch(id, page);
        }
        Part part;
        part.id = id;
        part.total = first.outcome == CataloguePage::Outcome::Listed ? first.totalCount : 0;
        part.limit = first.limit > 0 ? first.limit : static_cast<int>(first.items.size());
        if (part.limit <= 0)
            part.limit = kCatalogueRowsPerPage;
        part.first = std::move(first);
        parts.push_back(std::move(part));
    }

    long long sum = 0;
    for (const Part& part : parts)
        sum += part.total;
    CataloguePage out;
    if (sum == 0) {
        out.outcome = CataloguePage::Outcome::NothingFound;
        return out;
    }
    sum = std::min<long long>(sum, INT32_MAX);
    out.outcome = CataloguePage::Outcome::Listed;
    out.totalCount = static_cast<int>(sum);
    out.total = std::to_string(sum);
    out.limit = kCatalogueRowsPerPage;
    out.pageCount = std::to_string((sum + kCatalogueRowsPerPage - 1) / kCatalogueRowsPerPage);

    // The rows [from, to) of the joined listing, taken from each type's own pages.
    const long long from = static_cast<long long>(page - 1) * kCatalogueRowsPerPage;
    const long long to = std::min(from + kCatalogueRowsPerPage, sum);
    long long start = 0;
    for (const Part& part : parts) {
        const long long begin = std::max(from, start) - start;
        const long long end = std::min(to, start + part.total) - start;
        start += part.total;
        if (begin >= end)
            continue;
        const long long firstPage = begin / part.limit + 1;
        const long long lastPage = (end - 1) / part.limit + 1;
        for (long long serverPage = firstPage; serverPage <= lastPage; ++serverPage) {
            CataloguePage got =
                serverPage == 1 ? part.first : fetch(part.id, static_cast<int>(serverPage));
            if (got.outcome == CataloguePage::Outcome::Failed)
                return got;
            const long long pageStart = (serverPage - 1) * part.limit;
            for (std::size_t k = 0; k < got.items.size(); ++k) {
                const long long at = pageStart + static_cast<long long>(k);
                if (at < begin || at >= end)
                    continue;
                out.items.push_back(got.items[k]);
                out.typeIds.push_back(k < got.typeIds.size() ? got.typeIds[k] : 0);
            }
        }
    }
    return out;
}

CataloguePage fetchCataloguePage(const std::string& url, std::function<bool()> cancelled,
                                 const TransferPolicy& policy)
{
    HttpRequest request;
    RequestOptions options;
    options.disableRedirects = true;
    options.policy = policy;
    options.cancelled = std::move(cancelled);
    const std::string body = request.send(url, options);
    const int status = request.statusCode();
    if (status < 200 || status >= 300) {
        CataloguePage page;
        page.problem = CataloguePage::Problem::Exchange;
        page.failure = exchangeFailure(request);
        return page;
    }
    return readCataloguePage(body, url);
}

void loadCatalogue(MainForm& form, int mode, int page)
{
    RunningLoad running;
    runLoad(form, beginLoad(form, mode), mode, page);
}

void startCatalogueLoad(MainForm& form, int mode, int page)
{
    const LatestRequest::Ticket ticket = beginLoad(form, mode);
    ++g_runningLoads;
    // Worker thread: the whole load; widgets are reached through gui::call.
    std::thread([&form, ticket, mode, page] {
        runLoad(form, ticket, mode, page);
        --g_runningLoads;
    }).detach();
}

void updatePagingButtons(MainForm& form)
{
    gui::assertGuiThread();
    const int pages = textToInt(form.标签_页数->text().toStdString());
    const int current = textToInt(form.标签_当前->text().toStdString());
    if (pages == current && current == 1)
        setPagingEnabled(form, false, false, false, false);
    else if (pages > current && current == 1)
        setPagingEnabled(form, false, false, true, true);
    else if (pages == current && current != 1)
        setPagingEnabled(form, true, true, false, false);
    else if (pages != current && current != 1)
        setPagingEnabled(form, true, true, true, true);
    form.超级按钮_搜索->setEnabled(true);
}

int runningCatalogueLoads()
{
    return g_runningLoads.load();
}
