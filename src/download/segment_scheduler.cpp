#include "download/segment_scheduler.h"

#include <algorithm>

size_t SegmentScheduler::taskCount()
{
    SectionLockGuard guard(lock);
    return registry.size();
}

void SegmentScheduler::stopAll()
{
    SectionLockGuard guard(lock);
    stopped = true;
    for (auto& task : registry) {
        task.cancelled = true; // a worker that has not started its transfer yet skips it
        if (task.transfer)
            task.transfer->requestStop();
    }
}

namespace {

// The block handed to a new worker thread: addresses of the caller's values, which the worker
// copies before it signals the hand-off event.
struct HandOff {
    SegmentScheduler* scheduler;
    const std::string* url;
    const std::string* filePath;
    int32_t taskId;
    uint64_t serial;
    std::shared_ptr<CompletionEvent> completion;
    const TransferOptions* options;
    const SegmentDone* onDone;
    CompletionEvent handedOver;
};

void workerEntry(HandOff* block)
{
    SegmentScheduler& scheduler = *block->scheduler;
    std::string url = *block->url;
    std::string filePath = *block->filePath;
    int32_t taskId = block->taskId;
    uint64_t serial = block->serial;
    auto completion = block->completion;
    TransferOptions options = *block->options;
    SegmentDone onDone = *block->onDone;
    block->handedOver.set(); // from here on the block may be gone
    runSegmentTask(scheduler, url, filePath, taskId, serial, completion, options, onDone);
}

} // namespace

int submitSegment(SegmentScheduler& s, const std::string& url, const std::string& filePath,
                  int32_t taskId, const TransferOptions& options, const SegmentDone& onDone)
{
    auto completion = std::make_shared<CompletionEvent>();
    uint64_t serial = 0;
    {
        // The lock covers the duplicate check and the append only; nobody waits while holding it.
        SectionLockGuard guard(s.lock);
        if (taskId != 0) {
            for (const auto& task : s.registry)
                if (task.taskId == taskId)
                    return -1;
        }
        serial = s.nextSerial++;
        s.registry.push_back(SegmentTask{taskId, serial, completion, filePath, nullptr, s.stopped});
    }

    HandOff block{&s, &url, &filePath, taskId, serial, completion, &options, &onDone, {}};
    bool started = true;
    try {
        // Worker thread: runs this segment's transfer and waits for it to end.
        std::thread(workerEntry, &block).detach();
    } catch (...) {
        started = false;
    }
    if (started) {
        block.handedOver.wait();
    } else {
        // Without a worker the task cannot run: its record goes and its caller is told at once.
        {
            SectionLockGuard guard(s.lock);
            s.registry.remove_if([serial](const SegmentTask& t) { return t.serial == serial; });
        }
        if (onDone)
            onDone(SegmentResult{TransferOutcome::Failed, 0, {SegmentError::NoThread, {}}});
    }
    return 1;
}

void runSegmentTask(SegmentScheduler& s, const std::string& url, const std::string& filePath,
                    int32_t taskId, uint64_t serial,
                    const std::shared_ptr<CompletionEvent>& completion,
                    const TransferOptions& options, const SegmentDone& onDone)
{
    (void)taskId;
    auto transfer = std::make_shared<SegmentTransfer>();
    bool cancelled = false;
    {
        SectionLockGuard guard(s.lock);
        auto it = std::find_if(s.registry.begin(), s.registry.end(),
                               [serial](const SegmentTask& t) { return t.serial == serial; });
        cancelled = it == s.registry.end() || it->cancelled;
        if (!cancelled)
            it->transfer = transfer;
    }
    SegmentResult result;
    if (cancelled) {
        const TransferError stopped = TransferError::of(TransferFailure::Cancelled, "cancelled");
        result = SegmentResult{TransferOutcome::Stopped, 0, {SegmentError::Transfer, stopped}};
    } else {
        transfer->start(url, filePath, completion, options);
        completion->wait();
        transfer->stop();
        result = SegmentResult{transfer->outcome(), transfer->httpStatus(), transfer->failure()};
    }
    {
        // Each worker removes its own record (matched by serial), never another task's.
        SectionLockGuard guard(s.lock);
        s.registry.remove_if([serial](const SegmentTask& t) { return t.serial == serial; });
    }
    transfer.reset();
    if (onDone)
        onDone(result);
}
