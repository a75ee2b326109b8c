#pragma once

#include <cstddef>
#include <map>
#include <mutex>
#include <string>

namespace reflector {

// Bounds the requests held at once (long polls, live streams), in all and per client address.
// Beyond the bound a long poll is answered at once and a stream refused. Safe to use from
// several threads.
class HoldLimit {
  public:
    // `perAddress` 0: no limit per address.
    HoldLimit(std::size_t total, std::size_t perAddress) : total_(total), perAddress_(perAddress) {}

    // The right to hold one request, given back on destruction.
    class Permit {
      public:
        Permit() = default;
        Permit(HoldLimit* owner, std::string address)
            : owner_(owner), address_(std::move(address)) {}
        ~Permit();
        Permit(Permit&& other) noexcept
            : owner_(other.owner_), address_(std::move(other.address_)) {
            other.owner_ = nullptr;
        }
        Permit& operator=(Permit&&) = delete;
        Permit(const Permit&) = delete;
        Permit& operator=(const Permit&) = delete;
        explicit operator bool() const { return owner_ != nullptr; }

      private:
        HoldLimit* owner_ = nullptr;
        std::string address_;
    };

    // A permit, or an empty one when the bound is reached.
    Permit tryHold(const std::string& address);
    // Requests held now.
    std::size_t held() const;

  private:
    void release(const std::string& address);

    std::size_t total_;
    std::size_t perAddress_;
    mutable std::mutex mutex_;
    std::size_t held_ = 0;
    std::map<std::string, std::size_t> byAddress_;
};

} // namespace reflector
