// Segment scheduling: the registry and its ids, the hand-off to the worker, completion and stop.
#include "download/segment_scheduler.h"

#include "download_fixtures.h"

#include <future>

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

    void waitForEmptyRegistry()
    {
        for (int i = 0; i < 500 && SegmentScheduler::instance().taskCount() > 0; ++i)
            std::this_thread::sleep_for(10ms);
        ASSERT_EQ(SegmentScheduler::instance().taskCount(), 0u);
    }
};

TEST_F(SchedulerTest, SubmitReturnsBeforeTheTransferAndReportsWhenItEnds)
{
    server.on("/slow.ts", CannedResponse{200, {}, "segment bytes"}.after(300ms));
    std::promise<SegmentResult> result;
    // The caller's texts die right after the call: the worker must own copies.
    {
        std::string url = server.url("/slow.ts");
        std::string path = file("1.ts");
        EXPECT_EQ(
            submitSegment(url, path, 0, {}, [&](const SegmentResult& r) { result.set_value(r); }),
            1);
        url.assign(url.size(), '?');
        path.assign(path.size(), '?');
    }
    EXPECT_FALSE(fs::exists(file("1.ts")));
    auto future = result.get_future();
    ASSERT_EQ(future.wait_for(10s), std::future_status::ready);
    EXPECT_EQ(future.get().outcome, TransferOutcome::Completed);
    EXPECT_EQ(readFile(file("1.ts")), "segment bytes");
    waitForEmptyRegistry();
}

TEST_F(SchedulerTest, AnonymousIdsAreAlwaysAcceptedAndARegisteredIdIsRefused)
{
    server.on("/hang", CannedResponse::stall());
    std::atomic<int> ended{0};
    auto done = [&](const SegmentResult&) { ++ended; };
    EXPECT_EQ(submitSegment(server.url("/hang"), file("a.ts"), 0, {}, done), 1);
    EXPECT_EQ(submitSegment(server.url("/hang"), file("b.ts"), 0, {}, done), 1);
    EXPECT_EQ(submitSegment(server.url("/hang"), file("c.ts"), 42, {}, done), 1);
    EXPECT_EQ(submitSegment(server.url("/hang"), file("d.ts"), 42, {}, done), -1);
    EXPECT_EQ(SegmentScheduler::instance().taskCount(), 3u);
    ASSERT_TRUE(server.waitForRequests(3, 5s));

    // Abort: every transfer in flight ends, each worker removes its own record and reports.
    auto before = std::chrono::steady_clock::now();
    SegmentScheduler::instance().stopAll();
    waitForEmptyRegistry();
    EXPECT_LT(std::chrono::steady_clock::now() - before, 3s);
    for (int i = 0; i < 100 && ended < 3; ++i)
        std::this_thread::sleep_for(10ms);
    EXPECT_EQ(ended.load(), 3);
    // The id is free again once its task has gone.
    EXPECT_EQ(submitSegment("", file("e.ts"), 42, {}, done), 1);
    waitForEmptyRegistry();
}

TEST_F(SchedulerTest, AFailedTransferStillReleasesItsWorker)
{
    server.on("/gone.ts", CannedResponse{404, {}, "nope"});
    std::promise<SegmentResult> result;
    submitSegment(server.url("/gone.ts"), file("g.ts"), 0, {},
                  [&](const SegmentResult& r) { result.set_value(r); });
    auto r = result.get_future().get();
    EXPECT_EQ(r.outcome, TransferOutcome::Failed);
    EXPECT_EQ(r.status, 404);
    EXPECT_FALSE(fs::exists(file("g.ts")));
    waitForEmptyRegistry();
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
