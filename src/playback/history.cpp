#include "playback/history.h"

#include "app/main_form.h"
#include "app/message_box.h"
#include "app/program_values.h"
#include "app/settings_store.h"
#include "app/status_log.h"
#include "catalogue/catalogue_client.h"
#include "net/json_document.h"
#include "platform/os_version.h"
#include "playback/play_list.h"
#include "playback/playback_state.h"
#include "playback/player_controller.h"
#include "playback/player_endpoints.h"
#include "util/gui_call.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTreeWidget>

#include <atomic>
#include <mutex>
#include <thread>

namespace {

// One save at a time, each from the history the previous one left.
std::mutex g_saveLock;
std::atomic<int> g_runningSaves{0};

std::mutex g_resumeLock;
std::string g_resumeUrl;
std::string g_resumeM3u8;

std::string index(int i)
{
    return std::to_string(i);
}

} // namespace

std::optional<std::string> historyWithEntry(const std::string& history, const HistoryEntry& entry)
{
    if (entry.name.empty())
        return std::nullopt;
    JsonDocument doc;
    doc.parse(history);
    const int n = doc.count("data");
    for (int i = 0; i < n; ++i) {
        if (doc.getText("data[" + index(i) + "].名") == entry.name) {
            doc.removeAt(i, "data");
            break;
        }
    }
    // No list to add to (missing member, or a history that did not parse): start a new one.
    if (doc.subDocument("data").text().empty() || doc.typeOf("data") != 5)
        doc.reset();
    if (doc.count("data") > kHistoryLimit - 1)
        doc.removeAt(0, "data");
    const int k = doc.count("data");
    if (k == 0)
        doc.set("['data']", "[]", true);
    const std::string at = "['data'][" + index(k) + "]";
    doc.set(at, "{}", true);
    doc.set(at + "['名']", entry.name);
    doc.set(at + "['集']", entry.label);
    doc.set(at + "['URL']", entry.url);
    doc.set(at + "['m3u8']", entry.m3u8);
    return doc.text();
}

void saveHistory(const HistoryEntry& entry)
{
    std::lock_guard<std::mutex> hold(g_saveLock);
    const std::optional<std::string> text = historyWithEntry(historyText(), entry);
    if (!text)
        return;
    writeSetting("观看历史", "数据", *text);
    setHistoryText(*text);
}

void startHistorySave(MainForm& form)
{
    const PlayingEpisode playing = playbackState.episode();
    HistoryEntry entry{form.透明标签_标题->text().toStdString(), playing.currentLabel,
                       episodeAddress(playing.currentUrl), playing.currentM3u8};
    ++g_runningSaves;
    // Worker thread: the save itself (settings file and historyText only, no widgets).
    std::thread([entry = std::move(entry)] {
        saveHistory(entry);
        --g_runningSaves;
    }).detach();
}

int runningHistorySaves()
{
    return g_runningSaves.load();
}

void showHistory(MainForm& form)
{
    // The history list is the newest request of the series list: a catalogue load still in
    // flight writes nothing more, and a newer click (or load) ends this fill.
    const LatestRequest::Ticket ticket = form.seriesListRequests.begin();
    form.超级列表框_列表->clear();
    for (QPushButton* button : {form.按钮_首页, form.按钮_尾页, form.按钮_上一页, form.按钮_下一页})
        button->setEnabled(false);
    const std::string text = readSetting("观看历史", "数据");
    setHistoryText(text);
    JsonDocument doc;
    doc.parse(text);
    const int n = doc.count("data");
    for (int i = 0; i < n; ++i) {
        const std::string at = "data[" + index(i) + "].";
        auto* row = new QTreeWidgetItem;
        row->setText(0, QString::fromStdString(doc.getText(at + "名")));
        row->setText(1, QString::fromStdString(doc.getText(at + "集") + "集"));
        row->setText(5, QString::fromStdString(doc.getText(at + "URL")));
        row->setText(6, QString::fromStdString(doc.getText(at + "m3u8")));
        form.超级列表框_列表->insertTopLevelItem(0, row);
        QCoreApplication::processEvents();
        if (!ticket.current())
            return;
    }
    form.标签_页数->setText(QStringLiteral("1"));
    form.标签_当前->setText(QStringLiteral("1"));
    form.标签_共有记录数->setText(QString::number(n));
    updatePagingButtons(form);
    logStatus("载入播放历史记录完成,点击列表可自动续播");
}

void requestResume(MainForm& form, const std::string& name, const std::string& url,
                   const std::string& m3u8, const std::function<void(MainForm&)>& search)
{
    form.编辑框_搜索->setText(QString::fromStdString(name));
    {
        std::lock_guard<std::mutex> hold(g_resumeLock);
        g_resumeUrl = url;
        g_resumeM3u8 = m3u8;
    }
    if (search)
        search(form);
    playbackState.pendingAction = static_cast<int>(PendingAction::ResumeRequested);
}

std::string resumeUrl()
{
    std::lock_guard<std::mutex> hold(g_resumeLock);
    return g_resumeUrl;
}

std::string resumeM3u8()
{
    std::lock_guard<std::mutex> hold(g_resumeLock);
    return g_resumeM3u8;
}

bool resumePending()
{
    return !resumeUrl().empty() &&
           playbackState.pendingAction.load() == static_cast<int>(PendingAction::ResumeRequested);
}

bool startResume(MainForm& form)
{
    const std::string url = resumeUrl();
    const std::string m3u8 = resumeM3u8();
    form.编辑框_状态->clear();
    startPlayListBuild(form);
    playbackState.pendingAction = static_cast<int>(PendingAction::Starting);
    logStatus("正在自动续播上次视频");
    const std::string endpoint = playerPageEndpoint();
    if (osVersion() < kOsVersionWithBrowser) {
        openInDefaultBrowser(endpoint + m3u8);
        return true;
    }
    PlayerServices& services = playerServices();
    if (!services.hasBrowserRuntime || services.hasBrowserRuntime() == 0) {
        form.透明标签_简介->setText(QStringLiteral("未安装 webview2组件 , 将以默认浏览器方式打开"));
        openInDefaultBrowser(url.find("index.m3u8") != std::string::npos ? endpoint + m3u8 : url);
        return true;
    }
    // Entries saved by older versions may already carry the prefix: it is put in front once.
    const std::string current =
        url.find("index.m3u8") != std::string::npos ? endpoint + episodeAddress(url) : url;
    playbackState.setCurrentUrl(current);
    showInPlayer(current);
    return false;
}

void explainFavourites(MainForm& form)
{
    const QTreeWidgetItem* row = form.超级列表框_列表->currentItem();
    if (row == nullptr || row->text(1).isEmpty())
        return;
    showMessageBox("原本想做 右键收藏 功能 , 现在是直接 自动收藏 看过的剧集",
                   "温暖提醒:  点击右上角 小时钟图标 查看", kMessageOk | kMessageInformation,
                   form.window);
}
