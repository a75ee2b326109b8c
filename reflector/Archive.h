#pragma once

#include "Database.h"
#include "Time.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace reflector {

// One archived frame. Days and times are UTC.
struct ArchivedFrame {
    std::int64_t id = 0; // the frame's number, unique on this relay
    std::string takenAt; // "2026-12-07T10:40:55Z": when the relay received it
    std::int64_t takenAtMillis = 0;
    std::size_t bytes = 0;
};

// A day with archived frames.
struct ArchiveDay {
    std::string day; // "2026-12-07"
    std::size_t frames = 0;
};

// The archive frames of every camera: the files DIR/<camera>/<frame>.jpg and an index of them
// (camera, time, day) in the relay's database. Per camera at most `maxFrames` frames and none
// older than `maxDays` days are kept; the oldest go first. A frame is written to its file
// before its index entry is committed, so the index never names a missing file. Identifiers
// must pass isValidCameraId (std::invalid_argument otherwise). Safe to use from several threads.
class ArchiveStore {
  public:
    // Creates the folder when needed, clears what an interrupted upload left and removes the
    // frames older than the days kept (`readOnly`: none of this, only the index is set up).
    // Throws FrameStoreError or DatabaseError.
    ArchiveStore(Database& db, std::filesystem::path dir, TimeSource now, std::size_t maxFrames,
                 int maxDays, bool readOnly = false);

    // Keeps `jpeg` as the camera's frame of now, then lets go of what the limits no longer
    // keep. Throws FrameStoreError or DatabaseError (nothing is kept then).
    ArchivedFrame add(const std::string& camera, const std::string& jpeg);

    // The days with frames of the camera, newest first.
    std::vector<ArchiveDay> days(const std::string& camera);
    // The camera's frames of one day ("2026-12-07"), oldest first.
    std::vector<ArchivedFrame> frames(const std::string& camera, const std::string& day);
    // The bytes of one frame of the camera; nullopt when there is no such frame.
    std::optional<std::string> frame(const std::string& camera, std::int64_t id);

    // Removes the frames of every camera that are older than the days kept; returns how many.
    std::size_t removeOld();
    // Removes every frame of the camera, its folder too.
    void forget(const std::string& camera);

  private:
    struct Gone {
        std::string camera;
        std::int64_t id;
    };
    std::filesystem::path fileFor(const std::string& camera, std::int64_t id) const;
    void removeFiles(const std::vector<Gone>& gone);
    std::int64_t oldestKept(); // milliseconds

    Database& db_;
    std::filesystem::path dir_;
    std::filesystem::path incoming_; // frames being written
    TimeSource now_;
    std::size_t maxFrames_;
    int maxDays_;
};

} // namespace reflector
