#pragma once
// Newest request wins, per consumer. A consumer that is filled by requests which may overlap (the
// series list by catalogue loads and the history list, the cover box by cover fetches, the
// episode grid by grid fills) owns one LatestRequest. begin() starts a request and supersedes
// every earlier one of that consumer; the earlier requests' tickets then read as cancelled, so
// their work stops writing and their transfers can end early (the ticket's cancel check fits a
// transfer's progress callback). Thread-safe; tickets stay valid after the consumer is gone.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>

class LatestRequest {
    struct State {
        std::atomic<std::uint64_t> latest{0};
    };

public:
    class Ticket {
    public:
        Ticket() = default;
        // True while no newer request of the same consumer has begun.
        bool current() const { return state_ && state_->latest.load() == id_; }
        bool cancelled() const { return !current(); }
        std::uint64_t id() const { return id_; }
        // The cancel check as a callable, for a transfer's progress callback.
        std::function<bool()> cancelCheck() const
        {
            return [state = state_, id = id_] { return !state || state->latest.load() != id; };
        }

    private:
        friend class LatestRequest;
        Ticket(std::shared_ptr<State> state, std::uint64_t id) : state_(std::move(state)), id_(id)
        {}
        std::shared_ptr<State> state_;
        std::uint64_t id_ = 0;
    };

    // Starts a request of this consumer; every earlier ticket is cancelled from now on.
    Ticket begin() { return Ticket(state_, ++state_->latest); }
    // Cancels every ticket handed out so far without starting a new request.
    void cancelAll() { ++state_->latest; }

private:
    std::shared_ptr<State> state_ = std::make_shared<State>();
};
