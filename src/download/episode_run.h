#pragma once
// The state a download run shares between its run thread and the segment threads of its episodes:
// the run itself (its rows, abort flag and segment scheduler), one episode's segment jobs, and the
// counts of the episode being fetched.

#include "download/download_run.h"
#include "download/episode_folder.h"
#include "download/segment_scheduler.h"
#include "download/segment_transfer.h"
#include "util/marker_text.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

struct EpisodeRun;

// The name of a segment as the logs show it: the last part of its address.
inline std::string segmentName(const std::string& url)
{
    std::string name = textAfterLast(trimLineEnd(url), "/");
    return name.empty() ? trimLineEnd(url) : name;
}

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
        recordSegmentSource(job.dir, job.number, job.source);
    }
};
