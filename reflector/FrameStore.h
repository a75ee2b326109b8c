#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <list>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <unordered_map>
#include <utility>

namespace reflector {

// A frame could not be written to disk.
class FrameStoreError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// Writes `bytes` to a new file in `dir` whose name starts with ".tmp-" and `stem`, readable by
// all (0644), and returns its path. Throws FrameStoreError (leaving no file behind).
std::filesystem::path writeTemporaryFile(const std::filesystem::path& dir, const std::string& stem,
                                         const std::string& bytes);

// Renames `temp` over `target` in one step; throws FrameStoreError and removes `temp` on failure.
void replaceFile(const std::filesystem::path& temp, const std::filesystem::path& target);

// The latest frame of each camera as DIR/ID.jpg on disk, so that it survives a restart, with
// the frames of the cameras used most recently also kept in memory. A file is replaced
// atomically (written to a temporary file in the same folder, then renamed over the old one),
// so a reader never sees half a frame. Safe to use from several threads. Identifiers must pass
// isValidCameraId; any other throws std::invalid_argument, so no file name is ever made from
// unchecked text.
class FrameStore {
  public:
    // Frames kept in memory unless the constructor is told otherwise.
    static constexpr std::size_t kDefaultCachedFrames = 64;

    // Creates the folder when needed and removes temporary files left by an interrupted write.
    // At most `cachedFrames` frames (at least one) stay in memory; the others are read from
    // disk when asked for.
    explicit FrameStore(std::filesystem::path dir, std::size_t cachedFrames = kDefaultCachedFrames);

    // Stores `jpeg` as the camera's latest frame; throws FrameStoreError when the file cannot be
    // written (the previous frame then stays in place).
    void put(const std::string& id, std::string jpeg);

    // The camera's latest frame, or null when there is none. A frame not in memory is read from
    // disk (a file that is not a JPEG stream counts as none) and kept in memory from then on.
    std::shared_ptr<const std::string> latest(const std::string& id);

    std::filesystem::path fileFor(const std::string& id) const;

    // How many frames are in memory now.
    std::size_t cachedFrames() const;

  private:
    using Entry = std::pair<std::string, std::shared_ptr<const std::string>>;

    // Keeps `frame` as the camera's frame in memory, the most recently used, and lets the
    // least recently used go beyond the capacity. With cacheMutex_ held.
    void remember(const std::string& id, std::shared_ptr<const std::string> frame);

    std::filesystem::path dir_;
    std::size_t capacity_;
    std::mutex writeMutex_;         // one writer at a time, so disk and memory agree
    mutable std::mutex cacheMutex_; // guards the members below
    std::list<Entry> recent_;       // most recently used first
    std::unordered_map<std::string, std::list<Entry>::iterator> byId_;
    std::uint64_t puts_ = 0; // frames stored so far
};

} // namespace reflector
