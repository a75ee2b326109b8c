#pragma once

#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>

namespace reflector {

// A frame could not be written to disk.
class FrameStoreError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// The latest frame of each camera, in memory and as DIR/ID.jpg on disk so that it survives a
// restart. A file is replaced atomically (written to a temporary file in the same folder, then
// renamed over the old one), so a reader never sees half a frame. Safe to use from several
// threads. Identifiers must pass isValidCameraId; any other throws std::invalid_argument, so no
// file name is ever made from unchecked text.
class FrameStore {
  public:
    // Creates the folder when needed and removes temporary files left by an interrupted write.
    explicit FrameStore(std::filesystem::path dir);

    // Stores `jpeg` as the camera's latest frame; throws FrameStoreError when the file cannot be
    // written (the previous frame then stays in place).
    void put(const std::string& id, std::string jpeg);

    // The camera's latest frame, or null when there is none. A frame not yet in memory is read
    // from disk once (a file that is not a JPEG stream counts as none).
    std::shared_ptr<const std::string> latest(const std::string& id);

    std::filesystem::path fileFor(const std::string& id) const;

  private:
    std::filesystem::path dir_;
    std::mutex writeMutex_; // one writer at a time, so disk and memory agree
    std::mutex mapMutex_;   // guards frames_
    std::map<std::string, std::shared_ptr<const std::string>> frames_;
};

} // namespace reflector
