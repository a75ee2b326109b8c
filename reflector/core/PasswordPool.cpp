#include "core/PasswordPool.h"

#include <exception>
#include <iostream>
#include <memory>
#include <optional>

namespace reflector {

namespace {

// What a job and its waiting request share.
struct Outcome {
    std::mutex mutex;
    std::optional<HttpAnswer> answer;
    Wake wake;
};

// The request's side: asks for the job's answer, or gives `busy` at the deadline.
class PoolAnswer : public PendingAnswer {
  public:
    PoolAnswer(std::shared_ptr<Outcome> outcome, HttpAnswer busy, SteadyClock::time_point deadline)
        : PendingAnswer(deadline), outcome_(std::move(outcome)), busy_(std::move(busy)) {}

    void start(Wake wake) override {
        bool done = false;
        {
            std::lock_guard lock(outcome_->mutex);
            done = outcome_->answer.has_value();
            outcome_->wake = wake;
        }
        if (done) {
            wake();
        }
    }

    std::optional<HttpAnswer> poll(bool last, SteadyClock::time_point&) override {
        std::lock_guard lock(outcome_->mutex);
        if (outcome_->answer) {
            return std::move(*outcome_->answer);
        }
        if (last) {
            outcome_->wake = nullptr; // the job's answer, when it comes, goes nowhere
            return busy_;
        }
        return std::nullopt;
    }

  private:
    std::shared_ptr<Outcome> outcome_;
    HttpAnswer busy_;
};

} // namespace

HttpAnswer hashingBusy(HttpAnswer refusal) {
    refusal.status = 503;
    refusal.headers.emplace_back("Retry-After", "2");
    return refusal;
}

PasswordPool::PasswordPool(std::size_t threads, std::size_t queued) : queued_(queued) {
    for (std::size_t i = 0; i < std::max<std::size_t>(threads, 1); ++i) {
        threads_.emplace_back([this] { serve(); });
    }
}

PasswordPool::~PasswordPool() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
        jobs_.clear();
    }
    wake_.notify_all();
    for (std::thread& t : threads_) {
        t.join();
    }
}

HttpAnswer PasswordPool::answer(std::function<HttpAnswer()> work, HttpAnswer busy,
                                std::chrono::milliseconds limit, bool station) {
    auto outcome = std::make_shared<Outcome>();
    auto job = [this, outcome, work = std::move(work)] {
        std::optional<HttpAnswer> answer;
        try {
            answer = work();
        } catch (const std::exception& e) {
            std::cerr << "reflector: password check failed: " << e.what() << std::endl;
            answer = textAnswer(500, "internal error");
        }
        // The job's place is free before its answer goes out, so that a client that sends its
        // next password as soon as it has the answer is not turned away for a full pool.
        {
            std::lock_guard lock(mutex_);
            --accepted_;
        }
        Wake wake;
        {
            std::lock_guard lock(outcome->mutex);
            outcome->answer = std::move(answer);
            wake = outcome->wake;
        }
        if (wake) {
            wake();
        }
    };
    {
        std::lock_guard lock(mutex_);
        if (station) {
            jobs_.push_front(std::move(job));
        } else if (accepted_ >= threads_.size() + queued_) {
            return busy;
        } else {
            jobs_.push_back(std::move(job));
        }
        ++accepted_;
    }
    wake_.notify_one();
    HttpAnswer later;
    later.pending = std::make_shared<PoolAnswer>(std::move(outcome), std::move(busy),
                                                 SteadyClock::now() + limit);
    return later;
}

void PasswordPool::serve() {
    for (;;) {
        std::function<void()> job;
        {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [this] { return stopping_ || !jobs_.empty(); });
            if (stopping_) {
                return;
            }
            job = std::move(jobs_.front());
            jobs_.pop_front();
        }
        job();
    }
}

} // namespace reflector
