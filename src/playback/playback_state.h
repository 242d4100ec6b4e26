#pragma once
// What the player is waiting for and what it plays, shared by the catalogue loads, the route
// switch, the history resume, the history saves and the player controller. Read and written from
// any thread.

#include <atomic>
#include <mutex>
#include <string>

enum class PendingAction : int {
    None = 0,            // nothing pending
    Starting = 1,        // a page was requested and its player has not been started yet
    ResumeRequested = 3, // a history row was clicked; the next series row opened resumes it
};

// The current episode: the address the browser was last told to load (with any player-page
// prefix), the episode's m3u8 address and its label.
struct PlayingEpisode {
    std::string currentUrl;
    std::string currentM3u8;
    std::string currentLabel;
};

struct PlaybackState {
    std::atomic<int> pendingAction{static_cast<int>(PendingAction::None)};

    // One consistent copy of the three texts (a history save takes it while the GUI thread may be
    // replacing them).
    PlayingEpisode episode() const
    {
        std::lock_guard<std::mutex> hold(textLock_);
        return episode_;
    }
    void setEpisode(PlayingEpisode episode)
    {
        std::lock_guard<std::mutex> hold(textLock_);
        episode_ = std::move(episode);
    }
    void setCurrentUrl(std::string url)
    {
        std::lock_guard<std::mutex> hold(textLock_);
        episode_.currentUrl = std::move(url);
    }

private:
    mutable std::mutex textLock_;
    PlayingEpisode episode_;
};

// The program's one playback state.
inline PlaybackState playbackState;
