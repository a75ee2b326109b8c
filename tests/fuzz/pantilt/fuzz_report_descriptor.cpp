// libFuzzer entry for the HID report descriptor parser. The same entry runs in the ordinary test
// suite over the seed corpus and generated inputs (replay_test.cpp).
//
// Besides staying inside its input, the parser must keep these properties; a violation traps.
//  - Parsing is deterministic.
//  - A rejected descriptor has no length; an accepted one's length is 0 or lies between 2 (one
//    data byte plus the report ID byte) and the longest writable report plus its ID byte.
//  - Appending an Input item to an accepted descriptor keeps it accepted with the same length.
//  - Appending an Output item never makes the output report shorter.
#include "report_descriptor.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace {

using pantilt::OutputReportInfo;
using pantilt::ParseOutputReport;

void Check(bool condition) {
    if (!condition) {
        __builtin_trap();
    }
}

bool Same(const OutputReportInfo& a, const OutputReportInfo& b) {
    return a.valid == b.valid && a.usesReportIds == b.usesReportIds && a.byteLength == b.byteLength;
}

OutputReportInfo ParseWith(const std::uint8_t* data, std::size_t size,
                           std::initializer_list<std::uint8_t> item) {
    std::vector<std::uint8_t> longer(data, data + size);
    longer.insert(longer.end(), item);
    return ParseOutputReport(longer.data(), longer.size());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const OutputReportInfo info = ParseOutputReport(data, size);
    Check(Same(info, ParseOutputReport(data, size)));

    if (!info.valid) {
        Check(info.byteLength == 0);
        return 0;
    }
    Check(info.byteLength == 0 ||
          (info.byteLength >= 2 && info.byteLength <= pantilt::kMaxOutputReportBytes + 1));

    const OutputReportInfo withInput = ParseWith(data, size, {0x81, 0x02});
    Check(Same(info, withInput));

    const OutputReportInfo withOutput = ParseWith(data, size, {0x91, 0x02});
    Check(!withOutput.valid || withOutput.byteLength >= info.byteLength);
    return 0;
}
