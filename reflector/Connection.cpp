#include "Connection.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace reflector {

namespace {

// The numeric address and port of one end of a socket.
std::string numericAddress(const sockaddr_storage& address, socklen_t length, int* port) {
    char host[NI_MAXHOST];
    char service[NI_MAXSERV];
    if (::getnameinfo(reinterpret_cast<const sockaddr*>(&address), length, host, sizeof host,
                      service, sizeof service, NI_NUMERICHOST | NI_NUMERICSERV) != 0) {
        return {};
    }
    if (port != nullptr) {
        *port = std::atoi(service);
    }
    return host;
}

} // namespace

bool waitForSocket(int fd, short events, std::chrono::milliseconds idle, Clock::time_point until) {
    const Clock::time_point idleEnd = Clock::now() + idle;
    const Clock::time_point end = std::min(idleEnd, until);
    for (;;) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(end - Clock::now());
        if (left.count() < 0) {
            return false;
        }
        pollfd p{fd, events, 0};
        const int n = ::poll(&p, 1, static_cast<int>(std::min<long long>(left.count(), 1 << 30)));
        if (n > 0) {
            return true; // ready, or an error or hang-up that the next call reports
        }
        if (n == 0 && Clock::now() >= end) {
            return false;
        }
        if (n < 0 && errno != EINTR) {
            return false;
        }
    }
}

std::string localAddress(int fd, int* port) {
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    if (::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        return {};
    }
    return numericAddress(address, length, port);
}

std::string peerAddress(int fd, int* port) {
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    if (::getpeername(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        return {};
    }
    return numericAddress(address, length, port);
}

bool hasUnreadInput(int fd) {
    char byte;
    return ::recv(fd, &byte, 1, MSG_PEEK | MSG_DONTWAIT) > 0;
}

void closeAfterDraining(int fd, std::chrono::milliseconds idle, Clock::time_point until,
                        std::size_t maxBytes) {
    ::shutdown(fd, SHUT_WR);
    char buffer[16384];
    std::size_t drained = 0;
    while (drained < maxBytes && waitForSocket(fd, POLLIN, idle, until)) {
        const ssize_t n =
            ::recv(fd, buffer, std::min(sizeof buffer, maxBytes - drained), MSG_DONTWAIT);
        if (n > 0) {
            drained += static_cast<std::size_t>(n);
        } else if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
            break;
        }
    }
    ::close(fd);
}

void closeConnection(int fd) {
    ::shutdown(fd, SHUT_RDWR);
    ::close(fd);
}

void AddressLimit::Slot::release() {
    if (owner_ != nullptr) {
        owner_->leave(address_);
        owner_ = nullptr;
    }
}

AddressLimit::Slot AddressLimit::enter(const std::string& address) {
    std::lock_guard lock(mutex_);
    std::size_t& count = active_[address];
    if (perAddress_ > 0 && count >= perAddress_) {
        return {};
    }
    ++count;
    return Slot(this, address);
}

void AddressLimit::leave(const std::string& address) {
    std::lock_guard lock(mutex_);
    const auto it = active_.find(address);
    if (it != active_.end() && --it->second == 0) {
        active_.erase(it);
    }
}

} // namespace reflector
