#pragma once
// The download run: one checked row after the other, its playlist fetched and read, its segments
// handed out at the run's pace, awaited and merged into one file.

#include "download/download_view.h"
#include "download/episode_folder.h"
#include "download/segment_transfer.h"

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <string>

// The series folder name (set when the download window opens).
std::string seriesFolder();
void setSeriesFolder(const std::string& name);

// Pace of the segment submissions: 配置项 下载间隔 (ms between two submissions, 300 when missing)
// and 下载并发 (most transfers at once, 0 = none set by the user, the default).
struct DownloadPace {
    int intervalMs = 300;
    int maxConcurrent = 0;
};
DownloadPace readDownloadPace();

// The cap on segments in flight when the user sets none: a long playlist at 下载间隔 = 0 would
// otherwise start every segment's threads and connections at once.
inline constexpr int kBuiltInConcurrency = 32;
// The most segments of an episode in flight at once: 下载并发, or the built-in cap for 0.
int segmentsInFlightCap(const DownloadPace& pace);

// A playlist answer: the body and whether a 2xx answer arrived. cookieFile: the browser's cookies
// in the Netscape cookie-file form (DownloadView::cookieText). cancelled is checked while the
// fetch runs (the run's abort); the fetch ends soon after it answers true.
using PlaylistFetcher = std::function<FetchResult(
    const std::string& url, const std::string& cookieFile, const std::function<bool()>& cancelled)>;

struct DownloadSettings {
    std::string downloadRoot; // the "下载目录" folder, without a trailing separator
    DownloadPace pace;
    int connectTimeoutMs = 30000;
    int stallTimeoutMs = 30000;
    int retries = 3;         // further attempts of a failed segment
    int retryPauseMs = 1000; // the pause before retry k is k times this
    // A transfer slower than lowSpeedBytes per second for lowSpeedSeconds fails (and is retried).
    int lowSpeedBytes = 1024;
    int lowSpeedSeconds = 15;
    // Once every segment is handed out, a transfer running tailFactor times longer than the median
    // segment took (and at least tailMinMs) is issued once more; the first copy to finish wins.
    int tailFactor = 4;
    int tailMinMs = 3000;
    std::string caFile;            // a PEM bundle trusted besides the system store (证书文件)
    PlaylistFetcher fetchPlaylist; // empty: fetchPlaylistPage with caFile
    // The full title of the series: its folder is the one recorded for it (series_folder.h).
    // Without one the folder is seriesFolder() as it was set.
    std::optional<std::string> seriesTitle;
};

// The download root under the program folder, and the settings of the next run (pace and
// 证书文件 from the settings file).
std::string downloadRootFolder();
DownloadSettings currentDownloadSettings();

// The name of the series folder of settings: the folder recorded for its title (found, not made),
// or seriesFolder() without a title.
std::string seriesFolderOf(const DownloadSettings& settings);

// Makes sure the download root and the series folder exist: for a title, the folder recorded for
// it is claimed and becomes seriesFolder(). Logs "创建下载目录" and "创建目录: " + the folder name
// on the status log once a folder it made is there, and a failure line with the reason when one
// cannot be made. The series folder's name, or nothing when it is not there.
std::optional<std::string> prepareDownloadFolders(DownloadView& view,
                                                  const DownloadSettings& settings);

// The playlist fetch of the run: GET with the run's user agent through fetchPage, the browser's
// cookies (Netscape cookie-file lines) handed to libcurl's cookie engine, so that each request
// carries only the cookies of its own host and path, of at most kPlaylistBodyLimit bytes; ok only
// for a whole 2xx answer. It ends within about a second of cancelled answering true.
FetchResult fetchPlaylistPage(const std::string& url, const std::string& cookieFile,
                              const TransferPolicy& policy = {},
                              const std::function<bool()>& cancelled = {});

// How a run ended: the segment tasks still registered with its scheduler (0: every transfer it
// started had ended before it returned).
struct RunEnd {
    size_t tasksLeft = 0;
};

// Each run (or re-merge) is an object of its own: the rows copied from the view when it starts,
// its own abort flag and the scheduler of its segments. One goes at a time; it is the one
// 超级按钮_中止 (requestAbort) reaches.

// Starts runDownloadJobs on a background thread. False, starting nothing, while a run or a merge
// started by startRemerge is going.
bool startDownloadRun(std::shared_ptr<DownloadView> view, DownloadSettings settings);
// Starts the merge again, on a background thread, of every row whose episode folder holds
// segment files. False while a run is going.
bool startRemerge(std::shared_ptr<DownloadView> view, DownloadSettings settings);
// 超级按钮_中止: asks the run going to stop and ends its transfers in flight; nothing when none
// goes (a later run is not stopped by it).
void requestAbort();
// Whether a run or a re-merge is going.
bool downloadRunActive();
// Waits until no run is going (true) or the time is up (false). On the GUI thread it keeps
// dispatching events, so the run's queued window writes can proceed.
bool waitForDownloadRun(int timeoutMs);

// The run itself, on the calling thread (startDownloadRun calls it on its own thread).
RunEnd runDownloadJobs(const std::shared_ptr<DownloadView>& view, const DownloadSettings& settings);

// The merge again of every row whose episode folder holds segment files, on the calling thread.
RunEnd remergeEpisodes(const std::shared_ptr<DownloadView>& view, const DownloadSettings& settings);
