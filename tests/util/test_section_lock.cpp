#include "util/section_lock.h"

#include <gtest/gtest.h>

#include <future>
#include <thread>
#include <vector>

namespace {

// Asks from a second thread whether the lock can be taken; a taken lock is given back at once.
bool freeForOtherThread(SectionLock& lock)
{
    return std::async(std::launch::async,
                      [&lock] {
                          if (!lock.tryEnter())
                              return false;
                          lock.leave();
                          return true;
                      })
        .get();
}

class SectionLockTest : public ::testing::TestWithParam<int> {};

TEST_P(SectionLockTest, ReentrantOwnershipNeedsOneLeavePerEnter)
{
    SectionLock lock(GetParam());
    lock.enter();
    lock.enter();
    EXPECT_TRUE(lock.tryEnter()) << "the owner takes its own lock again";
    EXPECT_FALSE(freeForOtherThread(lock));
    lock.leave();
    lock.leave();
    EXPECT_FALSE(freeForOtherThread(lock)) << "one level of ownership is still held";
    lock.leave();
    EXPECT_TRUE(freeForOtherThread(lock));
}

TEST_P(SectionLockTest, TryEnterReturnsAtOnceWhileAnotherThreadHoldsIt)
{
    SectionLock lock(GetParam());
    std::promise<void> held;
    std::promise<void> release;
    std::thread owner([&] {
        lock.enter();
        held.set_value();
        release.get_future().wait();
        lock.leave();
    });
    held.get_future().wait();
    EXPECT_FALSE(lock.tryEnter());
    release.set_value();
    owner.join();
    EXPECT_TRUE(lock.tryEnter());
    lock.leave();
}

TEST_P(SectionLockTest, KeepsThreadsOutOfEachOthersSections)
{
    SectionLock lock(GetParam());
    long counter = 0;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 20000; ++i) {
                SectionLockGuard guard(lock);
                ++counter;
            }
        });
    }
    for (auto& t : threads)
        t.join();
    EXPECT_EQ(counter, 4 * 20000);
}

// Plain, and with the spin count the hash tables use.
INSTANTIATE_TEST_SUITE_P(SpinCounts, SectionLockTest, ::testing::Values(0, 4000));

} // namespace
