// Segment scheduling: the registry and its ids, the hand-off to the worker, completion and stop.
#include "download/segment_scheduler.h"

#include "download_fixtures.h"

#include <condition_variable>
#include <future>
#include <mutex>
#include <vector>

using namespace dltest;
using namespace std::chrono_literals;

namespace {

class SchedulerTest : public ::testing::Test {
protected:
    QTemporaryDir temp;
    TestServer server;
    std::string file(const std::string& name)
    {
        return temp.filePath(QString::fromStdString(name)).toStdString();
    }

    // Each worker removes its record before it reports, so a task that has reported is gone.
    void expectEmptyRegistry() { EXPECT_EQ(scheduler.taskCount(), 0u); }
    SegmentScheduler scheduler; // the run's own; outlives every task of the test
};

// Counts the reports of the tasks, and waits for them.
class Reports {
public:
    SegmentDone callback()
    {
        return [this](const SegmentResult& r) {
            std::lock_guard lock(mutex_);
            results_.push_back(r);
            changed_.notify_all();
        };
    }
    bool waitFor(size_t n, std::chrono::seconds timeout)
    {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, timeout, [&] { return results_.size() >= n; });
    }
    std::vector<SegmentResult> results()
    {
        std::lock_guard lock(mutex_);
        return results_;
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<SegmentResult> results_;
};

TEST_F(SchedulerTest, SubmitReturnsBeforeTheTransferAndReportsWhenItEnds)
{
    server.on("/slow.ts", CannedResponse{200, {}, "segment bytes"}.after(300ms));
    std::promise<SegmentResult> result;
    // The caller's texts die right after the call: the worker must own copies.
    {
        std::string url = server.url("/slow.ts");
        std::string path = file("1.ts");
        EXPECT_EQ(submitSegment(scheduler, url, path, 0, {},
                                [&](const SegmentResult& r) { result.set_value(r); }),
                  1);
        url.assign(url.size(), '?');
        path.assign(path.size(), '?');
    }
    EXPECT_FALSE(fs::exists(file("1.ts")));
    auto future = result.get_future();
    ASSERT_EQ(future.wait_for(10s), std::future_status::ready);
    EXPECT_EQ(future.get().outcome, TransferOutcome::Completed);
    EXPECT_EQ(readFile(file("1.ts")), "segment bytes");
    expectEmptyRegistry();
}

TEST_F(SchedulerTest, AnonymousIdsAreAlwaysAcceptedAndARegisteredIdIsRefused)
{
    server.on("/hang", CannedResponse::stall());
    Reports reports;
    const SegmentDone done = reports.callback();
    EXPECT_EQ(submitSegment(scheduler, server.url("/hang"), file("a.ts"), 0, {}, done), 1);
    EXPECT_EQ(submitSegment(scheduler, server.url("/hang"), file("b.ts"), 0, {}, done), 1);
    EXPECT_EQ(submitSegment(scheduler, server.url("/hang"), file("c.ts"), 42, {}, done), 1);
    EXPECT_EQ(submitSegment(scheduler, server.url("/hang"), file("d.ts"), 42, {}, done), -1);
    EXPECT_EQ(scheduler.taskCount(), 3u);
    ASSERT_TRUE(server.waitForRequests(3, 5s));

    // Abort: every transfer in flight ends, each worker removes its own record and reports.
    auto before = std::chrono::steady_clock::now();
    scheduler.stopAll();
    ASSERT_TRUE(reports.waitFor(3, 10s));
    EXPECT_LT(std::chrono::steady_clock::now() - before, 3s);
    expectEmptyRegistry();
    for (const SegmentResult& r : reports.results()) {
        EXPECT_EQ(r.outcome, TransferOutcome::Stopped);
        EXPECT_TRUE(r.failure.stopped());
    }
    // The id is free again once its task has gone. A task submitted after the abort is stopped
    // before its transfer starts: the server sees no further request.
    const size_t requests = server.requests().size();
    EXPECT_EQ(submitSegment(scheduler, server.url("/hang"), file("e.ts"), 42, {}, done), 1);
    ASSERT_TRUE(reports.waitFor(4, 10s));
    EXPECT_EQ(reports.results().back().outcome, TransferOutcome::Stopped);
    EXPECT_EQ(server.requests().size(), requests);
    expectEmptyRegistry();
}

TEST_F(SchedulerTest, AFailedTransferStillReleasesItsWorker)
{
    server.on("/gone.ts", CannedResponse{404, {}, "nope"});
    std::promise<SegmentResult> result;
    submitSegment(scheduler, server.url("/gone.ts"), file("g.ts"), 0, {},
                  [&](const SegmentResult& r) { result.set_value(r); });
    auto r = result.get_future().get();
    EXPECT_EQ(r.outcome, TransferOutcome::Failed);
    EXPECT_EQ(r.status, 404);
    EXPECT_FALSE(fs::exists(file("g.ts")));
    expectEmptyRegistry();
}

TEST_F(SchedulerTest, StartDetachedTaskCopiesItsArguments)
{
    std::promise<std::string> seen;
    {
        std::string text = "episode 3";
        ASSERT_TRUE(startDetachedTask(
            [&seen](std::string s, int n) { seen.set_value(s + "/" + std::to_string(n)); }, text,
            7));
        text = "changed";
    }
    EXPECT_EQ(seen.get_future().get(), "episode 3/7");
}

} // namespace
