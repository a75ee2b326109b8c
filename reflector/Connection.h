#pragma once

#include <httplib.h>

#include <array>
#include <chrono>
#include <cstddef>
#include <map>
#include <mutex>
#include <string>

namespace reflector {

using Clock = std::chrono::steady_clock;

// One accepted connection as the HTTP server reads and writes it. Every wait for the client
// ends after the idle time without progress, and the connection as a whole ends at its
// deadline, however steadily the client trickles its bytes: from then on every read and write
// fails at once.
class ConnectionStream : public httplib::Stream {
  public:
    ConnectionStream(int fd, std::chrono::milliseconds readIdle,
                     std::chrono::milliseconds writeIdle, Clock::time_point deadline);

    bool is_readable() const override;
    bool is_writable() const override;
    ssize_t read(char* ptr, size_t size) override;
    ssize_t write(const char* ptr, size_t size) override;
    void get_remote_ip_and_port(std::string& ip, int& port) const override;
    void get_local_ip_and_port(std::string& ip, int& port) const override;
    socket_t socket() const override { return fd_; }

  private:
    int fd_;
    std::chrono::milliseconds readIdle_;
    std::chrono::milliseconds writeIdle_;
    Clock::time_point deadline_;
    // Bytes received but not yet handed out: the server reads a request line byte by byte.
    std::array<char, 4096> buffer_{};
    std::size_t begin_ = 0;
    std::size_t end_ = 0;
};

// Waits until `fd` is ready for `events` (poll flags), at most `idle` and never past `until`.
// False when the time ran out first.
bool waitForSocket(int fd, short events, std::chrono::milliseconds idle, Clock::time_point until);

// The numeric address of the other end of a connected socket ("192.0.2.7", "2001:db8::1"), and
// its port when `port` is not null; empty when it cannot be told.
std::string peerAddress(int fd, int* port = nullptr);

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
