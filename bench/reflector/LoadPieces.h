// What the relay's load programs share: test pictures, loopback connections from chosen
// addresses, and the requests a station sends.
#pragma once

#include <string>

namespace benchload {

// A JPEG at quality 75 of a scene with some texture, different for every seed.
std::string makeJpeg(unsigned seed, int width = 320, int height = 240);

// A TCP connection from `from` (a loopback address) to 127.0.0.1:`port`; -1 when it fails. A
// non-blocking one may still be connecting.
int connectTo(int port, const std::string& from = "127.0.0.1", bool blocking = true);

// One request on a fresh connection from `from`, read until the relay closes it (as the
// station does); empty when nothing came. Each wait is bounded by 10 s.
std::string exchange(int port, const std::string& request, const std::string& from = "127.0.0.1");

// The status of an HTTP answer, 0 when it is none.
int statusOf(const std::string& answer);

// A station's GET, carrying its key, on a connection it closes after the answer.
std::string stationGet(const std::string& uri, const std::string& key);

// A station's upload of `frame` for camera `id`, carrying its key.
std::string uploadRequest(const std::string& id, const std::string& frame, const std::string& key);

} // namespace benchload
