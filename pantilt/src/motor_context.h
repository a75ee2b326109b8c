// The motor context: the open unit and the last commanded state of its three axes.
#pragma once

#include "motor_reports.h"

#include <cstddef>
#include <cstdint>

namespace pantilt {

class MotorContext {
  public:
    // Report mode 2 (long form), positions 100/90/55, speeds 200, homes 100/90/55, limits
    // 210/330/215 for X/Y/Z; no unit open.
    MotorContext();
    // Closes the unit if it is open.
    ~MotorContext();
    MotorContext(const MotorContext&) = delete;
    MotorContext& operator=(const MotorContext&) = delete;

    // Searches for the unit and keeps it open on a match. A unit that is still open is closed
    // first, so after a failed search no unit is open. The axis state is kept either way.
    bool Open(std::uint16_t vendor, std::uint16_t product);
    // True when nothing was open or close() succeeded. The unit counts as closed either way.
    bool Close();
    bool IsOpen() const { return fd_ >= 0; }
    // Bytes of every write to the open unit.
    std::size_t OutputLength() const { return outputLength_; }

    // The initialisation sequence for the current report mode. Long form: first and second
    // initialisation reports, result always true. Short form: the four initialisation reports,
    // stopping at the first failed write; true when all four were written.
    bool Init();
    // Stores the axis' position and speed, then writes one move report with the axis' command.
    bool Move(Axis axis, std::int32_t position, std::int32_t speed);

    std::int16_t reportMode() const { return reportMode_; }
    void setReportMode(std::int16_t mode) { reportMode_ = mode; }
    bool UsesShortForm() const { return reportMode_ == 1; }
    const AxisState& axis(Axis axis) const { return axes_[static_cast<std::size_t>(axis)]; }

  private:
    // Build one report of the current axis state with the command and write it.
    bool SendLongReport(std::uint8_t command);
    bool SendShortReport(std::uint8_t command);
    // One write of exactly the output report length. A failed or short write closes the unit.
    bool Write(const std::uint8_t* report, std::size_t size);

    int fd_ = -1;
    std::size_t outputLength_ = 0;
    std::int16_t reportMode_ = 2;
    MotorAxes axes_;
};

} // namespace pantilt
