// A port on 127.0.0.1 that refuses connections: for the station's tests and for those that need
// no Qt (the posting helper's).
#pragma once

#include <cstdint>

namespace kestrova::test {

// A TCP port on 127.0.0.1, below 32768 (the station keeps relay ports in 16 signed bits), that
// refuses connections for as long as the object lives: a socket is bound to the port but does
// not listen, so a connection to it is refused and nothing else can take the port meanwhile.
class RefusingPort {
  public:
    RefusingPort();
    ~RefusingPort();
    RefusingPort(const RefusingPort&) = delete;
    RefusingPort& operator=(const RefusingPort&) = delete;

    // 0 when no port could be had.
    std::uint16_t port() const { return port_; }
    // Lets go of the port, for a server of the test's to listen on it.
    void release();

  private:
    int fd_ = -1;
    std::uint16_t port_ = 0;
};

} // namespace kestrova::test
