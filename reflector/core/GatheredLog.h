#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

namespace reflector {

// Lines for a file descriptor (the relay's standard error), gathered for a moment and written
// several at a time, so that a busy relay's request log costs no system call per request.
// A line reaches the descriptor at most `gather` after it was added, and lines reach it in the
// order they were added; one added with now() is written at once, after those before it. A
// thread of its own writes them; when the descriptor does not take them as fast as they come (a
// stalled reader), the thread that adds a line waits to write them itself, as it would for a
// write of its own, so that what is held stays bounded.
// Safe to use from any thread.
class GatheredLog {
  public:
    explicit GatheredLog(int fd, std::chrono::milliseconds gather = std::chrono::milliseconds(100));
    // Writes what is gathered.
    ~GatheredLog();
    GatheredLog(const GatheredLog&) = delete;
    GatheredLog& operator=(const GatheredLog&) = delete;

    // `line` (without its line end) is written within the gathering time.
    void add(std::string_view line);
    // `line` is written before this returns.
    void now(std::string_view line);

  private:
    // Hands what is gathered to the descriptor. Called with `lock` held on mutex_; returns with
    // it released.
    void writeOut(std::unique_lock<std::mutex>& lock);
    void gatherer();

    int fd_;
    std::chrono::milliseconds gather_;
    std::mutex mutex_;   // guards the members below
    std::mutex writing_; // held while a batch is written: batches keep their order
    std::condition_variable added_;
    std::string pending_;
    std::string out_; // the batch being written (only under writing_)
    bool stopping_ = false;
    std::thread thread_;
};

} // namespace reflector
