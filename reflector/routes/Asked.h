#pragma once

#include "core/Http.h"

#include <functional>
#include <memory>
#include <mutex>
#include <optional>

namespace reflector {

// What a held poll or a live stream asked its store, and the store's answer once it has come:
// at once on the asker's own thread (a store in memory), or later from a thread of the
// store's, which then wakes the asker. One woken while its question is under way may have been
// woken by news the answer on its way does not know of: `stale()` tells it to ask again.
template <class T> class Asked {
  public:
    void start(Wake wake) {
        std::lock_guard lock(state_->mutex);
        state_->wake = std::move(wake);
    }

    // The answer that has come, once; without one, asks (`ask` gets the function that takes the
    // answer) unless a question is under way.
    template <class Ask> std::optional<T> answer(const Ask& ask) {
        {
            std::lock_guard lock(state_->mutex);
            if (state_->answer) {
                return take();
            }
            if (state_->asking) {
                state_->stale = true;
                return std::nullopt;
            }
            state_->asking = true;
            state_->inCall = true;
        }
        ask([state = state_](T value) { state->deliver(std::move(value)); });
        std::lock_guard lock(state_->mutex);
        state_->inCall = false;
        return state_->answer ? take() : std::nullopt;
    }

    // True when the answer given last may be older than the latest wake.
    bool stale() const { return lastStale_; }

    // The poll has answered: an answer still on its way goes to `late` instead.
    void abandon(std::function<void(T)> late) {
        std::lock_guard lock(state_->mutex);
        state_->late = std::move(late);
        state_->wake = nullptr;
    }

  private:
    struct State {
        std::mutex mutex;
        std::optional<T> answer;
        bool asking = false;
        bool inCall = false; // the store answers within the call that asks
        bool stale = false;
        Wake wake;
        std::function<void(T)> late;

        void deliver(T value) {
            Wake woken;
            std::function<void(T)> abandoned;
            {
                std::lock_guard lock(mutex);
                asking = false;
                if (late) {
                    abandoned = late;
                } else {
                    answer = std::move(value);
                    woken = inCall ? nullptr : wake;
                }
            }
            if (abandoned) {
                abandoned(std::move(value));
            } else if (woken) {
                woken();
            }
        }
    };

    // With the state's lock held.
    std::optional<T> take() {
        std::optional<T> given = std::move(state_->answer);
        state_->answer.reset();
        lastStale_ = state_->stale;
        state_->stale = false;
        return given;
    }

    std::shared_ptr<State> state_ = std::make_shared<State>();
    bool lastStale_ = false;
};

} // namespace reflector
