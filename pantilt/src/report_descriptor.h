// Reading the output report length out of a binary HID report descriptor.
#pragma once

#include <cstddef>
#include <cstdint>

namespace pantilt {

// The longest output report the parser accepts, in data bytes (without the report ID byte). It is
// the largest report hidraw passes to a device; longer declarations are taken as garbage.
constexpr std::size_t kMaxOutputReportBytes = 16384;

struct OutputReportInfo {
    // False when the descriptor is malformed: a truncated item, a Push or Pop that does not pair
    // up, unbalanced collections, report ID 0, an output report beyond kMaxOutputReportBytes, or
    // Output items outside any report in a descriptor that numbers its reports.
    bool valid = false;
    // True when the descriptor declares report IDs.
    bool usesReportIds = false;
    // Bytes of one output write, report ID byte included, as Windows reports it in
    // OutputReportByteLength: without report IDs 1 + the output report's data bytes; with report
    // IDs 1 + the data bytes of the longest output report. 0 when there is no output report.
    std::size_t byteLength = 0;
};

// Parses the descriptor and sums Report Size x Report Count of the Output main items per report
// ID. Never reads outside [data, data + size).
OutputReportInfo ParseOutputReport(const std::uint8_t* data, std::size_t size);

} // namespace pantilt
