// The motor unit's output reports: the long (17-byte) and short (12-byte) forms.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace pantilt {

enum class Axis { X = 0, Y = 1, Z = 2 };
constexpr int kAxisCount = 3;

// Last commanded state of one axis; the unit is never asked for it.
struct AxisState {
    std::int32_t position;
    std::int32_t speed;
    std::int32_t home;
    std::int32_t limit;
};

// State of all three axes, indexed by Axis.
using MotorAxes = std::array<AxisState, kAxisCount>;

// Command byte of a report.
enum MotorCommand : std::uint8_t {
    kCommandMoveX = 0x01, // also the short form's second initialisation report
    kCommandMoveY = 0x02, // also the short form's third initialisation report
    kCommandMoveZ = 0x03, // also the short form's fourth initialisation report
    kCommandInitSecond = 0xFE,
    kCommandInitFirst = 0xFF,
};

constexpr std::size_t kLongReportSize = 17;
constexpr std::size_t kShortReportSize = 12;

using LongReport = std::array<std::uint8_t, kLongReportSize>;
using ShortReport = std::array<std::uint8_t, kShortReportSize>;

// The speed byte: 1000 / speed, integer division, low 8 bits of the quotient (200 gives 5,
// 3 gives 333 and so 0x4D). Speed 0 has no quotient and is sent as 0xFF, the largest byte value
// and so the slowest speed the byte can express.
std::uint8_t SpeedByte(std::int32_t speed);

// Byte 0 is the report ID (0). One-byte positions, homes and limits are their low 8 bits; the Y
// position (both forms) and the Y limit (long form) are two bytes, low byte first.
LongReport BuildLongReport(const MotorAxes& axes, std::uint8_t command);
// The short form carries no X or Y home and no X or Y limit.
ShortReport BuildShortReport(const MotorAxes& axes, std::uint8_t command);

// The report as it is written to a device whose output report is length bytes long: cut off at
// that length, or padded with zeros up to it.
std::vector<std::uint8_t> FitReport(const std::uint8_t* report, std::size_t size,
                                    std::size_t length);

} // namespace pantilt
