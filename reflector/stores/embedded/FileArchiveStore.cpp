#include "stores/embedded/FileArchiveStore.h"

#include "core/CameraId.h"
#include "core/Jpeg.h"
#include "stores/embedded/FileFrameStore.h"

#include <ctime>
#include <fstream>
#include <iostream>
#include <iterator>

namespace reflector {

namespace {

std::string utcDay(std::int64_t unixMillis) {
    const std::time_t seconds = static_cast<std::time_t>(unixMillis / 1000);
    std::tm parts{};
    gmtime_r(&seconds, &parts);
    char text[16];
    std::strftime(text, sizeof text, "%Y-%m-%d", &parts);
    return text;
}

void checkCamera(const std::string& camera) {
    if (!isValidCameraId(camera)) {
        throw std::invalid_argument("not a camera identifier");
    }
}

} // namespace

FileArchiveStore::FileArchiveStore(Database& db, std::filesystem::path dir, TimeSource now,
                                   std::size_t maxFrames, int maxDays, bool readOnly)
    : db_(db), dir_(std::move(dir)), incoming_(dir_ / ".incoming"), now_(std::move(now)),
      maxFrames_(maxFrames), maxDays_(maxDays) {
    std::error_code ec;
    if (!readOnly) {
        std::filesystem::remove_all(incoming_, ec);
        std::filesystem::create_directories(incoming_, ec);
    }
    if (ec) {
        throw FrameStoreError("cannot create " + incoming_.string() + ": " + ec.message());
    }
    {
        auto lock = db_.lock();
        db_.execute("CREATE TABLE IF NOT EXISTS archive ("
                    " frame INTEGER PRIMARY KEY AUTOINCREMENT,"
                    " camera TEXT NOT NULL, taken_at INTEGER NOT NULL,"
                    " day TEXT NOT NULL, bytes INTEGER NOT NULL)");
        db_.execute("CREATE INDEX IF NOT EXISTS archive_by_camera ON archive (camera, taken_at)");
        db_.execute("CREATE INDEX IF NOT EXISTS archive_by_time ON archive (taken_at)");
    }
    if (!readOnly) {
        removeOld();
    }
}

std::filesystem::path FileArchiveStore::fileFor(const std::string& camera, std::int64_t id) const {
    return dir_ / camera / (std::to_string(id) + ".jpg");
}

std::int64_t FileArchiveStore::oldestKept() {
    return unixMillis(now_() - std::chrono::hours(24) * maxDays_);
}

ArchivedFrame FileArchiveStore::add(const std::string& camera, const std::string& jpeg) {
    checkCamera(camera);
    std::error_code ec;
    std::filesystem::create_directories(dir_ / camera, ec);
    if (ec) {
        throw FrameStoreError("cannot create " + (dir_ / camera).string() + ": " + ec.message());
    }
    // Written before the index is touched: the slow part holds no lock.
    const std::filesystem::path temp = writeTemporaryFile(incoming_, camera, jpeg);

    ArchivedFrame added;
    added.takenAtMillis = unixMillis(now_());
    added.takenAt = isoTime(added.takenAtMillis);
    added.bytes = jpeg.size();
    std::vector<Gone> gone;
    std::filesystem::path target;
    try {
        auto lock = db_.lock();
        Transaction transaction(db_);
        Statement insert(db_, "INSERT INTO archive (camera, taken_at, day, bytes)"
                              " VALUES (?1, ?2, ?3, ?4)");
        insert.bind(1, camera);
        insert.bind(2, added.takenAtMillis);
        insert.bind(3, utcDay(added.takenAtMillis));
        insert.bind(4, static_cast<std::int64_t>(jpeg.size()));
        insert.run();
        added.id = db_.lastInsertId();
        target = fileFor(camera, added.id);
        replaceFile(temp, target);

        // The camera's frames beyond the most kept, newest first, then every camera's frames
        // older than the days kept.
        Statement beyond(db_, "SELECT frame, camera FROM archive WHERE camera = ?1"
                              " ORDER BY taken_at DESC, frame DESC LIMIT -1 OFFSET ?2");
        beyond.bind(1, camera);
        beyond.bind(2, static_cast<std::int64_t>(maxFrames_));
        while (beyond.step()) {
            gone.push_back({beyond.text(1), beyond.integer(0)});
        }
        Statement old(db_, "SELECT frame, camera FROM archive WHERE taken_at < ?1");
        old.bind(1, oldestKept());
        while (old.step()) {
            gone.push_back({old.text(1), old.integer(0)});
        }
        for (const Gone& g : gone) {
            Statement remove(db_, "DELETE FROM archive WHERE frame = ?1");
            remove.bind(1, g.id);
            remove.run();
        }
        transaction.commit();
    } catch (...) {
        // Nothing was committed: neither the new file nor the temporary one stays.
        std::filesystem::remove(temp, ec);
        if (!target.empty()) {
            std::filesystem::remove(target, ec);
        }
        throw;
    }
    removeFiles(gone);
    return added;
}

std::size_t FileArchiveStore::removeOld() {
    std::vector<Gone> gone;
    {
        auto lock = db_.lock();
        Transaction transaction(db_);
        const std::int64_t oldest = oldestKept();
        Statement old(db_, "SELECT frame, camera FROM archive WHERE taken_at < ?1");
        old.bind(1, oldest);
        while (old.step()) {
            gone.push_back({old.text(1), old.integer(0)});
        }
        Statement remove(db_, "DELETE FROM archive WHERE taken_at < ?1");
        remove.bind(1, oldest);
        remove.run();
        transaction.commit();
    }
    removeFiles(gone);
    return gone.size();
}

void FileArchiveStore::forget(const std::string& camera) {
    checkCamera(camera);
    {
        auto lock = db_.lock();
        Statement remove(db_, "DELETE FROM archive WHERE camera = ?1");
        remove.bind(1, camera);
        remove.run();
    }
    std::error_code ec;
    std::filesystem::remove_all(dir_ / camera, ec);
    if (ec) {
        throw FrameStoreError("cannot remove " + (dir_ / camera).string() + ": " + ec.message());
    }
}

void FileArchiveStore::removeFiles(const std::vector<Gone>& gone) {
    for (const Gone& g : gone) {
        if (!isValidCameraId(g.camera)) {
            continue; // never a file name made from unchecked text
        }
        std::error_code ec;
        if (!std::filesystem::remove(fileFor(g.camera, g.id), ec) && ec) {
            std::cerr << "reflector: cannot remove archive frame " << g.id << " of camera "
                      << g.camera << ": " << ec.message() << std::endl;
        }
    }
}

std::vector<ArchiveDay> FileArchiveStore::days(const std::string& camera) {
    checkCamera(camera);
    const std::int64_t oldest = oldestKept();
    auto lock = db_.lock();
    Statement s(db_, "SELECT day, COUNT(*) FROM archive WHERE camera = ?1 AND taken_at >= ?2"
                     " GROUP BY day ORDER BY day DESC");
    s.bind(1, camera);
    s.bind(2, oldest);
    std::vector<ArchiveDay> days;
    while (s.step()) {
        days.push_back({s.text(0), static_cast<std::size_t>(s.integer(1))});
    }
    return days;
}

std::vector<ArchivedFrame> FileArchiveStore::frames(const std::string& camera,
                                                    const std::string& day) {
    checkCamera(camera);
    const std::int64_t oldest = oldestKept();
    auto lock = db_.lock();
    Statement s(db_, "SELECT frame, taken_at, bytes FROM archive WHERE camera = ?1 AND day = ?2"
                     " AND taken_at >= ?3 ORDER BY taken_at, frame");
    s.bind(1, camera);
    s.bind(2, day);
    s.bind(3, oldest);
    std::vector<ArchivedFrame> frames;
    while (s.step()) {
        ArchivedFrame f;
        f.id = s.integer(0);
        f.takenAtMillis = s.integer(1);
        f.takenAt = isoTime(f.takenAtMillis);
        f.bytes = static_cast<std::size_t>(s.integer(2));
        frames.push_back(std::move(f));
    }
    return frames;
}

std::optional<std::string> FileArchiveStore::frame(const std::string& camera, std::int64_t id) {
    checkCamera(camera);
    {
        auto lock = db_.lock();
        Statement s(db_, "SELECT 1 FROM archive WHERE camera = ?1 AND frame = ?2");
        s.bind(1, camera);
        s.bind(2, id);
        if (!s.step()) {
            return std::nullopt;
        }
    }
    std::ifstream in(fileFor(camera, id), std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (!in.good() && !in.eof()) {
        return std::nullopt;
    }
    if (!looksLikeJpeg(bytes)) {
        return std::nullopt;
    }
    return bytes;
}

} // namespace reflector
