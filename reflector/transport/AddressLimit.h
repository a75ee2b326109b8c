#pragma once

#include <cstddef>
#include <map>
#include <mutex>
#include <string>

namespace reflector {

// Counts the open connections per client address and turns away those beyond a limit.
// Safe to use from several threads.
class AddressLimit {
  public:
    // `perAddress` 0: no limit.
    explicit AddressLimit(std::size_t perAddress) : perAddress_(perAddress) {}

    // A place for one connection from an address, held until release() or destruction.
    class Slot {
      public:
        Slot() = default;
        Slot(AddressLimit* owner, std::string address)
            : owner_(owner), address_(std::move(address)) {}
        ~Slot() { release(); }
        Slot(Slot&& other) noexcept : owner_(other.owner_), address_(std::move(other.address_)) {
            other.owner_ = nullptr;
        }
        Slot& operator=(Slot&&) = delete;
        Slot(const Slot&) = delete;
        Slot& operator=(const Slot&) = delete;

        explicit operator bool() const { return owner_ != nullptr; }
        void release();

      private:
        AddressLimit* owner_ = nullptr;
        std::string address_;
    };

    // A slot for one more connection from `address`; an empty one when the address has all
    // its connections already.
    Slot enter(const std::string& address);

  private:
    void leave(const std::string& address);

    std::size_t perAddress_;
    std::mutex mutex_;
    std::map<std::string, std::size_t> active_;
};

} // namespace reflector
