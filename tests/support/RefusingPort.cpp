#include "support/RefusingPort.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <random>

namespace kestrova::test {

RefusingPort::RefusingPort() {
    // Without SO_REUSEADDR, so that no other socket can be bound to the port while it is held.
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd_ < 0)
        return;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    thread_local std::mt19937 random{std::random_device{}()};
    std::uniform_int_distribution<int> ports(20000, 32767);
    for (int attempt = 0; attempt < 500; ++attempt) {
        const auto candidate = static_cast<std::uint16_t>(ports(random));
        address.sin_port = htons(candidate);
        if (::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0) {
            port_ = candidate;
            return;
        }
    }
}

RefusingPort::~RefusingPort() {
    release();
}

void RefusingPort::release() {
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
}

} // namespace kestrova::test
