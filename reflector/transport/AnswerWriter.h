#pragma once

// Writing an answer: its status line and header lines (the answer's own headers checked for
// line breaks, the relay's standard ones added), and the bookkeeping of a write that the
// client takes in pieces.

#include "core/Http.h"
#include "transport/Beast.h"

#include <cstddef>
#include <string>
#include <vector>

namespace reflector::transport {

// Writes the status line and header lines of an answer into `head` (its earlier text goes,
// its room stays for the next answer): `close` says Connection: close, and `keepAliveSaid`
// Connection: keep-alive (to an HTTP/1.0 client); `stream` leaves out the length.
void answerHead(std::string& head, const HttpAnswer& answer, bool close, bool keepAliveSaid,
                bool stream);

// Drops the first `n` bytes of a buffer sequence.
void consume(std::vector<net::const_buffer>& buffers, std::size_t n);

// True for the errors of a write that would have to wait for room.
bool wouldBlock(const error_code& ec);

} // namespace reflector::transport
