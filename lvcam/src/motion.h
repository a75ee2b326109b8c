// The camera's motor: finding it, homing it and moving it, over a DeviceOps.
#pragma once

#include "device_ops.h"
#include "video_nodes.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace lvcam {

// Results of the exports.
constexpr std::int32_t kDone = 1;
constexpr std::int32_t kNotDone = 0;
constexpr std::int32_t kUnreachable = -1;

// Direction codes of Function5.
constexpr std::int16_t kLeft = 0;
constexpr std::int16_t kRight = 1;
constexpr std::int16_t kUp = 2;
constexpr std::int16_t kDown = 3;

// The most moves one call sends. The Logitech motors take at most about 70 degrees in one move,
// so eight cover any travel a camera has, while an absurd amount cannot keep the caller busy.
constexpr std::size_t kMaxMovesPerCall = 8;

// The moves that make up a relative move by total (control units, signed): each within the
// control's range [minimum, maximum], at most kMaxMovesPerCall of them; what is beyond is
// dropped. Empty when total is 0 or the range leaves no room in total's direction (the driver
// would turn every value into 0).
std::vector<std::int32_t> SplitMove(std::int64_t total, std::int32_t minimum, std::int32_t maximum);

class Motion {
  public:
    explicit Motion(DeviceOps& ops) : ops_(ops) {}

    // Looks for the camera and remembers it; forgets the previous one when none is found.
    bool Connect();
    // Pan and tilt reset together: kDone, kNotDone without reset controls, kUnreachable.
    std::int32_t Home();
    // A relative move: kDone, kNotDone for an unknown direction or a range without room that
    // way, kUnreachable when no camera is remembered, it cannot be reached or a move fails.
    std::int32_t Move(std::int16_t direction, std::int32_t amount);

    // The remembered node, empty when there is none.
    const std::string& node() const { return node_; }

  private:
    // The first node, in search order, that Examine accepts.
    bool Find(std::string& path);
    // A capture node with relative pan and tilt controls, mapping them first on a Logitech motor
    // camera that lacks any of its four motor controls.
    bool Examine(const VideoNode& node, const std::string& sysfsRoot);
    void MapLogitechControls(int fd, const std::string& path);
    bool HasControl(int fd, std::uint32_t id, ControlInfo* info = nullptr);
    bool HasRelativeControls(int fd);
    bool HasResetControls(int fd);
    // A descriptor of the node when it opens and still offers relative pan and tilt, else -1.
    int OpenWithControls(const std::string& path);
    // The remembered camera, opened. When it has gone (unplugged, or plugged in again and so
    // without its mapped controls) the search runs once more and a camera found replaces it.
    int Reach();

    DeviceOps& ops_;
    std::string node_;
};

} // namespace lvcam
