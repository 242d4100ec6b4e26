#include "playback/history.h"

#include "app/program_values.h"
#include "app/settings_store.h"
#include "app/status_log.h"
#include "catalogue/catalogue_browsing.h"
#include "net/json_document.h"
#include "platform/os_version.h"
#include "playback/episode_list.h"
#include "playback/play_list.h"
#include "playback/playback_state.h"
#include "playback/player_controller.h"
#include "playback/player_endpoints.h"
#include "playback/watch_position.h"
#include "util/gui_call.h"
#include "util/text_number.h"

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

void startSeriesHistorySave(const std::string& seriesTitle)
{
    gui::assertGuiThread();
    setPlayingSeries(seriesTitle);
    startHistorySave(0);
}

int runningHistorySaves()
{
    return g_runningSaves.load();
}

std::vector<CatalogueItem> historyRows()
{
    const std::string text = readSetting(kHistorySection, kHistoryKey);
    setHistoryText(text);
    JsonDocument doc;
    doc.parse(text);
    const int n = doc.count("data");
    std::vector<CatalogueItem> rows;
    rows.reserve(static_cast<std::size_t>(n > 0 ? n : 0));
    for (int i = n - 1; i >= 0; --i) {
        const std::string at = "data[" + index(i) + "].";
        CatalogueItem row;
        row.title = doc.getText(at + "名");
        row.typeName = doc.getText(at + "集") + "集";
        if (const int position = positionAt(doc, i); position > 0)
            row.blurb = "看到 " + minutesSeconds(position);
        row.historyUrl = doc.getText(at + "URL");
        row.historyM3u8 = doc.getText(at + "m3u8");
        rows.push_back(std::move(row));
    }
    return rows;
}

void showHistory(CatalogueBrowser& listing)
{
    gui::assertGuiThread();
    std::vector<CatalogueItem> rows = historyRows();
    const std::string count = std::to_string(rows.size());
    listing.showListing(std::move(rows), count, "1");
    logStatus("载入播放历史记录完成,点击列表可自动续播");
}

void requestResume(const std::string& name, const std::string& url, const std::string& m3u8,
                   const std::function<void(const std::string& name)>& search)
{
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
        search(name);
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

bool startResume(SeriesView& view, const std::string& seriesTitle)
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
    view.clearStatusLog();
    startPlayListBuild(seriesTitle);
    playbackState.pendingAction = static_cast<int>(PendingAction::Starting);
    logStatus("正在自动续播上次视频");
    const std::string endpoint = playerPageEndpoint();
    if (osVersion() < kOsVersionWithBrowser) {
        openInDefaultBrowser(m3u8.empty() ? url : endpoint + m3u8);
        return true;
    }
    PlayerServices& services = playerServices();
    if (!services.hasBrowserRuntime || services.hasBrowserRuntime() == 0) {
        view.setBlurb("未安装 webview2组件 , 将以默认浏览器方式打开");
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
