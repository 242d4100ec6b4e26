#pragma once
#include <mutex>

// The program's lock object: a re-entrant lock that the owning thread may enter several times
// (each enter needs its own leave). With a spin count, a contended enter first retries that many
// times without sleeping before it blocks, which pays off for locks held only briefly.
class SectionLock {
public:
    SectionLock() = default;
    explicit SectionLock(int spinCount);
    SectionLock(const SectionLock&) = delete;
    SectionLock& operator=(const SectionLock&) = delete;

    // Blocks until the calling thread owns the lock.
    void enter();
    // Releases one level of ownership; the calling thread must own the lock.
    void leave();
    // Takes the lock only when it is free or already owned by the calling thread; never waits.
    bool tryEnter();

private:
    std::recursive_mutex mutex_;
    int spinCount_ = 0;
};

// Holds a SectionLock for the lifetime of a scope.
class SectionLockGuard {
public:
    explicit SectionLockGuard(SectionLock& lock) : lock_(lock) { lock_.enter(); }
    ~SectionLockGuard() { lock_.leave(); }
    SectionLockGuard(const SectionLockGuard&) = delete;
    SectionLockGuard& operator=(const SectionLockGuard&) = delete;

private:
    SectionLock& lock_;
};
