#pragma once
// What the player is waiting for, shared by the catalogue loads, the route switch, the history
// resume and the player controller. Read and written from any thread.

#include <atomic>

enum class PendingAction : int {
    None = 0,             // nothing pending
    Starting = 1,         // a page was requested and its player has not been started yet
    ResumeRequested = 3,  // a history row was clicked; the next series row opened resumes it
};

struct PlaybackState {
    std::atomic<int> pendingAction{static_cast<int>(PendingAction::None)};
};

// The program's one playback state.
inline PlaybackState playbackState;
