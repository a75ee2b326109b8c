#pragma once

// Password hashing on threads of its own. An Argon2id hash costs 19 MiB and tens of
// milliseconds of a processor: run on the threads that serve uploads, streams and polls, a
// crowd of wrong passwords would slow every station down. The pool takes a few jobs at once
// and queues a few more; beyond its queue a job is refused at once, so that the relay answers
// "try again" instead of piling up work.

#include "core/Http.h"

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace reflector {

class PasswordPool {
  public:
    // `threads` hash at once (at least one); `queued` more may wait.
    PasswordPool(std::size_t threads, std::size_t queued);
    // Lets the waiting jobs go unrun and waits for the running ones.
    ~PasswordPool();
    PasswordPool(const PasswordPool&) = delete;
    PasswordPool& operator=(const PasswordPool&) = delete;

    // The answer that `work` gives once it has run on the pool (a pending answer, see core/Http.h),
    // or `busy` at once when the queue is full. A job still waiting at `limit` is answered
    // `busy` too. A `station` job (the camera's own station, proved by its key) goes ahead of
    // the others and is never refused for the queue.
    HttpAnswer answer(std::function<HttpAnswer()> work, HttpAnswer busy,
                      std::chrono::milliseconds limit, bool station = false);

  private:
    void serve();

    std::size_t queued_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::function<void()>> jobs_;
    std::size_t accepted_ = 0; // waiting or running
    bool stopping_ = false;
    std::vector<std::thread> threads_;
};

// The answer to a request refused because the pool is full: `refusal` with Retry-After.
HttpAnswer hashingBusy(HttpAnswer refusal);

} // namespace reflector
