#include "download/segment_fetch.h"

#include "app/paths.h"
#include "download/download_text.h"
#include "util/text_number.h"
#include "util/utf8_path.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <optional>

namespace fs = std::filesystem;

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
