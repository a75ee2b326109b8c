#include "core/GatheredLog.h"

#include <cerrno>
#include <unistd.h>

namespace reflector {

namespace {

// Gathered bytes that the gatherer writes at once, whatever the time.
constexpr std::size_t kWriteNow = 64 * 1024;
// Gathered bytes beyond which the thread that adds a line writes them itself: a descriptor that
// takes less than the relay logs holds up the relay rather than its memory growing.
constexpr std::size_t kMostGathered = 1024 * 1024;

} // namespace

GatheredLog::GatheredLog(int fd, std::chrono::milliseconds gather)
    : fd_(fd), gather_(gather), thread_([this] { gatherer(); }) {}

GatheredLog::~GatheredLog() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    added_.notify_all();
    thread_.join();
    std::unique_lock lock(mutex_);
    writeOut(lock);
}

void GatheredLog::add(std::string_view line) {
    std::unique_lock lock(mutex_);
    const std::size_t before = pending_.size();
    pending_.append(line);
    pending_ += '\n';
    if (pending_.size() >= kMostGathered) {
        writeOut(lock);
    } else if (before == 0 || (before < kWriteNow && pending_.size() >= kWriteNow)) {
        lock.unlock();
        added_.notify_one();
    }
}

void GatheredLog::now(std::string_view line) {
    std::unique_lock lock(mutex_);
    pending_.append(line);
    pending_ += '\n';
    writeOut(lock);
}

void GatheredLog::writeOut(std::unique_lock<std::mutex>& lock) {
    if (pending_.empty()) {
        lock.unlock();
        return;
    }
    // The batch is taken and the writing claimed before the next line can be added: batches
    // reach the descriptor in the order they were gathered.
    std::lock_guard writing(writing_);
    out_.swap(pending_);
    lock.unlock();
    std::size_t done = 0;
    while (done < out_.size()) {
        const ssize_t n = ::write(fd_, out_.data() + done, out_.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            break; // a descriptor that takes nothing (closed): the lines are lost, not held
        }
        done += static_cast<std::size_t>(n);
    }
    out_.clear();
    if (out_.capacity() > kMostGathered) {
        out_.shrink_to_fit();
    }
}

void GatheredLog::gatherer() {
    std::unique_lock lock(mutex_);
    for (;;) {
        added_.wait(lock, [this] { return stopping_ || !pending_.empty(); });
        if (stopping_) {
            return;
        }
        // More lines come with the first one while the relay is busy.
        added_.wait_for(lock, gather_,
                        [this] { return stopping_ || pending_.size() >= kWriteNow; });
        writeOut(lock);
        lock.lock();
    }
}

} // namespace reflector
