#pragma once

#include "core/Time.h"
#include "stores/Archive.h"
#include "stores/embedded/Database.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace reflector {

// The archive frames as the files DIR/<camera>/<frame>.jpg, their index (table `archive`) in the
// relay's database. A frame is written to its file before its index entry is committed, so the
// index never names a missing file.
class FileArchiveStore : public ArchiveStore {
  public:
    // Creates the folder when needed, clears what an interrupted upload left and removes the
    // frames older than the days kept (`readOnly`: none of this, only the index is set up).
    // Per camera at most `maxFrames` frames and none older than `maxDays` days are kept.
    // Throws FrameStoreError or DatabaseError.
    FileArchiveStore(Database& db, std::filesystem::path dir, TimeSource now, std::size_t maxFrames,
                     int maxDays, bool readOnly = false);

    // Throws FrameStoreError or DatabaseError (nothing is kept then).
    ArchivedFrame add(const std::string& camera, const std::string& jpeg) override;
    std::vector<ArchiveDay> days(const std::string& camera) override;
    std::vector<ArchivedFrame> frames(const std::string& camera, const std::string& day) override;
    std::optional<std::string> frame(const std::string& camera, std::int64_t id) override;
    std::size_t removeOld() override;
    // Its folder too.
    void forget(const std::string& camera) override;

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
