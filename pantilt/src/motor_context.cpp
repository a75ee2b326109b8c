#include "motor_context.h"

#include "hidraw_discovery.h"

#include <cerrno>
#include <unistd.h>
#include <vector>

namespace pantilt {

MotorContext::MotorContext()
    : axes_{{
          {100, 200, 100, 210}, // X
          {90, 200, 90, 330},   // Y
          {55, 200, 55, 215},   // Z
      }} {}

MotorContext::~MotorContext() {
    Close();
}

bool MotorContext::Open(std::uint16_t vendor, std::uint16_t product) {
    Close();
    OpenedDevice device;
    if (!FindMotorDevice(vendor, product, device)) {
        return false;
    }
    fd_ = device.fd;
    outputLength_ = device.outputLength;
    return true;
}

bool MotorContext::Close() {
    if (fd_ < 0) {
        return true;
    }
    // Linux releases the descriptor even when close() reports an error: never retry it.
    const int result = ::close(fd_);
    fd_ = -1;
    outputLength_ = 0;
    return result == 0;
}

bool MotorContext::Init() {
    if (!UsesShortForm()) {
        SendLongReport(kCommandInitFirst);
        SendLongReport(kCommandInitSecond);
        return true;
    }
    for (const std::uint8_t command :
         {kCommandInitFirst, kCommandMoveX, kCommandMoveY, kCommandMoveZ}) {
        if (!SendShortReport(command)) {
            return false;
        }
    }
    return true;
}

bool MotorContext::Move(Axis axis, std::int32_t position, std::int32_t speed) {
    AxisState& state = axes_[static_cast<std::size_t>(axis)];
    state.position = position;
    state.speed = speed;
    const auto command = static_cast<std::uint8_t>(kCommandMoveX + static_cast<int>(axis));
    return UsesShortForm() ? SendShortReport(command) : SendLongReport(command);
}

bool MotorContext::SendLongReport(std::uint8_t command) {
    const LongReport report = BuildLongReport(axes_, command);
    return Write(report.data(), report.size());
}

bool MotorContext::SendShortReport(std::uint8_t command) {
    const ShortReport report = BuildShortReport(axes_, command);
    return Write(report.data(), report.size());
}

bool MotorContext::Write(const std::uint8_t* report, std::size_t size) {
    if (fd_ < 0) {
        return false;
    }
    const std::vector<std::uint8_t> bytes = FitReport(report, size, outputLength_);
    ssize_t written;
    do {
        written = ::write(fd_, bytes.data(), bytes.size());
    } while (written < 0 && errno == EINTR);
    if (written < 0 || static_cast<std::size_t>(written) != bytes.size()) {
        Close();
        return false;
    }
    return true;
}

} // namespace pantilt
