// Reading the service's HTTP answers: the split into header block and body, the header look-up
// and the chunked decoding. Plain functions of their input, so that any bytes can be fed to them.
#pragma once

#include <QByteArray>

#include <optional>

namespace kestrova {

// A service answer split at its first blank line.
struct ServiceAnswer {
    bool ok = false;    // false: no blank line, or a chunked body that cannot be decoded
    QByteArray headers; // status line and header lines, each with its CR LF
    QByteArray body;    // de-chunked when the answer says "Transfer-Encoding: chunked"
};

// Splits an answer at its first blank line and decodes a chunked body. An answer without the
// blank line is no answer (ok is false): it was cut short, and its status line must not be
// taken for a body.
ServiceAnswer SplitAnswer(const QByteArray& answer);

// The value of the header `name` (exact, case-sensitive) in a header block; empty when absent.
// The status line never matches.
QByteArray GetHeaderValue(const QByteArray& headers, const QByteArray& name);

// Decodes a body in chunked transfer coding. Chunk sizes are hexadecimal of any size the body
// can hold; chunk extensions after the size and trailer lines after the last chunk are
// ignored. A malformed body (a size line without a size, a chunk longer than the body, a
// chunk not followed by CR LF, no last chunk) gives nullopt.
std::optional<QByteArray> DecodeChunked(const QByteArray& body);

} // namespace kestrova
