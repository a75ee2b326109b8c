#pragma once

#include <chrono>
#include <cstddef>
#include <iostream>
#include <mutex>
#include <string>

namespace reflector {

// A log of one kind of failure that may repeat with every request (a full or read-only disk):
// the first line at once, then at most one a minute, saying how many were left out between.
// Safe to use from several threads.
class ThrottledLog {
  public:
    explicit ThrottledLog(std::chrono::seconds every = std::chrono::minutes(1)) : every_(every) {}

    void write(const std::string& line) {
        const auto now = std::chrono::steady_clock::now();
        std::size_t left = 0;
        {
            std::lock_guard lock(mutex_);
            if (written_ && now - last_ < every_) {
                ++leftOut_;
                return;
            }
            written_ = true;
            last_ = now;
            left = leftOut_;
            leftOut_ = 0;
        }
        std::cerr << "reflector: " << line;
        if (left > 0) {
            std::cerr << " (and " << left << " more such failures since the last line)";
        }
        std::cerr << std::endl;
    }

  private:
    std::chrono::seconds every_;
    std::mutex mutex_;
    bool written_ = false;
    std::chrono::steady_clock::time_point last_;
    std::size_t leftOut_ = 0;
};

} // namespace reflector
