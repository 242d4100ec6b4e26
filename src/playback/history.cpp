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
#include "playback/watch_position.h"
#include "util/gui_call.h"
#include "util/text_number.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTreeWidget>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

namespace {

// One save at a time, each from the history the previous one left, in the order the saves were
// started: every save draws a ticket when it is started and waits for its turn.
std::mutex g_saveLock;
std::condition_variable g_saveTurn;
std::uint64_t g_nextTicket = 0;
std::uint64_t g_serving = 0;
std::atomic<int> g_runningSaves{0};

std::uint64_t drawTicket()
{
    std::lock_guard<std::mutex> hold(g_saveLock);
    return g_nextTicket++;
}

std::string failureText(const SettingsWriteResult& result)
{
    std::string text;
    switch (result.error) {
    case SettingsWriteError::None: break;
    case SettingsWriteError::InvalidText: text = "内容无法写入设置文件"; break;
    case SettingsWriteError::Unreadable: text = "无法读取 " + result.path; break;
    case SettingsWriteError::CannotWrite: text = "无法写入 " + result.path; break;
    }
    if (!result.detail.empty())
        text += " (" + result.detail + ")";
    return text;
}

// Writes the history with entry to the settings file and, once it is there, makes it the memory
// copy. A damaged history in the way is kept aside first, so that nothing is lost unseen.
void writeHistory(const HistoryEntry& entry)
{
    const std::string previous = historyText();
    const std::optional<std::string> text = historyWithEntry(previous, entry);
    if (!text)
        return;
    SettingsWriteResult result;
    if (isDamagedHistory(previous))
        result = storeSetting(kHistorySection, kDamagedHistoryKey, previous);
    if (result.ok())
        result = storeSetting(kHistorySection, kHistoryKey, *text);
    if (!result.ok()) {
        logStatus("观看历史保存失败: " + failureText(result));
        return;
    }
    setHistoryText(*text);
}

void saveInTurn(std::uint64_t ticket, const HistoryEntry& entry)
{
    std::unique_lock<std::mutex> hold(g_saveLock);
    g_saveTurn.wait(hold, [ticket] { return g_serving == ticket; });
    writeHistory(entry);
    ++g_serving;
    g_saveTurn.notify_all();
}

std::mutex g_resumeLock;
std::string g_resumeUrl;
std::string g_resumeM3u8;
std::string g_resumeName;
std::string g_resumeLabel;
int g_resumeSeconds = 0;

std::mutex g_playingLock;
std::string g_playingSeries;

std::string index(int i)
{
    return std::to_string(i);
}

// The entry of history named name (and with URL url, unless url is empty): its index, or -1.
int findEntry(const JsonDocument& doc, const std::string& name, const std::string& url)
{
    const int n = doc.count("data");
    for (int i = 0; i < n; ++i) {
        const std::string at = "data[" + index(i) + "].";
        if (doc.getText(at + "名") == name && (url.empty() || doc.getText(at + "URL") == url))
            return i;
    }
    return -1;
}

int positionAt(const JsonDocument& doc, int i)
{
    return i < 0 ? 0 : textToInt(doc.getText("data[" + index(i) + "].秒"));
}

} // namespace

bool isDamagedHistory(const std::string& history)
{
    if (history.find_first_not_of(" \t\r\n") == std::string::npos)
        return false;
    JsonDocument doc;
    doc.parse(history);
    return doc.typeOf("data") != 5;
}

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
    doc.set(at + "['秒']", std::to_string(entry.seconds < 0 ? 0 : entry.seconds), true);
    return doc.text();
}

int storedPosition(const std::string& history, const std::string& name, const std::string& url)
{
    JsonDocument doc;
    doc.parse(history);
    return positionAt(doc, findEntry(doc, name, url));
}

void saveHistory(const HistoryEntry& entry)
{
    saveInTurn(drawTicket(), entry);
}

void setPlayingSeries(const std::string& name)
{
    std::lock_guard<std::mutex> hold(g_playingLock);
    g_playingSeries = name;
}

std::string playingSeries()
{
    std::lock_guard<std::mutex> hold(g_playingLock);
    return g_playingSeries;
}

void startHistorySave(int seconds)
{
    gui::assertGuiThread();
    const PlayingEpisode playing = playbackState.episode();
    HistoryEntry entry{playingSeries(), playing.currentLabel, episodeAddress(playing.currentUrl),
                       playing.currentM3u8, seconds};
    const std::uint64_t ticket = drawTicket();
    ++g_runningSaves;
    // Worker thread: the save itself (settings file and historyText only, no widgets).
    std::thread([ticket, entry = std::move(entry)] {
        saveInTurn(ticket, entry);
        --g_runningSaves;
    }).detach();
}

void startHistorySave(MainForm& form)
{
    gui::assertGuiThread();
    setPlayingSeries(form.透明标签_标题->text().toStdString());
    startHistorySave(0);
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
        if (const int position = positionAt(doc, i); position > 0)
            row->setText(2, QString::fromStdString("看到 " + minutesSeconds(position)));
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
    // The entry the row was made from (the list was filled from historyText): its episode label
    // and position.
    JsonDocument doc;
    doc.parse(historyText());
    const int entry = findEntry(doc, name, url);
    {
        std::lock_guard<std::mutex> hold(g_resumeLock);
        g_resumeUrl = url;
        g_resumeM3u8 = m3u8;
        g_resumeName = name;
        g_resumeLabel = entry < 0 ? std::string() : doc.getText("data[" + index(entry) + "].集");
        g_resumeSeconds = positionAt(doc, entry);
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

std::string minutesSeconds(int seconds)
{
    if (seconds < 0)
        seconds = 0;
    const int minutes = seconds / 60;
    const int rest = seconds % 60;
    return (minutes < 10 ? "0" : "") + std::to_string(minutes) + ":" + (rest < 10 ? "0" : "") +
           std::to_string(rest);
}

bool resumePending()
{
    return !resumeUrl().empty() &&
           playbackState.pendingAction.load() == static_cast<int>(PendingAction::ResumeRequested);
}

bool startResume(MainForm& form)
{
    std::string url;
    std::string m3u8;
    std::string name;
    std::string label;
    int position = 0;
    {
        std::lock_guard<std::mutex> hold(g_resumeLock);
        url = g_resumeUrl;
        m3u8 = g_resumeM3u8;
        name = g_resumeName;
        label = g_resumeLabel;
        position = g_resumeSeconds;
    }
    form.编辑框_状态->clear();
    startPlayListBuild(form);
    playbackState.pendingAction = static_cast<int>(PendingAction::Starting);
    logStatus("正在自动续播上次视频");
    const std::string endpoint = playerPageEndpoint();
    if (osVersion() < kOsVersionWithBrowser) {
        openInDefaultBrowser(m3u8.empty() ? url : endpoint + m3u8);
        return true;
    }
    PlayerServices& services = playerServices();
    if (!services.hasBrowserRuntime || services.hasBrowserRuntime() == 0) {
        form.透明标签_简介->setText(QStringLiteral("未安装 webview2组件 , 将以默认浏览器方式打开"));
        openInDefaultBrowser(playsOnPlayerPage(url) && !m3u8.empty() ? endpoint + m3u8 : url);
        return true;
    }
    // Entries saved by older versions may already carry the prefix: it is put in front once.
    const std::string current = playsOnPlayerPage(url) ? endpoint + episodeAddress(url) : url;
    // The resumed episode becomes the playing one as a whole, so that the position saves made
    // while it plays record it under its own series, label and addresses.
    playbackState.setEpisode({current, m3u8, label});
    setPlayingSeries(name);
    armResumeSeek(position);
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
