#include "catalogue/catalogue_client.h"

#include "app/main_form.h"
#include "app/status_log.h"
#include "app/transfer_settings.h"
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

#include <cstdint>
#include <thread>

std::atomic<int> currentMode{kLatestMode};

namespace {

// The catalogue servers' page size: at most this many items of a page are read.
constexpr int kPageSize = 20;

std::atomic<int> g_runningLoads{0};

bool validMode(int mode)
{
    return mode == kSearchMode || mode == kLatestMode || mode > 0;
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

void replaceAll(std::string& text, const std::string& from, const std::string& to)
{
    for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
}

// A few words on why an exchange gave no usable page.
std::string exchangeFailure(const HttpRequest& request)
{
    const int status = request.statusCode();
    if (request.failure().kind == TransferFailure::Certificate)
        return certificateFailureText(request.failure());
    if (status == 0) {
        const std::string& error = request.errorText();
        if (error.find("imeout") != std::string::npos || error.find("timed out") != std::string::npos)
            return "服务器响应超时";
        return error.empty() ? "无法连接服务器" : "无法连接服务器 (" + error + ")";
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
    const std::string url = catalogueUrl(inputs.host, mode, inputs.keyword, page);
    if (url.empty())
        result.failure = "无效的列表 (" + std::to_string(mode) + ")";
    else if (!inputs.hasRoute || inputs.host.empty())
        result.failure = "未选择线路";
    else
        result = fetchCataloguePage(url, ticket.cancelCheck(), transferPolicyFromSettings());

    if (result.outcome == CataloguePage::Outcome::NothingFound) {
        gui::call([&] {
            if (!current())
                return;
            form.透明标签_简介->setText(
                QStringLiteral("未 有 找 到 剧集 任 何 信 息\r\n\r\n请更换关键词, 或稍后再试"));
            form.标签提示->setText(QStringLiteral("抱歉!没有找到剧集!"));
            form.超级按钮_搜索->setEnabled(true);
        });
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
            playbackState.pendingAction.compare_exchange_strong(starting, static_cast<int>(PendingAction::None));
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
        if (playbackState.pendingAction.compare_exchange_strong(starting,
                                                                static_cast<int>(PendingAction::None)))
            form.透明标签_简介->setText(QStringLiteral("恭喜 ! 线路切换成功 !  欢迎使用"));
        form.标签提示->hide();
        updatePagingButtons(form);
        logStatus("剧集列表获取完成");
    });
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
                                (c >= '0' && c <= '9') || c == '-' || c == '.' || c == '_' || c == '~';
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
    const std::string pg = "&pg=" + std::to_string(page);
    if (mode == kSearchMode)
        return base + "&wd=" + encodeQueryValue(keyword) + pg;
    if (mode == kLatestMode)
        return base + pg;
    if (mode > 0)
        return base + "&t=" + std::to_string(mode) + pg;
    return {};
}

std::string blurbText(const std::string& blurb)
{
    std::string text = blurb;
    replaceAll(text, " ", "");
    replaceAll(text, "\xE3\x80\x80", ""); // U+3000 IDEOGRAPHIC SPACE
    return text.empty() ? "这个作者很懒, 暂无此剧简介" : text;
}

CataloguePage readCataloguePage(const std::string& body)
{
    CataloguePage page;
    JsonDocument doc;
    if (!doc.parse(body)) {
        page.failure = body.empty() ? "服务器没有返回内容" : "返回内容不是有效的数据";
        return page;
    }
    const std::string total = doc.subDocument("total").text();
    if (total == "0") {
        page.outcome = CataloguePage::Outcome::NothingFound;
        return page;
    }
    page.outcome = CataloguePage::Outcome::Listed;
    int n = textToInt(doc.getText("total"));
    if (n > kPageSize)
        n = kPageSize;
    for (int k = 0; k < n; ++k) {
        const std::string item = "list[" + std::to_string(k) + "]";
        CatalogueItem row;
        row.title = doc.getText(item + "['vod_name']");
        if (row.title.empty())
            continue;
        row.typeName = doc.getText(item + "['type_name']");
        row.blurb = blurbText(doc.getText(item + "['vod_blurb']"));
        row.playText = doc.getText(item + "['vod_play_url']");
        if (row.playText.empty())
            row.typeName = "已下架";
        row.cover = doc.getText(item + "['vod_pic']");
        page.items.push_back(std::move(row));
    }
    page.total = total;
    page.pageCount = doc.subDocument("pagecount").text();
    return page;
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
        page.failure = exchangeFailure(request);
        return page;
    }
    return readCataloguePage(body);
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
