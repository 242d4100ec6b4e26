#include "download/download_run.h"

#include "app/paths.h"
#include "app/settings_store.h"
#include "app/transfer_settings.h"
#include "download/download_text.h"
#include "download/fetch_page.h"
#include "download/hls_playlist.h"
#include "download/merge_segments.h"
#include "download/segment_scheduler.h"
#include "download/series_folder.h"
#include "util/marker_text.h"
#include "util/text_number.h"
#include "util/utf8_path.h"

#include <QCoreApplication>
#include <QThread>

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <optional>
#include <sstream>
#include <thread>
#include <vector>

namespace fs = std::filesystem;

class DownloadRun;

namespace {

// The series folder is set on the GUI thread and read by the run thread.
std::mutex seriesMutex;
std::string seriesFolderName;

// One run (or re-merge) at a time: the one going, which 超级按钮_中止 reaches.
std::mutex runMutex;
std::condition_variable runEnded;
std::shared_ptr<DownloadRun> activeRun;

std::string trimLineEnd(std::string s)
{
    while (!s.empty() && (s.back() == '\r' || s.back() == '\n' || s.back() == ' '))
        s.pop_back();
    return s;
}

std::string segmentName(const std::string& url)
{
    std::string name = textAfterLast(trimLineEnd(url), "/");
    return name.empty() ? trimLineEnd(url) : name;
}

void endRun(const std::shared_ptr<DownloadRun>& run)
{
    // Notified under the lock, so a waiter that ends the program next finds nothing in use.
    std::lock_guard lock(runMutex);
    if (activeRun == run)
        activeRun.reset();
    runEnded.notify_all();
}

bool claimRun(const std::shared_ptr<DownloadRun>& run)
{
    std::lock_guard lock(runMutex);
    if (activeRun)
        return false;
    activeRun = run;
    return true;
}

} // namespace

// One row of the episode list as it was when the run started.
struct RowJob {
    bool checked = false;
    std::string episode; // the 集数 cell
    std::string address; // the 地址 cell: the playlist
};

// One run (or re-merge): the rows copied from the view when it starts, its own abort flag, and
// the scheduler of its segments. Shared by the run thread and the segment threads of its
// episodes; 超级按钮_中止 reaches it through abort().
class DownloadRun {
public:
    DownloadRun(std::shared_ptr<DownloadView> v, DownloadSettings s)
            : view(std::move(v)), settings(std::move(s))
    {}

    const std::shared_ptr<DownloadView> view;
    const DownloadSettings settings;
    SegmentScheduler scheduler;
    std::vector<RowJob> rows;

    // Copies the rows of the view (on the run's thread, as it starts).
    void copyRows()
    {
        const int count = view->rowCount();
        rows.clear();
        for (int r = 0; r < count; ++r)
            rows.push_back(RowJob{view->rowChecked(r), view->cellText(r, kColumnEpisode),
                                  view->cellText(r, kColumnAddress)});
    }

    // Asks the run to stop: pauses end, waits for room or for segments wake, the transfers in
    // flight end and none starts from now on.
    void abort();
    bool aborted() const { return aborted_.load(); }
    // Waits ms, or less when the run is aborted first; false when it is.
    bool pause(int ms)
    {
        std::unique_lock lock(mutex_);
        woken_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return aborted_.load(); });
        return !aborted_.load();
    }
    // The episode being fetched, woken by an abort.
    void setEpisode(const std::shared_ptr<EpisodeRun>& episode)
    {
        std::lock_guard lock(mutex_);
        episode_ = episode;
    }

private:
    std::atomic<bool> aborted_{false};
    std::mutex mutex_;
    std::condition_variable woken_;
    std::weak_ptr<EpisodeRun> episode_;
};

struct SegmentJob {
    std::string url;
    std::string path; // the segment file
    std::string dir;  // the folder it lies in, whose sources record names it
    int number = 0;   // its number within that folder
    TransferOptions options;
    std::string source; // what the file is made from, as the sources record names it
};

struct EpisodeRun {
    std::shared_ptr<DownloadRun> owner;
    std::shared_ptr<DownloadView> view;
    DownloadSettings settings;
    int row = 0;
    std::string folder; // episode folder
    std::vector<SegmentJob> jobs;

    std::mutex mutex;
    std::condition_variable changed;
    int submitted = 0;              // segments handed out
    int finished = 0;               // segments whose routine has ended, whatever the outcome
    int running = 0;                // segments being fetched now
    std::vector<int> failed;        // segment numbers that did not arrive
    std::vector<int> undecryptable; // segment numbers whose answer would not decrypt
    bool allSubmitted = false;  // every segment has been handed out: what still runs is the tail
    std::vector<double> tookMs; // how long each arrived transfer took
    // The most segments in flight, and transfers with the tail's second copies counted too.
    int cap = kBuiltInConcurrency;
    int extraCopies = 0;            // second copies of slow tail segments now running
    std::atomic<int> downloaded{0}; // segments that arrived whole

    std::mutex recordMutex; // one writer of the sources record at a time

    void segmentEnded(int index, bool ok, bool decryptFailed = false)
    {
        {
            std::lock_guard lock(mutex);
            ++finished;
            --running;
            if (!ok)
                failed.push_back(index);
            if (decryptFailed)
                undecryptable.push_back(index);
        }
        changed.notify_all();
    }

    // Wakes the run thread's waits (an abort).
    void wake()
    {
        {
            std::lock_guard lock(mutex);
        }
        changed.notify_all();
    }

    int submittedSoFar()
    {
        std::lock_guard lock(mutex);
        return submitted;
    }

    void transferTook(double ms)
    {
        std::lock_guard lock(mutex);
        tookMs.push_back(ms);
    }

    // Whether a transfer running for ms is slow enough, among its peers, to be issued again.
    bool isSlowTail(double ms)
    {
        std::lock_guard lock(mutex);
        if (!allSubmitted || tookMs.size() < 3 || ms < settings.tailMinMs)
            return false;
        std::vector<double> sorted = tookMs;
        auto mid = sorted.begin() + static_cast<std::ptrdiff_t>(sorted.size() / 2);
        std::nth_element(sorted.begin(), mid, sorted.end());
        return ms > *mid * settings.tailFactor;
    }

    // A second copy of a slow segment runs only while the transfers in flight stay within the cap.
    bool claimExtraCopy()
    {
        std::lock_guard lock(mutex);
        if (running + extraCopies >= cap)
            return false;
        ++extraCopies;
        return true;
    }
    void releaseExtraCopy()
    {
        {
            std::lock_guard lock(mutex);
            --extraCopies;
        }
        changed.notify_all();
    }

    // Adds "index<TAB>source" to the record once segment index has arrived.
    void recordSource(int index)
    {
        std::lock_guard lock(recordMutex);
        const SegmentJob& job = jobs[index - 1];
        std::ofstream out(utf8Path(job.dir + pathSeparator() + kSegmentSourcesName),
                          std::ios::binary | std::ios::app);
        out << job.number << '\t' << job.source << '\n';
    }
};

void DownloadRun::abort()
{
    {
        std::lock_guard lock(mutex_);
        aborted_ = true;
    }
    woken_.notify_all();
    scheduler.stopAll();
    std::shared_ptr<EpisodeRun> episode;
    {
        std::lock_guard lock(mutex_);
        episode = episode_.lock();
    }
    if (episode)
        episode->wake();
}

std::string seriesFolder()
{
    std::lock_guard lock(seriesMutex);
    return seriesFolderName;
}

void setSeriesFolder(const std::string& name)
{
    std::lock_guard lock(seriesMutex);
    seriesFolderName = name;
}

int segmentsInFlightCap(const DownloadPace& pace)
{
    return pace.maxConcurrent > 0 ? pace.maxConcurrent : kBuiltInConcurrency;
}

DownloadPace readDownloadPace()
{
    DownloadPace pace;
    std::string interval = readSetting("配置项", "下载间隔");
    std::string cap = readSetting("配置项", "下载并发");
    if (!interval.empty())
        pace.intervalMs = std::max(0, static_cast<int>(textToInt(interval)));
    if (!cap.empty())
        pace.maxConcurrent = std::max(0, static_cast<int>(textToInt(cap)));
    return pace;
}

std::string downloadRootFolder()
{
    return writableProgramFolder() + pathSeparator() + "下载目录";
}

DownloadSettings currentDownloadSettings()
{
    DownloadSettings s;
    s.downloadRoot = downloadRootFolder();
    s.pace = readDownloadPace();
    s.caFile = transferPolicyFromSettings().caFile;
    return s;
}

namespace {

// Why a folder is not there, as the logs say it.
std::string folderFailure(const FolderOutcome& outcome)
{
    switch (outcome.error) {
    case FolderError::FileInTheWay: return "已有同名文件";
    case FolderError::NoPermission: return "没有权限";
    case FolderError::None:
    case FolderError::Other: break;
    }
    return outcome.detail.empty() ? "未知原因" : outcome.detail;
}

} // namespace

std::string seriesFolderOf(const DownloadSettings& settings)
{
    return settings.seriesTitle
               ? findSeriesFolder(settings.downloadRoot, *settings.seriesTitle).name
               : seriesFolder();
}

std::optional<std::string> prepareDownloadFolders(DownloadView& view,
                                                  const DownloadSettings& settings)
{
    const FolderOutcome root = ensureDirectory(settings.downloadRoot, true);
    if (!root.exists) {
        view.appendLog("无法创建下载目录 " + settings.downloadRoot + " (" + folderFailure(root) +
                           ")",
                       kStatusLog);
        return std::nullopt;
    }
    if (root.created)
        view.appendLog("创建下载目录", kStatusLog);
    std::string series;
    FolderOutcome folder;
    if (settings.seriesTitle) {
        const SeriesFolder claimed =
            claimSeriesFolder(settings.downloadRoot, *settings.seriesTitle);
        series = claimed.name;
        folder = claimed.folder;
        if (folder.exists)
            setSeriesFolder(series);
    } else {
        series = seriesFolder();
        folder = ensureDirectory(settings.downloadRoot + pathSeparator() + series, false);
    }
    if (folder.created)
        view.appendLog("创建目录: " + series, kStatusLog);
    if (!folder.exists) {
        view.appendLog("无法创建目录: " + series + " (" + folderFailure(folder) + ")", kStatusLog);
        return std::nullopt;
    }
    if (folder.error != FolderError::None) {
        // Without the record another title could take the folder for its own.
        view.appendLog("无法在目录 " + series + " 中记下剧名 (" + folderFailure(folder) + ")",
                       kStatusLog);
        return std::nullopt;
    }
    return series;
}

FetchResult fetchPlaylistPage(const std::string& url, const std::string& cookieFile,
                              const TransferPolicy& policy, const std::function<bool()>& cancelled)
{
    FetchResult out;
    std::string headers;
    FetchPageOptions options;
    options.method = 0;
    options.cookieFile = cookieFile;
    options.policy = policy;
    options.failure = &out.failure;
    options.returnedHeaders = &headers;
    options.effectiveUrl = &out.url;
    // A playlist server that trickles bytes fails like a slow segment does, so no episode waits on
    // its playlist for ever.
    const DownloadSettings defaults;
    options.lowSpeedBytes = defaults.lowSpeedBytes;
    options.lowSpeedSeconds = defaults.lowSpeedSeconds;
    options.maxBodyBytes = kPlaylistBodyLimit;
    options.bodyLimitHit = &out.limitHit;
    options.cancelled = cancelled;
    out.body = fetchPage(trimLineEnd(url), options);
    // The status of the last answer (after redirects) is the last "HTTP/" status line.
    size_t at = headers.rfind("HTTP/");
    while (at != std::string::npos && at > 0 && headers[at - 1] != '\n')
        at = at == 0 ? std::string::npos : headers.rfind("HTTP/", at - 1);
    if (at != std::string::npos) {
        size_t space = headers.find(' ', at);
        if (space != std::string::npos)
            out.status = textToInt(std::string_view(headers).substr(space + 1, 3));
    }
    out.ok = out.status >= 200 && out.status <= 299;
    if (!out.ok) {
        if (!out.failure && out.status != 0)
            out.failure = httpStatusError(nullptr, out.status);
        out.body.clear();
    }
    return out;
}

namespace {

// One attempt at a segment. While it runs as part of the tail of the episode and takes much longer
// than its peers took, a second copy of it is issued; the first copy to finish whole wins and
// the other is stopped. Every copy has ended when this returns.
SegmentResult fetchSegment(EpisodeRun& run, const std::string& url, const std::string& path,
                           const TransferOptions& options)
{
    struct Race {
        std::mutex mutex;
        std::condition_variable changed;
        std::vector<std::optional<SegmentResult>> results;
    };
    auto race = std::make_shared<Race>();
    std::vector<std::shared_ptr<std::atomic<bool>>> cancels;
    // Gives the second copy's place back once every copy has ended (each return below).
    struct CopyClaim {
        EpisodeRun& run;
        bool held = false;
        ~CopyClaim()
        {
            if (held)
                run.releaseExtraCopy();
        }
    } copyClaim{run};
    const auto began = std::chrono::steady_clock::now();
    auto launch = [&](size_t copy) {
        TransferOptions o = options;
        o.cancel = std::make_shared<std::atomic<bool>>(false);
        o.partSuffix = copy == 0 ? ".part" : ".copy" + std::to_string(copy) + ".part";
        cancels.push_back(o.cancel);
        {
            std::lock_guard lock(race->mutex);
            race->results.emplace_back();
        }
        submitSegment(run.owner->scheduler, url, path, 0, o, [race, copy](const SegmentResult& r) {
            std::lock_guard lock(race->mutex);
            race->results[copy] = r;
            race->changed.notify_all();
        });
    };
    launch(0);

    std::unique_lock lock(race->mutex);
    for (;;) {
        std::optional<size_t> winner;
        bool allEnded = true;
        for (size_t i = 0; i < race->results.size(); ++i) {
            if (!race->results[i])
                allEnded = false;
            else if (race->results[i]->outcome == TransferOutcome::Completed && !winner)
                winner = i;
        }
        if (winner) {
            for (size_t i = 0; i < cancels.size(); ++i)
                if (i != *winner)
                    cancels[i]->store(true);
            // The stopped copies end at their next progress call; wait for them, so no file of
            // theirs is still being written when the merge starts.
            race->changed.wait(lock, [&] {
                return std::all_of(race->results.begin(), race->results.end(),
                                   [](const auto& r) { return r.has_value(); });
            });
            run.transferTook(
                std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - began)
                    .count());
            return *race->results[*winner];
        }
        if (allEnded)
            return *race->results[0];
        race->changed.wait_for(lock, std::chrono::milliseconds(100));
        const double ms =
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - began)
                .count();
        if (race->results.size() == 1 && !run.owner->aborted()) {
            lock.unlock();
            const bool slow = run.isSlowTail(ms) && run.claimExtraCopy();
            if (slow) {
                copyClaim.held = true;
                run.view->appendLog("重新提交 " + textAfterLast(path, pathSeparator()) +
                                        " (比其他分段慢)",
                                    kStatusLog);
                launch(1);
            }
            lock.lock();
        }
    }
}

} // namespace

void downloadSegment(const std::shared_ptr<EpisodeRun>& run, const std::string& episode,
                     const std::string& segmentUrl, const std::string& segmentIndex)
{
    (void)episode;
    const int index = textToInt(segmentIndex);
    DownloadView& view = *run->view;
    const std::string name = segmentName(segmentUrl);
    if (run->owner->aborted()) {
        run->segmentEnded(index, false);
        return;
    }
    const SegmentJob& job = run->jobs[index - 1];
    const std::string& path = job.path;
    std::error_code ec;
    // A file under the segment's own name is always whole (transfers write aside, then rename).
    // One left by an earlier run is still here only when the sources record says it came from
    // this segment's source (the others went when the episode started).
    bool ok = fs::is_regular_file(utf8Path(path), ec) && fs::file_size(utf8Path(path), ec) > 0;
    bool undecryptable = false;
    std::string reason;
    for (int attempt = 0; !ok && attempt <= run->settings.retries; ++attempt) {
        if (attempt > 0 && !run->owner->pause(run->settings.retryPauseMs * attempt))
            break;
        SegmentResult r = fetchSegment(*run, segmentUrl, path, job.options);
        ok = r.outcome == TransferOutcome::Completed;
        reason = segmentFailureText(r.failure);
        if (ok)
            run->recordSource(index);
        // An answer that would not decrypt, or that went past its limit, comes back the same
        // however often it is asked for.
        undecryptable = !ok && r.decryptFailed();
        if (undecryptable || r.overLimit() || r.outcome == TransferOutcome::Stopped ||
            run->owner->aborted())
            break;
    }
    if (ok) {
        int done = run->downloaded.fetch_add(1) + 1;
        view.setProgressValue(2, done);
        view.appendLog("已下载 " + std::to_string(done) + " / " +
                           std::to_string(run->submittedSoFar()) + " = " + name,
                       kMergeLog);
        view.setCellText(run->row, kColumnDownloaded, std::to_string(done));
    } else {
        // The file as the merge names it: "4.ts", or "audio/2.ts" for an audio rendition's.
        const std::string file =
            path.substr(std::min(path.size(), run->folder.size() + pathSeparator().size()));
        view.appendLog("下载失败 " + file + " (" + (reason.empty() ? "已中止" : reason) +
                           ") = " + name,
                       kMergeLog);
    }
    run->segmentEnded(index, ok, undecryptable);
}

namespace {

// Where a segment file is made from: its URI, byte range and key, so a file is only taken again
// for the very same bytes.
std::string segmentSource(const HlsSegment& seg, const HlsPlaylist& playlist)
{
    std::string source = trimLineEnd(seg.uri);
    if (!seg.range.whole())
        source +=
            " range=" + std::to_string(seg.range.offset) + "@" + std::to_string(seg.range.length);
    if (seg.keyIndex >= 0) {
        static const char* hex = "0123456789abcdef";
        std::string iv;
        for (uint8_t b : seg.iv) {
            iv += hex[b >> 4];
            iv += hex[b & 15];
        }
        source += " key=" + trimLineEnd(playlist.keys[seg.keyIndex].uri) + " iv=" + iv;
    }
    return source;
}

// Reads the sources record of an episode folder: segment number -> source (the last line of a
// number counts).
std::map<int, std::string> readSegmentSources(const std::string& folder)
{
    std::map<int, std::string> sources;
    std::ifstream in(utf8Path(folder + pathSeparator() + kSegmentSourcesName), std::ios::binary);
    std::string line;
    while (std::getline(in, line)) {
        const size_t tab = line.find('\t');
        if (tab == std::string::npos || tab == 0)
            continue;
        const std::string number = line.substr(0, tab);
        if (!std::all_of(number.begin(), number.end(), [](char c) { return c >= '0' && c <= '9'; }))
            continue;
        sources[textToInt(number)] = line.substr(tab + 1);
    }
    return sources;
}

// Keeps only the segment files of the folder that an earlier run made from the same source as
// this playlist's segment of that number; every other n.ts (another route, another series with
// the same folder name, a file from before the record existed) and every partial file goes.
// Then starts the record afresh with the playlist and the files kept. Returns how many were kept.
int keepOnlyMatchingSegments(const std::string& folder, const std::string& playlistUrl,
                             const std::vector<SegmentJob>& jobs)
{
    const std::map<int, std::string> before = readSegmentSources(folder);
    std::map<int, std::string> kept;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(utf8Path(folder), ec)) {
        const std::u8string file = entry.path().filename().u8string();
        const std::string name(file.begin(), file.end());
        if (name.size() > 5 && name.compare(name.size() - 5, 5, ".part") == 0) {
            fs::remove(entry.path(), ec);
            continue;
        }
        if (name.size() < 4 || name.compare(name.size() - 3, 3, ".ts") != 0)
            continue;
        const std::string number = name.substr(0, name.size() - 3);
        if (!std::all_of(number.begin(), number.end(), [](char c) { return c >= '0' && c <= '9'; }))
            continue;
        const int index = textToInt(number);
        auto was = before.find(index);
        if (index >= 1 && index <= static_cast<int>(jobs.size()) && was != before.end() &&
            was->second == jobs[index - 1].source && std::to_string(index) == number) {
            kept[index] = was->second;
        } else {
            fs::remove(entry.path(), ec);
        }
    }
    std::ostringstream record;
    record << "playlist\t" << trimLineEnd(playlistUrl) << '\n';
    for (const auto& [index, source] : kept)
        record << index << '\t' << source << '\n';
    const std::string path = folder + pathSeparator() + kSegmentSourcesName;
    {
        std::ofstream out(utf8Path(path + ".new"), std::ios::binary | std::ios::trunc);
        out << record.str();
    }
    fs::rename(utf8Path(path + ".new"), utf8Path(path), ec);
    return static_cast<int>(kept.size());
}

} // namespace

namespace {

// Reads the episode's playlist (following a master playlist to its best variant), fetches keys
// and initialisation sections, hands the segments out and waits for them. False when the episode
// could not be read, with its status cell set.
bool downloadEpisode(const std::shared_ptr<DownloadRun>& owner, int row, const std::string& episode,
                     const std::string& folder, int& undecryptable)
{
    const std::shared_ptr<DownloadView>& viewPtr = owner->view;
    const DownloadSettings& settings = owner->settings;
    DownloadView& view = *viewPtr;
    const std::string& address = owner->rows[static_cast<size_t>(row)].address;
    const TransferPolicy policy{settings.caFile};
    // 中止执行 ends a playlist fetch that is still going.
    const std::function<bool()> aborted = [owner] { return owner->aborted(); };
    auto fetch = [&](const std::string& url, const std::string& cookies) {
        return settings.fetchPlaylist ? settings.fetchPlaylist(url, cookies, aborted)
                                      : fetchPlaylistPage(url, cookies, policy, aborted);
    };
    auto fail = [&](const std::string& status, const std::string& line) {
        view.setCellText(row, kColumnStatus, status);
        view.appendLog(line, kStatusLog);
        return false;
    };
    // A playlist whose parse stopped: too many entries, or a byte range that cannot be.
    auto unusable = [&](const HlsPlaylist& list, const std::string& url) {
        const std::string limit = std::to_string(kMaxPlaylistEntries);
        switch (list.error) {
        case HlsError::None: break;
        case HlsError::TooManySegments:
            return fail("解析失败", "列表的分段超过 " + limit + " 个,已放弃: " + trimLineEnd(url));
        case HlsError::TooManyEntries:
            return fail("解析失败", "列表的条目超过 " + limit + " 个,已放弃: " + trimLineEnd(url));
        case HlsError::BadByteRange:
            return fail("解析失败",
                        "列表的字节范围无效: " + trimLineEnd(url) + " (" + list.errorDetail + ")");
        }
        return true;
    };
    // A playlist whose server's certificate did not verify is not used, and the row says why.
    auto listFailed = [&](const std::string& url, const FetchResult& answer) {
        if (answer.failure.kind == TransferFailure::Certificate)
            return fail("证书无效", certificateFailureText(answer.failure));
        return fail("解析失败",
                    "列表获取失败: " + trimLineEnd(url) + " (" + playlistFailureText(answer) + ")");
    };

    view.appendLog("解析" + address, kStatusLog);
    FetchResult page = fetch(address, view.cookieText());
    if (!page.ok)
        return listFailed(address, page);
    // Addresses in a playlist are relative to where it was answered from, after redirects.
    auto base = [](const FetchResult& answer, const std::string& asked) {
        return answer.url.empty() ? asked : answer.url;
    };
    HlsPlaylist playlist = parseHlsPlaylist(page.body, base(page, address));
    if (!playlist.valid)
        return fail("解析失败", "不是有效的m3u8列表: " + trimLineEnd(address));
    if (!unusable(playlist, address))
        return false;
    std::string audioUri; // a separate audio rendition the variant plays with
    if (playlist.master) {
        int best = bestVariant(playlist);
        if (best < 0)
            return fail("解析失败", "主列表中没有可用的码流: " + trimLineEnd(address));
        const int rendition = audioRendition(playlist, playlist.variants[best]);
        if (rendition >= 0)
            audioUri = playlist.renditions[rendition].uri;
        const std::string media = playlist.variants[best].uri;
        view.appendLog("解析" + media, kStatusLog);
        page = fetch(media, view.cookieText());
        if (!page.ok)
            return listFailed(media, page);
        playlist = parseHlsPlaylist(page.body, base(page, media));
        if (!playlist.valid || playlist.master)
            return fail("解析失败", "不是有效的m3u8列表: " + media);
        if (!unusable(playlist, media))
            return false;
    }
    // The audio rendition's own list, read like the media playlist; its segments are kept in a
    // folder of their own and go into the same file.
    const std::string audioFolder = folder + pathSeparator() + kAudioFolderName;
    HlsPlaylist audio;
    std::error_code audioEc;
    if (!audioUri.empty()) {
        view.appendLog("解析" + audioUri, kStatusLog);
        page = fetch(audioUri, view.cookieText());
        if (!page.ok)
            return listFailed(audioUri, page);
        audio = parseHlsPlaylist(page.body, base(page, audioUri));
        if (!audio.valid || audio.master || audio.segments.empty())
            return fail("解析失败", "不是有效的m3u8列表: " + audioUri);
        if (!unusable(audio, audioUri))
            return false;
        if (playlist.unsupportedMethod.empty())
            playlist.unsupportedMethod = audio.unsupportedMethod;
        fs::create_directory(utf8Path(audioFolder), audioEc);
    } else {
        // Audio segments of an earlier run whose variant had a separate rendition are not this
        // one's.
        fs::remove_all(utf8Path(audioFolder), audioEc);
    }
    if (!playlist.unsupportedMethod.empty())
        return fail("不支持加密", "第 " + episode + " 集的加密方式 " + playlist.unsupportedMethod +
                                      " 无法解密,已跳过");
    const int videoCount = static_cast<int>(playlist.segments.size());
    const int n = videoCount + static_cast<int>(audio.segments.size());
    if (videoCount == 0)
        return fail("无分段", "解析完成,共有 0 条TS");

    // Keys, fetched once per URI.
    std::map<std::string, std::string> keys;
    auto fetchKeys = [&](const HlsPlaylist& list) {
        for (const auto& seg : list.segments) {
            if (seg.keyIndex < 0)
                continue;
            const std::string& uri = list.keys[seg.keyIndex].uri;
            if (keys.count(uri))
                continue;
            FetchResult key = fetchBytes(uri, {}, settings.connectTimeoutMs,
                                         settings.stallTimeoutMs, aborted, kKeyBodyLimit, policy);
            if (key.limitHit)
                return fail("密钥错误", "密钥长度不是16字节: " + uri + " (" +
                                            transferFailureText(key.failure) + ")");
            if (!key.ok)
                return fail("密钥错误",
                            "密钥获取失败: " + uri + " (" + transferFailureText(key.failure) + ")");
            if (key.body.size() != 16)
                return fail("密钥错误", "密钥长度不是16字节: " + uri + " (" +
                                            std::to_string(key.body.size()) + " 字节)");
            keys[uri] = key.body;
        }
        return true;
    };
    if (!fetchKeys(playlist) || !fetchKeys(audio))
        return false;
    // Initialisation sections, kept beside the segments they serve.
    auto saveMaps = [&](const HlsPlaylist& list, const std::string& dir,
                        std::vector<std::string>& mapFiles) {
        mapFiles.assign(list.maps.size(), {});
        for (const auto& seg : list.segments) {
            if (seg.mapIndex < 0 || !mapFiles[seg.mapIndex].empty())
                continue;
            const HlsMap& map = list.maps[seg.mapIndex];
            const std::string file = "map" + std::to_string(seg.mapIndex + 1) + ".mp4";
            FetchResult body = fetchBytes(map.uri, map.range, settings.connectTimeoutMs,
                                          settings.stallTimeoutMs, aborted, kMapBodyLimit, policy);
            if (!body.ok || body.body.empty())
                return fail("解析失败", "初始化分段获取失败: " + map.uri + " (" +
                                            transferFailureText(body.failure) + ")");
            const std::string path = dir + pathSeparator() + file;
            UniqueFile f = openUtf8File(path + ".part", "wb");
            bool written = f && std::fwrite(body.body.data(), 1, body.body.size(), f.get()) ==
                                    body.body.size();
            if (!closeFile(f))
                written = false;
            std::error_code ec;
            if (written)
                fs::rename(utf8Path(path + ".part"), utf8Path(path), ec);
            if (!written || ec)
                return fail("解析失败", "无法写入 " + path);
            mapFiles[seg.mapIndex] = file;
        }
        return true;
    };
    std::vector<std::string> mapFiles, audioMapFiles;
    if (!saveMaps(playlist, folder, mapFiles) || !saveMaps(audio, audioFolder, audioMapFiles))
        return false;

    auto run = std::make_shared<EpisodeRun>();
    run->owner = owner;
    run->view = viewPtr;
    run->settings = settings;
    run->row = row;
    run->folder = folder;
    // The segments are numbered in one sequence, the audio rendition's after the media playlist's;
    // each list numbers its own files from 1. Each folder keeps only segment files of its own
    // sources: files of another route, or of another series under the same folder name, must not
    // be merged into this episode.
    auto addJobs = [&](const HlsPlaylist& list, const std::string& dir,
                       const std::vector<std::string>& maps, const std::string& playlistUrl) {
        std::vector<SegmentListEntry> entries;
        std::vector<SegmentJob> jobs;
        for (size_t i = 0; i < list.segments.size(); ++i) {
            const HlsSegment& seg = list.segments[i];
            const int number = static_cast<int>(i) + 1;
            SegmentJob job;
            job.url = seg.uri;
            job.path = dir + pathSeparator() + std::to_string(number) + ".ts";
            job.dir = dir;
            job.number = number;
            job.options.range = seg.range;
            job.options.connectTimeoutMs = settings.connectTimeoutMs;
            job.options.stallTimeoutMs = settings.stallTimeoutMs;
            job.options.lowSpeedBytes = settings.lowSpeedBytes;
            job.options.lowSpeedSeconds = settings.lowSpeedSeconds;
            job.options.caFile = settings.caFile;
            job.source = segmentSource(seg, list);
            if (seg.keyIndex >= 0) {
                const std::string& key = keys[list.keys[seg.keyIndex].uri];
                job.options.decrypt = true;
                std::copy(key.begin(), key.end(), job.options.key.begin());
                job.options.iv = seg.iv;
            }
            jobs.push_back(job);
            entries.push_back(SegmentListEntry{number, seg.duration,
                                               seg.mapIndex >= 0 ? maps[seg.mapIndex] : "",
                                               seg.discontinuity});
        }
        writeSegmentList(dir, entries);
        keepOnlyMatchingSegments(dir, playlistUrl, jobs);
        run->jobs.insert(run->jobs.end(), jobs.begin(), jobs.end());
    };
    addJobs(playlist, folder, mapFiles, address);
    if (!audio.segments.empty())
        addJobs(audio, audioFolder, audioMapFiles, audioUri);

    view.setCellText(row, kColumnSegments, std::to_string(n));
    view.setCellText(row, kColumnStatus, "解析中");
    view.appendLog("解析完成,共有 " + std::to_string(n) + " 条TS", kStatusLog);
    view.setProgressMaximum(1, n);
    view.setProgressMaximum(2, n);
    view.setProgressValue(2, 0);
    view.selectRow(row);
    owner->setEpisode(run);

    // Segments in flight are capped (下载并发, or the built-in cap): a segment is handed out, and
    // its threads started, only once one of those in flight has ended.
    run->cap = segmentsInFlightCap(settings.pace);
    for (int i = 1; i <= n; ++i) {
        {
            std::unique_lock lock(run->mutex);
            run->changed.wait(lock, [&] { return run->running < run->cap || owner->aborted(); });
            if (owner->aborted())
                break;
            ++run->submitted;
            ++run->running;
        }
        const std::string& url = run->jobs[i - 1].url;
        view.appendLog("提交下载_" + std::to_string(i) + " " + segmentName(url), kStatusLog);
        // Segment thread: fetches segment i (with retries) and counts it.
        if (!startDetachedTask(downloadSegment, run, episode, url, std::to_string(i)))
            run->segmentEnded(i, false);
        view.setCellText(row, kColumnSubmitted, std::to_string(i));
        owner->pause(settings.pace.intervalMs);
        view.setProgressValue(1, i);
        if (owner->aborted())
            break;
    }
    {
        std::lock_guard lock(run->mutex);
        run->allSubmitted = true;
    }

    view.setCellText(row, kColumnStatus, "待合并");
    // Every submitted segment ends (on an abort its transfer is stopped, and one submitted after
    // it never starts), so the merge never reads a file that is still being written.
    {
        std::unique_lock lock(run->mutex);
        run->changed.wait(lock, [&] { return run->finished >= run->submitted; });
        undecryptable = static_cast<int>(run->undecryptable.size());
    }
    owner->setEpisode(nullptr);
    return true;
}

void runRows(const std::shared_ptr<DownloadRun>& run);
void remergeRows(const std::shared_ptr<DownloadRun>& run);

void runThread(const std::shared_ptr<DownloadRun>& run)
{
    runRows(run);
    endRun(run);
    run->view->runEnded();
}

void remergeThread(const std::shared_ptr<DownloadRun>& run)
{
    remergeRows(run);
    endRun(run);
    run->view->runEnded();
}

void runRows(const std::shared_ptr<DownloadRun>& run)
{
    run->copyRows();
    const DownloadSettings& settings = run->settings;
    DownloadView& view = *run->view;
    const std::string sep = pathSeparator();
    const std::string series = seriesFolderOf(settings);
    const std::string seriesPath = settings.downloadRoot + sep + series;
    const int rows = static_cast<int>(run->rows.size());
    for (int r = 0; r < rows; ++r) {
        const RowJob& job = run->rows[static_cast<size_t>(r)];
        // A row without a playlist (its state cell says so) has nothing to fetch.
        if (job.checked && job.address.empty()) {
            view.appendLog("第 " + std::to_string(textToInt(job.episode)) + " 集没有m3u8地址, 跳过",
                           kStatusLog);
        } else if (job.checked) {
            const std::string episode = std::to_string(textToInt(job.episode));
            view.appendLog("正在执行第 " + episode + " 集", kStatusLog);
            const std::string folder = seriesPath + sep + episode;
            const FolderOutcome made = ensureDirectory(folder, false);
            const std::string shown = sep + "下载目录" + sep + series + sep + episode;
            if (made.created)
                view.appendLog("创建目录 " + shown, kStatusLog);
            view.setAddressText("第 " + episode + " 集 " + job.address);
            int undecryptable = 0;
            if (!made.exists) {
                // No folder, no segment could be kept: the episode is not attempted.
                view.setCellText(r, kColumnStatus, "创建目录失败");
                view.appendLog("无法创建目录 " + shown + " (" + folderFailure(made) + ")",
                               kStatusLog);
            } else if (downloadEpisode(run, r, episode, folder, undecryptable)) {
                view.appendLog("准备执行 TS 合并 MP4", kStatusLog);
                mergeSegments(view, r, episode, seriesPath);
                // Segments that arrived but would not decrypt are missing for a reason the user
                // can act on: the key is wrong, not the network.
                if (undecryptable > 0) {
                    view.setCellText(r, kColumnStatus, "密钥错误");
                    view.appendLog("第 " + episode + " 集有 " + std::to_string(undecryptable) +
                                       " 个分段无法解密",
                                   kStatusLog);
                }
                view.appendLog("执行下一条解析任务", kStatusLog);
            }
        }
        if (run->aborted()) {
            view.appendLog("已中止下载任务,但合并任务还在执行中", kStatusLog);
            view.setCellText(r, kColumnStatus, "已中止");
            break;
        }
    }
    view.appendLog("全部执行完成,祝使用愉快", kStatusLog);
    view.setRunControlsEnabled(true);
}

void remergeRows(const std::shared_ptr<DownloadRun>& run)
{
    run->copyRows();
    DownloadView& view = *run->view;
    const std::string sep = pathSeparator();
    const std::string seriesPath = run->settings.downloadRoot + sep + seriesFolderOf(run->settings);
    const int rows = static_cast<int>(run->rows.size());
    for (int r = 0; r < rows && !run->aborted(); ++r) {
        const std::string episode =
            std::to_string(textToInt(run->rows[static_cast<size_t>(r)].episode));
        if (holdsSegmentFiles(seriesPath + sep + episode))
            mergeSegments(view, r, episode, seriesPath);
    }
    view.appendLog("重新合并执行完成", kStatusLog);
    view.setRunControlsEnabled(true);
}

// Runs body with run as the one going (when no other is), so 超级按钮_中止 reaches it.
template <class Body>
void runAsActive(const std::shared_ptr<DownloadRun>& run, Body body)
{
    const bool claimed = claimRun(run);
    body(run);
    if (claimed)
        endRun(run);
}

template <class Thread>
bool startRun(std::shared_ptr<DownloadView> view, DownloadSettings settings, Thread thread)
{
    if (!view)
        return false;
    auto run = std::make_shared<DownloadRun>(std::move(view), std::move(settings));
    if (!claimRun(run))
        return false;
    run->view->setRunControlsEnabled(false);
    if (!startDetachedTask(thread, run)) {
        endRun(run);
        return false;
    }
    return true;
}

} // namespace

RunEnd runDownloadJobs(const std::shared_ptr<DownloadView>& view, const DownloadSettings& settings)
{
    auto run = std::make_shared<DownloadRun>(view, settings);
    runAsActive(run, runRows);
    return RunEnd{run->scheduler.taskCount()};
}

RunEnd remergeEpisodes(const std::shared_ptr<DownloadView>& view, const DownloadSettings& settings)
{
    auto run = std::make_shared<DownloadRun>(view, settings);
    runAsActive(run, remergeRows);
    return RunEnd{run->scheduler.taskCount()};
}

bool startDownloadRun(std::shared_ptr<DownloadView> view, DownloadSettings settings)
{
    // Run thread: the whole download run; it ends the run when it returns.
    return startRun(std::move(view), std::move(settings), runThread);
}

bool startRemerge(std::shared_ptr<DownloadView> view, DownloadSettings settings)
{
    // Merge thread: merges the episode folders again, one after the other.
    return startRun(std::move(view), std::move(settings), remergeThread);
}

void requestAbort()
{
    std::shared_ptr<DownloadRun> run;
    {
        std::lock_guard lock(runMutex);
        run = activeRun;
    }
    // A press while no run goes stops nothing, and no later run either.
    if (run)
        run->abort();
}

bool downloadRunActive()
{
    std::lock_guard lock(runMutex);
    return activeRun != nullptr;
}

bool waitForDownloadRun(int timeoutMs)
{
    auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    const bool gui = QCoreApplication::instance() &&
                     QThread::currentThread() == QCoreApplication::instance()->thread();
    std::unique_lock lock(runMutex);
    while (activeRun) {
        if (std::chrono::steady_clock::now() >= until)
            return false;
        if (gui) {
            lock.unlock();
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
            lock.lock();
            runEnded.wait_for(lock, std::chrono::milliseconds(10));
        } else {
            runEnded.wait_until(lock, until);
        }
    }
    return true;
}
