// Builds binary HID report descriptors item by item for the tests.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace pantilt::test {

class DescriptorBuilder {
  public:
    enum ItemType : std::uint8_t { kMain = 0, kGlobal = 1, kLocal = 2, kReserved = 3 };

    // Main items.
    DescriptorBuilder& Input(std::uint32_t flags = 0x02) { return Item(kMain, 0x8, flags); }
    DescriptorBuilder& Output(std::uint32_t flags = 0x02) { return Item(kMain, 0x9, flags); }
    DescriptorBuilder& Feature(std::uint32_t flags = 0x02) { return Item(kMain, 0xB, flags); }
    DescriptorBuilder& Collection(std::uint32_t kind = 0x01) { return Item(kMain, 0xA, kind); }
    DescriptorBuilder& EndCollection() { return Sized(kMain, 0xC, 0, 0); }

    // Global items.
    DescriptorBuilder& UsagePage(std::uint32_t page) { return Item(kGlobal, 0x0, page); }
    DescriptorBuilder& LogicalMinimum(std::uint32_t v) { return Item(kGlobal, 0x1, v); }
    DescriptorBuilder& LogicalMaximum(std::uint32_t v) { return Item(kGlobal, 0x2, v); }
    DescriptorBuilder& ReportSize(std::uint32_t bits) { return Item(kGlobal, 0x7, bits); }
    DescriptorBuilder& ReportId(std::uint32_t id) { return Sized(kGlobal, 0x8, id, 1); }
    DescriptorBuilder& ReportCount(std::uint32_t n) { return Item(kGlobal, 0x9, n); }
    DescriptorBuilder& Push() { return Sized(kGlobal, 0xA, 0, 0); }
    DescriptorBuilder& Pop() { return Sized(kGlobal, 0xB, 0, 0); }

    // Local items.
    DescriptorBuilder& Usage(std::uint32_t usage) { return Item(kLocal, 0x0, usage); }
    DescriptorBuilder& UsageMinimum(std::uint32_t usage) { return Item(kLocal, 0x1, usage); }
    DescriptorBuilder& UsageMaximum(std::uint32_t usage) { return Item(kLocal, 0x2, usage); }

    // A short item with the smallest data size that holds value (0, 1, 2 or 4 bytes).
    DescriptorBuilder& Item(std::uint8_t type, std::uint8_t tag, std::uint32_t value) {
        const std::size_t size = value == 0 ? 0 : value <= 0xFF ? 1 : value <= 0xFFFF ? 2 : 4;
        return Sized(type, tag, value, size);
    }

    // A short item with exactly dataSize (0, 1, 2 or 4) data bytes, little-endian.
    DescriptorBuilder& Sized(std::uint8_t type, std::uint8_t tag, std::uint32_t value,
                             std::size_t dataSize) {
        const std::uint8_t sizeCode = dataSize == 4 ? 3 : static_cast<std::uint8_t>(dataSize);
        bytes_.push_back(static_cast<std::uint8_t>((tag << 4) | (type << 2) | sizeCode));
        for (std::size_t i = 0; i < dataSize; ++i) {
            bytes_.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
        }
        return *this;
    }

    // A long item: 0xFE, data size, tag, data.
    DescriptorBuilder& Long(std::uint8_t tag, const std::vector<std::uint8_t>& data) {
        bytes_.push_back(0xFE);
        bytes_.push_back(static_cast<std::uint8_t>(data.size()));
        bytes_.push_back(tag);
        bytes_.insert(bytes_.end(), data.begin(), data.end());
        return *this;
    }

    DescriptorBuilder& Raw(const std::vector<std::uint8_t>& data) {
        bytes_.insert(bytes_.end(), data.begin(), data.end());
        return *this;
    }

    const std::vector<std::uint8_t>& Bytes() const { return bytes_; }

  private:
    std::vector<std::uint8_t> bytes_;
};

// A vendor-defined application collection with one input and one output report of byte fields
// and no report IDs, as the motor base declares it: its output writes are outputBytes + 1 long.
inline std::vector<std::uint8_t> MotorDescriptor(std::uint32_t outputBytes) {
    return DescriptorBuilder()
        .UsagePage(0xFF00)
        .Usage(0x01)
        .Collection(0x01)
        .LogicalMinimum(0)
        .LogicalMaximum(0xFF)
        .ReportSize(8)
        .ReportCount(8)
        .Usage(0x01)
        .Input()
        .ReportCount(outputBytes)
        .Usage(0x02)
        .Output()
        .EndCollection()
        .Bytes();
}

} // namespace pantilt::test
