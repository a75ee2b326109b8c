#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace reflector {

// One archived frame. Days and times are UTC.
struct ArchivedFrame {
    std::int64_t id = 0; // the frame's number, unique among the store's frames
    std::string takenAt; // "2026-12-07T10:40:55Z": when the relay received it
    std::int64_t takenAtMillis = 0;
    std::size_t bytes = 0;
};

// A day with archived frames.
struct ArchiveDay {
    std::string day; // "2026-12-07"
    std::size_t frames = 0;
};

// The archive frames of every camera and their index (camera, time, day). Per camera at most
// a number of frames and none older than a number of days are kept; the oldest go first. The
// index never names a frame whose bytes are missing. Identifiers must pass isValidCameraId
// (std::invalid_argument otherwise). Failures throw StorageError.
class ArchiveStore {
  public:
    virtual ~ArchiveStore() = default;

    // Keeps `jpeg` as the camera's frame of now, then lets go of what the limits no longer
    // keep. Nothing is kept when it throws.
    virtual ArchivedFrame add(const std::string& camera, const std::string& jpeg) = 0;
    // The days with frames of the camera, newest first.
    virtual std::vector<ArchiveDay> days(const std::string& camera) = 0;
    // The camera's frames of one day ("2026-12-07"), oldest first.
    virtual std::vector<ArchivedFrame> frames(const std::string& camera,
                                              const std::string& day) = 0;
    // The bytes of one frame of the camera; nullopt when there is no such frame.
    virtual std::optional<std::string> frame(const std::string& camera, std::int64_t id) = 0;
    // Removes the frames of every camera that are older than the days kept; returns how many.
    virtual std::size_t removeOld() = 0;
    // Removes every frame of the camera.
    virtual void forget(const std::string& camera) = 0;
};

} // namespace reflector
