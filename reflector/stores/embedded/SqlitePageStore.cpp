#include "stores/embedded/SqlitePageStore.h"

namespace reflector {

SqlitePageStore::SqlitePageStore(Database& db, TimeSource now) : db_(db), now_(std::move(now)) {
    auto lock = db_.lock();
    db_.execute("CREATE TABLE IF NOT EXISTS presets ("
                " camera TEXT NOT NULL, name TEXT NOT NULL, command TEXT NOT NULL,"
                " position INTEGER NOT NULL, PRIMARY KEY (camera, name))");
    db_.execute("CREATE TABLE IF NOT EXISTS camera_pages ("
                " camera TEXT PRIMARY KEY NOT NULL, skin TEXT,"
                " profile_name TEXT, description TEXT, profile_set INTEGER NOT NULL DEFAULT 0)");
    db_.execute("CREATE TABLE IF NOT EXISTS station_addresses ("
                " camera TEXT PRIMARY KEY NOT NULL, address TEXT NOT NULL,"
                " seen_at TEXT NOT NULL)");
    Statement s(db_, "SELECT camera, address FROM station_addresses");
    while (s.step()) {
        stations_[s.text(0)] = s.text(1);
    }
}

std::vector<Preset> SqlitePageStore::presets(const std::string& camera) {
    auto lock = db_.lock();
    Statement s(db_, "SELECT name, command FROM presets WHERE camera = ?1 ORDER BY position");
    s.bind(1, camera);
    std::vector<Preset> out;
    while (s.step()) {
        out.push_back({s.text(0), s.text(1)});
    }
    return out;
}

bool SqlitePageStore::savePreset(const std::string& camera, const Preset& preset) {
    auto lock = db_.lock();
    Transaction transaction(db_);
    Statement existing(db_, "SELECT 1 FROM presets WHERE camera = ?1 AND name = ?2");
    existing.bind(1, camera);
    existing.bind(2, preset.name);
    if (existing.step()) {
        Statement update(db_, "UPDATE presets SET command = ?3 WHERE camera = ?1 AND name = ?2");
        update.bind(1, camera);
        update.bind(2, preset.name);
        update.bind(3, preset.command);
        update.run();
    } else {
        Statement count(db_, "SELECT COUNT(*), COALESCE(MAX(position), 0) FROM presets"
                             " WHERE camera = ?1");
        count.bind(1, camera);
        count.step();
        if (static_cast<std::size_t>(count.integer(0)) >= kMaxPresets) {
            return false;
        }
        Statement insert(db_, "INSERT INTO presets (camera, name, command, position)"
                              " VALUES (?1, ?2, ?3, ?4)");
        insert.bind(1, camera);
        insert.bind(2, preset.name);
        insert.bind(3, preset.command);
        insert.bind(4, count.integer(1) + 1);
        insert.run();
    }
    transaction.commit();
    return true;
}

bool SqlitePageStore::deletePreset(const std::string& camera, const std::string& name) {
    auto lock = db_.lock();
    Statement s(db_, "DELETE FROM presets WHERE camera = ?1 AND name = ?2");
    s.bind(1, camera);
    s.bind(2, name);
    s.run();
    return db_.changes() > 0;
}

std::string SqlitePageStore::skin(const std::string& camera) {
    auto lock = db_.lock();
    Statement s(db_, "SELECT skin FROM camera_pages WHERE camera = ?1");
    s.bind(1, camera);
    if (s.step() && !s.isNull(0) && isSkin(s.text(0))) {
        return s.text(0);
    }
    return skinNames().front();
}

void SqlitePageStore::setSkin(const std::string& camera, const std::string& skin) {
    auto lock = db_.lock();
    Statement s(db_, "INSERT INTO camera_pages (camera, skin) VALUES (?1, ?2)"
                     " ON CONFLICT(camera) DO UPDATE SET skin = excluded.skin");
    s.bind(1, camera);
    s.bind(2, skin);
    s.run();
}

std::optional<Profile> SqlitePageStore::profile(const std::string& camera) {
    auto lock = db_.lock();
    Statement s(db_, "SELECT profile_name, description FROM camera_pages"
                     " WHERE camera = ?1 AND profile_set = 1");
    s.bind(1, camera);
    if (!s.step()) {
        return std::nullopt;
    }
    return Profile{s.text(0), s.text(1)};
}

void SqlitePageStore::setProfile(const std::string& camera, const Profile& profile) {
    auto lock = db_.lock();
    Statement s(db_, "INSERT INTO camera_pages (camera, profile_name, description, profile_set)"
                     " VALUES (?1, ?2, ?3, 1) ON CONFLICT(camera) DO UPDATE SET"
                     " profile_name = excluded.profile_name,"
                     " description = excluded.description, profile_set = 1");
    s.bind(1, camera);
    s.bind(2, profile.name);
    s.bind(3, profile.description);
    s.run();
}

void SqlitePageStore::noteStation(const std::string& camera, const std::string& address) {
    {
        std::lock_guard lock(mutex_);
        auto& known = stations_[camera];
        if (known == address) {
            return;
        }
        known = address;
    }
    auto lock = db_.lock();
    Statement s(db_, "INSERT OR REPLACE INTO station_addresses (camera, address, seen_at)"
                     " VALUES (?1, ?2, ?3)");
    s.bind(1, camera);
    s.bind(2, address);
    s.bind(3, isoTime(unixMillis(now_())));
    s.run();
}

std::string SqlitePageStore::stationAddress(const std::string& camera) {
    std::lock_guard lock(mutex_);
    const auto it = stations_.find(camera);
    return it == stations_.end() ? std::string() : it->second;
}

void SqlitePageStore::forget(const std::string& camera) {
    auto lock = db_.lock();
    Transaction t(db_);
    for (const char* sql :
         {"DELETE FROM presets WHERE camera = ?1", "DELETE FROM camera_pages WHERE camera = ?1",
          "DELETE FROM station_addresses WHERE camera = ?1"}) {
        Statement s(db_, sql);
        s.bind(1, camera);
        s.run();
    }
    t.commit();
    std::lock_guard stationsLock(mutex_);
    stations_.erase(camera);
}

} // namespace reflector
