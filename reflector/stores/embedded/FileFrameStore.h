#pragma once

#include "stores/Frames.h"
#include "stores/Storage.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <utility>

namespace reflector {

// A frame could not be written to disk.
class FrameStoreError : public StorageError {
  public:
    using StorageError::StorageError;
};

// Writes `bytes` to a new file in `dir` whose name starts with ".tmp-" and `stem`, readable by
// all (0644), and returns its path. Throws FrameStoreError (leaving no file behind).
std::filesystem::path writeTemporaryFile(const std::filesystem::path& dir, const std::string& stem,
                                         const std::string& bytes);

// Renames `temp` over `target` in one step; throws FrameStoreError and removes `temp` on failure.
void replaceFile(const std::filesystem::path& temp, const std::filesystem::path& target);

// The latest frame of each camera as DIR/ID.jpg on disk, so that it survives a restart, with
// the frames of the cameras used most recently also kept in memory, up to a number of bytes in
// all. A file is replaced atomically (written to a temporary file in the same folder, then
// renamed over the old one), so a reader never sees half a frame. A frame just stored is in
// memory when the subscribers hear of it, unless it is larger than the whole cache; then it is
// read from its file each time.
class FileFrameStore : public FrameStore {
  public:
    // Bytes of frames kept in memory unless the constructor is told otherwise.
    static constexpr std::size_t kDefaultCacheBytes = 128 * 1024 * 1024;

    // Creates the folder when needed and removes temporary files left by an interrupted write;
    // `readOnly`: only reads what the folder holds. Frames of at most `cacheBytes` in all stay
    // in memory (a larger frame never does); the others are read from disk when asked for.
    explicit FileFrameStore(std::filesystem::path dir, std::size_t cacheBytes = kDefaultCacheBytes,
                            bool readOnly = false);

    // Throws FrameStoreError when the file cannot be written.
    void put(const std::string& id, std::string jpeg) override;
    // A frame not in memory is read from disk (a file that is not a JPEG stream counts as
    // none) and kept in memory from then on.
    std::shared_ptr<const Frame> frame(const std::string& id) override;
    bool inMemory(const std::string& id) override;
    void remove(const std::string& id) override;
    Subscription subscribe(const std::string& id, std::function<void()> function) override {
        return stored_.subscribe(id, std::move(function));
    }

    std::filesystem::path fileFor(const std::string& id) const;

    // How many frames, and how many bytes of them, are in memory now.
    std::size_t cachedFrames() const;
    std::size_t cachedBytes() const;

  private:
    using Entry = std::pair<std::string, std::shared_ptr<const Frame>>;

    // Keeps `frame` as the camera's frame in memory, the most recently used, and lets the
    // least recently used go beyond the capacity. With cacheMutex_ held.
    void remember(const std::string& id, std::shared_ptr<const Frame> frame);
    // Lets the camera's frame go from memory. With cacheMutex_ held.
    void forget(const std::string& id);

    std::filesystem::path dir_;
    std::size_t capacity_;
    std::mutex writeMutex_;         // one writer at a time, so disk and memory agree
    mutable std::mutex cacheMutex_; // guards the members below
    std::list<Entry> recent_;       // most recently used first
    std::unordered_map<std::string, std::list<Entry>::iterator> byId_;
    std::size_t bytes_ = 0;  // of the frames in memory
    std::uint64_t puts_ = 0; // frames stored so far
    Notifier stored_;
};

} // namespace reflector
