#include "report_descriptor.h"

#include <array>
#include <cstdint>

namespace pantilt {

namespace {

// Item types and tags of the short item prefix byte (HID 1.11, 6.2.2.2).
constexpr unsigned kTypeMain = 0;
constexpr unsigned kTypeGlobal = 1;

constexpr unsigned kMainOutput = 0x9;
constexpr unsigned kMainCollection = 0xA;
constexpr unsigned kMainEndCollection = 0xC;

constexpr unsigned kGlobalReportSize = 0x7;
constexpr unsigned kGlobalReportId = 0x8;
constexpr unsigned kGlobalReportCount = 0x9;
constexpr unsigned kGlobalPush = 0xA;
constexpr unsigned kGlobalPop = 0xB;

constexpr std::uint8_t kLongItemPrefix = 0xFE;

// The same depth the Linux HID core allows for Push.
constexpr std::size_t kGlobalStackDepth = 4;
constexpr std::size_t kReportIdCount = 256;
constexpr std::uint64_t kMaxOutputBits = std::uint64_t{kMaxOutputReportBytes} * 8;

struct GlobalState {
    std::uint32_t reportSize = 0;
    std::uint32_t reportCount = 0;
    std::uint32_t reportId = 0;
};

} // namespace

OutputReportInfo ParseOutputReport(const std::uint8_t* data, std::size_t size) {
    OutputReportInfo info;
    if (data == nullptr && size != 0) {
        return info;
    }

    // Output bits per report ID; index 0 holds the report of a descriptor without report IDs.
    std::array<std::uint64_t, kReportIdCount> outputBits{};
    std::array<GlobalState, kGlobalStackDepth> stack{};
    std::size_t stackDepth = 0;
    GlobalState global;
    std::size_t collectionDepth = 0;
    bool outputWithoutId = false;

    std::size_t pos = 0;
    while (pos < size) {
        const std::uint8_t prefix = data[pos];
        if (prefix == kLongItemPrefix) {
            // Long item: prefix, data size, tag, data. No long item is defined; skip it.
            if (size - pos < 3) {
                return info;
            }
            const std::size_t dataSize = data[pos + 1];
            if (size - pos - 3 < dataSize) {
                return info;
            }
            pos += 3 + dataSize;
            continue;
        }

        const unsigned sizeCode = prefix & 0x3u;
        const std::size_t dataSize = sizeCode == 3 ? 4 : sizeCode;
        const unsigned type = (prefix >> 2) & 0x3u;
        const unsigned tag = prefix >> 4;
        if (size - pos - 1 < dataSize) {
            return info;
        }
        std::uint32_t value = 0;
        for (std::size_t i = 0; i < dataSize; ++i) {
            value |= std::uint32_t{data[pos + 1 + i]} << (8 * i);
        }
        pos += 1 + dataSize;

        if (type == kTypeGlobal) {
            switch (tag) {
            case kGlobalReportSize:
                global.reportSize = value;
                break;
            case kGlobalReportCount:
                global.reportCount = value;
                break;
            case kGlobalReportId:
                if (value == 0 || value >= kReportIdCount) {
                    return info;
                }
                global.reportId = value;
                info.usesReportIds = true;
                break;
            case kGlobalPush:
                if (stackDepth == stack.size()) {
                    return info;
                }
                stack[stackDepth++] = global;
                break;
            case kGlobalPop:
                if (stackDepth == 0) {
                    return info;
                }
                global = stack[--stackDepth];
                break;
            default:
                break;
            }
        } else if (type == kTypeMain) {
            switch (tag) {
            case kMainOutput: {
                // Both factors are below 2^32, so the product fits; the running sum is bounded
                // before it can grow further.
                const std::uint64_t bits =
                    std::uint64_t{global.reportSize} * std::uint64_t{global.reportCount};
                std::uint64_t& total = outputBits[global.reportId];
                if (bits > kMaxOutputBits - total) {
                    return info;
                }
                total += bits;
                if (global.reportId == 0 && bits > 0) {
                    outputWithoutId = true;
                }
                break;
            }
            case kMainCollection:
                ++collectionDepth;
                break;
            case kMainEndCollection:
                if (collectionDepth == 0) {
                    return info;
                }
                --collectionDepth;
                break;
            default:
                break;
            }
        }
        // Local items and the reserved type do not change report lengths.
    }

    if (collectionDepth != 0) {
        return info;
    }
    // Output fields before the first Report ID of a numbered descriptor belong to no report.
    if (info.usesReportIds && outputWithoutId) {
        return info;
    }

    std::uint64_t longestBits = 0;
    for (const std::uint64_t bits : outputBits) {
        if (bits > longestBits) {
            longestBits = bits;
        }
    }
    info.valid = true;
    if (longestBits > 0) {
        info.byteLength = static_cast<std::size_t>((longestBits + 7) / 8) + 1;
    }
    return info;
}

} // namespace pantilt
