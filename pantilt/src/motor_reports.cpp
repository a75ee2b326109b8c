#include "motor_reports.h"

#include <algorithm>

namespace pantilt {

namespace {

std::uint8_t LowByte(std::int32_t value) {
    return static_cast<std::uint8_t>(static_cast<std::uint32_t>(value) & 0xFFu);
}

std::uint8_t SecondByte(std::int32_t value) {
    return static_cast<std::uint8_t>((static_cast<std::uint32_t>(value) >> 8) & 0xFFu);
}

const AxisState& Of(const MotorAxes& axes, Axis axis) {
    return axes[static_cast<std::size_t>(axis)];
}

} // namespace

std::uint8_t SpeedByte(std::int32_t speed) {
    if (speed == 0) {
        return 0xFF;
    }
    // 1000 / speed cannot overflow: the only overflowing int32 division is INT32_MIN / -1.
    return LowByte(1000 / speed);
}

LongReport BuildLongReport(const MotorAxes& axes, std::uint8_t command) {
    const AxisState& x = Of(axes, Axis::X);
    const AxisState& y = Of(axes, Axis::Y);
    const AxisState& z = Of(axes, Axis::Z);
    return LongReport{
        0x00,
        LowByte(x.position),
        LowByte(y.position),
        SecondByte(y.position),
        LowByte(z.position),
        SpeedByte(z.speed),
        LowByte(z.home),
        LowByte(z.limit),
        SpeedByte(x.speed),
        LowByte(x.limit),
        LowByte(x.home),
        SpeedByte(y.speed),
        LowByte(y.home),
        LowByte(y.limit),
        SecondByte(y.limit),
        command,
        0x00,
    };
}

ShortReport BuildShortReport(const MotorAxes& axes, std::uint8_t command) {
    const AxisState& x = Of(axes, Axis::X);
    const AxisState& y = Of(axes, Axis::Y);
    const AxisState& z = Of(axes, Axis::Z);
    return ShortReport{
        0x00,
        LowByte(x.position),
        SpeedByte(x.speed),
        LowByte(y.position),
        SecondByte(y.position),
        SpeedByte(y.speed),
        LowByte(z.position),
        SpeedByte(z.speed),
        LowByte(z.home),
        LowByte(z.limit),
        command,
        0x00,
    };
}

std::vector<std::uint8_t> FitReport(const std::uint8_t* report, std::size_t size,
                                    std::size_t length) {
    std::vector<std::uint8_t> out(length, 0x00);
    std::copy_n(report, std::min(size, length), out.begin());
    return out;
}

} // namespace pantilt
