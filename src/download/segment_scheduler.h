#pragma once
// Segment scheduling: one detached thread per segment, a worker thread per registered task that
// runs its SegmentTransfer, and the registry of running tasks under its SectionLock. Whoever owns
// a run owns its scheduler and hands it to what submits segments; it must outlive every task
// submitted to it (the run waits for all of them before it ends).

#include "download/segment_transfer.h"
#include "util/section_lock.h"

#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <string>
#include <thread>
#include <utility>

// Starts routine(args...) on a new detached thread with copies of the arguments, made before this
// returns, so the caller may release its own values at once. False when no thread could be made.
template <class Routine, class... Args>
bool startDetachedTask(Routine&& routine, Args&&... args)
{
    try {
        // Detached task thread: runs the routine with its own copies, then ends.
        std::thread(std::forward<Routine>(routine), std::forward<Args>(args)...).detach();
        return true;
    } catch (...) {
        return false;
    }
}

// What the worker reports when its transfer has ended.
struct SegmentResult {
    TransferOutcome outcome = TransferOutcome::Failed;
    long status = 0;
    SegmentFailure failure;
    // Whole answer, but it would not decrypt: no retry helps.
    bool decryptFailed() const { return failure.kind == SegmentError::DecryptFailed; }
    // The answer went past its limit: no retry helps either.
    bool overLimit() const { return failure.transfer.kind == TransferFailure::TooLarge; }
};

// One registry record.
struct SegmentTask {
    int32_t taskId = 0;  // 0: anonymous
    uint64_t serial = 0; // tells records apart, so a worker removes its own
    std::shared_ptr<CompletionEvent> completion;
    std::string filePath;
    std::shared_ptr<SegmentTransfer> transfer; // set by the worker once it has started it
    bool cancelled = false;                    // stopAll came before the transfer started
};

// The registry of running tasks of one run.
class SegmentScheduler {
public:
    std::list<SegmentTask> registry;
    SectionLock lock;
    uint64_t nextSerial = 1;
    bool stopped = false; // after stopAll: a task submitted later is stopped before it starts

    // Number of registered tasks.
    size_t taskCount();
    // Asks every running transfer to end (abort), and every one submitted from now on; returns at
    // once.
    void stopAll();
};

using SegmentDone = std::function<void(const SegmentResult&)>;

// Registers a task and starts its worker, which downloads url into filePath. Returns 1 once the
// worker owns copies of its arguments (the download goes on), -1 when taskId is not 0 and already
// registered (nothing is started). onDone runs on the worker thread when the transfer has ended.
int submitSegment(SegmentScheduler& scheduler, const std::string& url, const std::string& filePath,
                  int32_t taskId = 0, const TransferOptions& options = {},
                  const SegmentDone& onDone = {});

// The worker routine: runs the transfer, waits for its completion event, stops it, removes its
// registry record and reports.
void runSegmentTask(SegmentScheduler& scheduler, const std::string& url,
                    const std::string& filePath, int32_t taskId, uint64_t serial,
                    const std::shared_ptr<CompletionEvent>& completion,
                    const TransferOptions& options, const SegmentDone& onDone);
