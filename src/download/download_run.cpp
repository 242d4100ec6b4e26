#include "download/download_run.h"

#include "app/paths.h"
#include "app/settings_store.h"
#include "app/transfer_settings.h"
#include "download/download_text.h"
#include "download/episode_jobs.h"
#include "download/episode_run.h"
#include "download/fetch_page.h"
#include "download/merge_segments.h"
#include "download/segment_fetch.h"
#include "download/segment_scheduler.h"
#include "download/series_folder.h"
#include "util/marker_text.h"
#include "util/text_number.h"
#include "util/utf8_path.h"

#include <QCoreApplication>
#include <QThread>

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <vector>

namespace {

// The series folder is set on the GUI thread and read by the run thread.
std::mutex seriesMutex;
std::string seriesFolderName;

// One run (or re-merge) at a time: the one going, which 超级按钮_中止 reaches.
std::mutex runMutex;
std::condition_variable runEnded;
std::shared_ptr<DownloadRun> activeRun;

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

// Reads the episode's playlist into its segment jobs (episode_jobs.h), hands the segments out at
// the run's pace and waits for them. False when the episode could not be read, with its status
// cell set.
bool downloadEpisode(const std::shared_ptr<DownloadRun>& owner, int row, const std::string& episode,
                     const std::string& folder, int& undecryptable)
{
    std::vector<SegmentJob> jobs;
    if (!episodeJobs(owner, row, episode, folder, jobs))
        return false;
    const DownloadSettings& settings = owner->settings;
    DownloadView& view = *owner->view;
    const int n = static_cast<int>(jobs.size());
    auto run = std::make_shared<EpisodeRun>();
    run->owner = owner;
    run->view = owner->view;
    run->settings = settings;
    run->row = row;
    run->folder = folder;
    run->jobs = std::move(jobs);

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
