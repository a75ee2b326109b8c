#include "stores/embedded/FileFrameStore.h"

#include "core/CameraId.h"
#include "core/Jpeg.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <functional>
#include <iterator>
#include <string_view>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace reflector {

namespace {

constexpr const char* kTempPrefix = ".tmp-";

std::string errnoText() {
    return std::strerror(errno);
}

void writeAll(int fd, const std::string& bytes, const std::string& name) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            throw FrameStoreError("cannot write " + name + ": " + errnoText());
        }
        done += static_cast<std::size_t>(n);
    }
}

} // namespace

std::filesystem::path writeTemporaryFile(const std::filesystem::path& dir, const std::string& stem,
                                         const std::string& bytes) {
    std::string temp = (dir / (kTempPrefix + stem + "-XXXXXX")).string();
    const int fd = ::mkstemp(temp.data());
    if (fd < 0) {
        throw FrameStoreError("cannot create a file in " + dir.string() + ": " + errnoText());
    }
    try {
        writeAll(fd, bytes, temp);
    } catch (...) {
        ::close(fd);
        ::unlink(temp.c_str());
        throw;
    }
    if (::fchmod(fd, 0644) != 0) {
        const std::string reason = errnoText();
        ::close(fd);
        ::unlink(temp.c_str());
        throw FrameStoreError("cannot set the mode of " + temp + ": " + reason);
    }
    if (::close(fd) != 0) {
        const std::string reason = errnoText();
        ::unlink(temp.c_str());
        throw FrameStoreError("cannot write " + temp + ": " + reason);
    }
    return temp;
}

void replaceFile(const std::filesystem::path& temp, const std::filesystem::path& target) {
    if (std::rename(temp.c_str(), target.c_str()) != 0) {
        const std::string reason = errnoText();
        ::unlink(temp.c_str());
        throw FrameStoreError("cannot replace " + target.string() + ": " + reason);
    }
}

FileFrameStore::FileFrameStore(std::filesystem::path dir, std::size_t cacheBytes, bool readOnly)
    : dir_(std::move(dir)), capacity_(cacheBytes) {
    if (readOnly) {
        return;
    }
    std::error_code ec;
    std::filesystem::create_directories(dir_, ec);
    if (ec) {
        throw FrameStoreError("cannot create " + dir_.string() + ": " + ec.message());
    }
    for (const auto& entry : std::filesystem::directory_iterator(dir_, ec)) {
        if (entry.path().filename().string().rfind(kTempPrefix, 0) == 0) {
            std::filesystem::remove(entry.path(), ec);
        }
    }
}

std::filesystem::path FileFrameStore::fileFor(const std::string& id) const {
    if (!isValidCameraId(id)) {
        throw std::invalid_argument("not a camera identifier");
    }
    return dir_ / (id + ".jpg");
}

void FileFrameStore::put(const std::string& id, std::string jpeg) {
    const std::filesystem::path target = fileFor(id);
    auto frame = std::make_shared<Frame>();
    frame->etag = frameTag(jpeg);
    frame->jpeg = std::move(jpeg);

    {
        std::lock_guard writeLock(writeMutex_);
        // Not synced to the disk: the file only has to survive a restart of the relay, and the
        // next upload replaces it within seconds anyway.
        replaceFile(writeTemporaryFile(dir_, id, frame->jpeg), target);

        std::lock_guard cacheLock(cacheMutex_);
        ++puts_;
        remember(id, std::move(frame));
    }
    stored_.notify(id);
}

std::shared_ptr<const Frame> FileFrameStore::frame(const std::string& id) {
    if (!isValidCameraId(id)) {
        throw std::invalid_argument("not a camera identifier");
    }
    std::uint64_t putsBefore = 0;
    {
        std::lock_guard lock(cacheMutex_);
        if (auto it = byId_.find(id); it != byId_.end()) {
            recent_.splice(recent_.begin(), recent_, it->second);
            return it->second->second;
        }
        putsBefore = puts_;
    }

    std::ifstream in(fileFor(id), std::ios::binary);
    if (!in) {
        return nullptr;
    }
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad() || !looksLikeJpeg(bytes)) {
        return nullptr;
    }
    auto frame = std::make_shared<Frame>();
    frame->etag = frameTag(bytes);
    frame->jpeg = std::move(bytes);
    std::lock_guard lock(cacheMutex_);
    if (auto it = byId_.find(id); it != byId_.end()) {
        // A frame put meanwhile is newer than the file read here: keep it.
        recent_.splice(recent_.begin(), recent_, it->second);
        return it->second->second;
    }
    // A frame put meanwhile may already have left memory again; only a file read while nothing
    // was stored is sure to be the latest.
    if (puts_ == putsBefore) {
        remember(id, frame);
    }
    return frame;
}

bool FileFrameStore::inMemory(const std::string& id) {
    std::lock_guard lock(cacheMutex_);
    return byId_.count(id) != 0;
}

std::size_t FileFrameStore::cachedFrames() const {
    std::lock_guard lock(cacheMutex_);
    return recent_.size();
}

std::size_t FileFrameStore::cachedBytes() const {
    std::lock_guard lock(cacheMutex_);
    return bytes_;
}

void FileFrameStore::remove(const std::string& id) {
    const std::filesystem::path target = fileFor(id);
    std::lock_guard writeLock(writeMutex_);
    std::error_code ec;
    std::filesystem::remove(target, ec);
    if (ec) {
        throw FrameStoreError("cannot remove " + target.string() + ": " + ec.message());
    }
    std::lock_guard cacheLock(cacheMutex_);
    forget(id);
}

void FileFrameStore::forget(const std::string& id) {
    const auto it = byId_.find(id);
    if (it != byId_.end()) {
        bytes_ -= it->second->second->jpeg.size();
        recent_.erase(it->second);
        byId_.erase(it);
    }
}

void FileFrameStore::remember(const std::string& id, std::shared_ptr<const Frame> frame) {
    forget(id);
    const std::size_t size = frame->jpeg.size();
    if (size > capacity_) {
        return; // served from its file each time
    }
    recent_.emplace_front(id, std::move(frame));
    byId_.emplace(id, recent_.begin());
    bytes_ += size;
    while (bytes_ > capacity_) {
        const std::string oldest = recent_.back().first;
        forget(oldest);
    }
}

} // namespace reflector
