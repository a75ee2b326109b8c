// libFuzzer entry for the station's reading of what the network sends it: the split of a relay's
// answer into header block and body, the header look-up, the chunked decoding, and the reading
// of a piece from the posting helper's channel. The same entry runs in the ordinary test suite
// over the seed corpus and generated inputs (../replay_test.cpp).
//
// Besides staying inside its input, the reading must keep these properties; a violation traps.
//  - A decoded chunked body is never longer than the body it came from.
//  - An answer without a blank line is no answer; a split answer's header block ends with its
//    line end and, without chunked coding, header block, blank line and body are the answer.
//  - A header's value never holds a line end.
//  - A channel piece answers exactly when it holds one of the phrases the station waits for,
//    and a flag is only ever set by a piece of its family.
#include "posting/ChannelAnswer.h"
#include "service/HttpText.h"

#include <QByteArray>

#include <cstddef>
#include <cstdint>

namespace {

void Check(bool condition) {
    if (!condition)
        __builtin_trap();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArray input(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));

    if (const std::optional<QByteArray> decoded = kestrova::DecodeChunked(input))
        Check(decoded->size() <= input.size());

    const kestrova::ServiceAnswer answer = kestrova::SplitAnswer(input);
    if (!input.contains("\r\n\r\n")) {
        Check(!answer.ok);
    } else if (answer.ok) {
        Check(answer.headers.endsWith("\r\n"));
        if (kestrova::GetHeaderValue(answer.headers, "Transfer-Encoding") != "chunked")
            Check(answer.headers + "\r\n" + answer.body == input);
    }
    for (const char* name : {"Transfer-Encoding", "Content-Length", ""})
        Check(!kestrova::GetHeaderValue(input, name).contains("\r\n"));

    const kestrova::ChannelAnswer piece = kestrova::ReadChannelAnswer(input);
    bool phrase = false;
    for (const char* p :
         {"Posting;", "Polling;", "Reflector;", "Settings;", "Dump OK",
          "Settings written successfully.", "Failed to synchronise settings.", "Shutdown;"})
        phrase = phrase || input.contains(p);
    Check(piece.answered == phrase);
    Check(!piece.postingActive || input.contains("Posting;"));
    Check(!piece.postingCheckOK || input.contains("Posting;"));
    Check(!piece.pollingActive || input.contains("Polling;"));
    Check(!piece.reflectorRunning || input.contains("Reflector;"));
    return 0;
}
