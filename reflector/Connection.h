#pragma once

#include <chrono>
#include <cstddef>
#include <map>
#include <mutex>
#include <string>

namespace reflector {

using Clock = std::chrono::steady_clock;

// Socket helpers of the transport: waits with time limits, the client's address, closing a
// connection so that its client still reads the answer, and a limit of connections per address.

// Waits until `fd` is ready for `events` (poll flags), at most `idle` and never past `until`.
// False when the time ran out first.
bool waitForSocket(int fd, short events, std::chrono::milliseconds idle, Clock::time_point until);

// The numeric address of the other end of a connected socket ("192.0.2.7", "2001:db8::1"), and
// its port when `port` is not null; empty when it cannot be told.
std::string peerAddress(int fd, int* port = nullptr);
// The same for this end of the socket.
std::string localAddress(int fd, int* port = nullptr);

// True when bytes sent by the client are waiting unread in the socket.
bool hasUnreadInput(int fd);

// Closes a connection whose client may still be sending. Closing a socket with unread bytes
// makes the system answer with a reset, and the reset can make the client drop the answer it
// has not read yet. So the answer is ended first (the client sees the end of the stream), then
// whatever the client still sends is read and thrown away, until it closes its side, `maxBytes`
// are gone, it stays silent for `idle` or `until` is reached.
void closeAfterDraining(int fd, std::chrono::milliseconds idle, Clock::time_point until,
                        std::size_t maxBytes);

// Closes a connection whose request was read in full.
void closeConnection(int fd);

// Counts the connections being served per client address and turns away those beyond a limit.
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
