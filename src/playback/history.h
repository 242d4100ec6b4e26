#pragma once
// The watch history: one entry per series with the episode last started and its two addresses,
// kept as the JSON text historyText() ({"data":[{"名","集","URL","m3u8","秒"}, …]}, oldest first)
// and stored in [观看历史] 数据 of "数据.ini". Also the resume of a history row.

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "catalogue/catalogue_client.h"

class CatalogueBrowser;
class SeriesView;

struct HistoryEntry {
    std::string name;  // 名: the series of the episode
    std::string label; // 集: the episode label
    std::string url;   // URL: the episode's own address (no player-page prefix)
    std::string m3u8;  // m3u8
    int seconds = 0;   // 秒: the elapsed whole seconds of the episode when it was saved
};

// At most this many entries after a save.
inline constexpr int kHistoryLimit = 100;

// The history text after saving entry into history: an earlier entry of the same name (exact
// comparison) is removed, the oldest entry goes when 100 would be exceeded, and the entry is
// appended. A history that does not parse starts a new list. nullopt when entry.name is empty.
std::optional<std::string> historyWithEntry(const std::string& history, const HistoryEntry& entry);

// Whether history holds something that does not read as a history (an object whose "data" is a
// list): a damaged or cut text, or another value. The empty or blank text does not count.
bool isDamagedHistory(const std::string& history);

// Where a save keeps a damaged stored history before it writes a new one over it: the key
// "数据.bak" beside "数据" in section 观看历史.
inline constexpr const char* kHistorySection = "观看历史";
inline constexpr const char* kHistoryKey = "数据";
inline constexpr const char* kDamagedHistoryKey = "数据.bak";

// The stored position ("秒") of the entry named name in history, when its URL is url (any URL when
// url is empty); 0 when there is no such entry or it has no position.
int storedPosition(const std::string& history, const std::string& name,
                   const std::string& url = {});

// Saves entry: applies it to the latest historyText(), writes the result to the settings file and
// makes it the new historyText(). A damaged historyText() (isDamagedHistory) is first kept under
// kDamagedHistoryKey. A write that fails leaves historyText() as it was and logs
// "观看历史保存失败: " with the reason. Saves run one at a time and in the order they were started
// (startHistorySave included), so none loses another's entry and an older position never
// overwrites a newer one. Any thread.
void saveHistory(const HistoryEntry& entry);

// The series of the playing episode: the name history saves are made under, set when an episode
// or a resume starts (the title shown may change to another series meanwhile). Any thread.
void setPlayingSeries(const std::string& name);
std::string playingSeries();

// Saves the playing episode (one consistent copy of the playback state, taken now) under the
// playing series, with the given position, on a new detached worker thread. GUI thread.
void startHistorySave(int seconds = 0);
// An episode starts from the grid: the series shown becomes the playing series, and the episode
// is saved under it (position 0). GUI thread.
void startSeriesHistorySave(const std::string& seriesTitle);
// History saves started and not yet finished.
int runningHistorySaves();

// The stored history (the key 数据 of section 观看历史, read now and made the new historyText()) as
// rows of the series list, newest first: name, episode label + "集", "看到 mm:ss" when a
// position is stored, and the two addresses.
std::vector<CatalogueItem> historyRows();

// Handler of 图形按钮_历史: historyRows() in the series list, through the catalogue's listing
// (the newest request of the series list), then the log line. GUI thread.
void showHistory(CatalogueBrowser& listing);

// A history row was opened: searches the catalogue for its series (search(name) fills the search
// box and runs the search button's action) and marks the resume as requested. The entry's stored
// position is kept for the resume.
void requestResume(const std::string& name, const std::string& url, const std::string& m3u8,
                   const std::function<void(const std::string& name)>& search);
// Whether a resume waits for the next series row (resume address set, ResumeRequested).
bool resumePending();
// After a catalogue series (seriesTitle) is laid out in view: plays the stored episode. Returns
// true when it ended the series-row handler early (default-browser fallbacks).
bool startResume(SeriesView& view, const std::string& seriesTitle);
std::string resumeUrl();
std::string resumeM3u8();
// "mm:ss" for a number of seconds (minutes beyond 59 stay minutes: 75:03).
std::string minutesSeconds(int seconds);
