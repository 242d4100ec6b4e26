#include "util/gui_call.h"

#include <QCoreApplication>
#include <QObject>
#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <memory>
#include <thread>

namespace {

// Lets the GUI thread handle what workers queued until done() holds or a few seconds pass.
template <class Done>
void pumpUntil(Done done)
{
    for (int i = 0; i < 5000 && !done(); ++i) {
        QCoreApplication::processEvents();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

TEST(GuiPost, AWorkersCallRunsOnTheGuiThreadWhileItsContextLives)
{
    QObject context;
    std::atomic<bool> ran{false};
    std::atomic<bool> onGui{false};
    std::thread worker([&] {
        gui::post(&context, [&] {
            onGui = gui::onGuiThread();
            ran = true;
        });
    });
    worker.join();
    EXPECT_FALSE(ran) << "a worker's call waits for the event loop";
    pumpUntil([&] { return ran.load(); });
    EXPECT_TRUE(ran);
    EXPECT_TRUE(onGui);
}

TEST(GuiPost, ACallWhoseContextIsGoneIsDropped)
{
    auto context = std::make_unique<QObject>();
    std::atomic<int> runs{0};
    std::thread worker([&] { gui::post(context.get(), [&] { ++runs; }); });
    worker.join();
    context.reset(); // destroyed while the call is still queued
    QCoreApplication::processEvents();
    EXPECT_EQ(runs, 0);

    gui::post(nullptr, [&] { ++runs; });
    QCoreApplication::processEvents();
    EXPECT_EQ(runs, 0);
}

TEST(GuiCall, AWorkerGetsTheAnswerMadeOnTheGuiThread)
{
    std::future<std::pair<int, bool>> answer = std::async(std::launch::async, [] {
        return gui::call([] { return std::make_pair(42, gui::onGuiThread()); });
    });
    pumpUntil(
        [&] { return answer.wait_for(std::chrono::seconds(0)) == std::future_status::ready; });
    ASSERT_EQ(answer.wait_for(std::chrono::seconds(0)), std::future_status::ready);
    EXPECT_EQ(answer.get(), std::make_pair(42, true));
}

TEST(AssertGuiThreadDeathTest, OffTheGuiThreadADebugBuildAborts)
{
#ifdef QT_NO_DEBUG
    GTEST_SKIP() << "the check is active in Debug builds only";
#else
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    gui::assertGuiThread(); // on the GUI thread: nothing happens
    EXPECT_DEATH(std::thread([] { gui::assertGuiThread(); }).join(), "off the GUI thread");
#endif
}

} // namespace
