// The shared stores that keep their records in PostgreSQL.

#include "core/CameraId.h"
#include "core/Jpeg.h"
#include "core/StationKey.h"
#include "stores/shared/SharedStores.h"

#include <ctime>
#include <sodium.h>

namespace reflector {

namespace {

// Advisory locks that make a check and the write after it one step for every relay.
constexpr std::int64_t kEnrolLock = 0x4b65737472010001;   // the number of cameras
constexpr std::int64_t kListingLock = 0x4b65737472010002; // the number of listing entries

std::int64_t asInt(std::size_t n) {
    return static_cast<std::int64_t>(n);
}

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

// A PostgreSQL array of camera identifiers ({a,b,c}): identifiers need no quoting.
std::string idArray(const std::vector<std::string>& ids) {
    std::string array = "{";
    for (const std::string& id : ids) {
        if (array.size() > 1) {
            array += ',';
        }
        array += id;
    }
    return array + "}";
}

// A time the stores wrote (milliseconds since 1970) as text; throws PgError for a value that
// cannot be such a time.
std::string timeText(const PgResult& r, int row, int column) {
    const auto text = storedTimeText(r.integer(row, column));
    if (!text) {
        throw PgError("database: column " + std::to_string(column) + " is not a time");
    }
    return *text;
}

Camera readCamera(const PgResult& r, int row) {
    Camera camera;
    camera.id = r.text(row, 0);
    camera.ptz = r.boolean(row, 1);
    camera.registeredAt = timeText(r, row, 2);
    camera.lastFrameAt = r.isNull(row, 3) ? std::string() : timeText(r, row, 3);
    return camera;
}

} // namespace

std::string isoTimeOfMillis(std::int64_t unixMillis) {
    const std::time_t seconds = static_cast<std::time_t>(unixMillis / 1000);
    std::tm parts{};
    gmtime_r(&seconds, &parts);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &parts);
    return text;
}

// ---- cameras ----

SharedRegistry::SharedRegistry(SharedContext& context) : c_(context) {
    reload();
}

void SharedRegistry::reload() {
    const PgResult rows = storeCall("the cameras could not be read", [&] {
        return c_.pg.exec("SELECT id, key_hash, heard_at FROM cameras");
    });
    std::unordered_map<std::string, Known> fresh;
    for (int row = 0; row < rows.rows(); ++row) {
        fresh[rows.text(row, 0)] = Known{rows.text(row, 1), rows.integer(row, 2), true};
    }
    std::unique_lock lock(mutex_);
    // Times heard here and not yet written stay.
    for (auto& [id, known] : fresh) {
        if (const auto it = known_.find(id);
            it != known_.end() && !it->second.heardSaved && it->second.heardAt > known.heardAt) {
            known.heardAt = it->second.heardAt;
            known.heardSaved = false;
        }
    }
    known_ = std::move(fresh);
}

void SharedRegistry::setKnown(const std::string& id, const std::string& keyHash,
                              std::int64_t heardAt) {
    std::unique_lock lock(mutex_);
    Known& known = known_[id];
    known.keyHash = keyHash;
    known.heardAt = std::max(known.heardAt, heardAt);
}

bool SharedRegistry::onNotice(const std::vector<std::string_view>& fields) {
    const auto notice = readRegistryNotice(fields);
    if (!notice) {
        return false;
    }
    if (notice->gone) {
        std::unique_lock lock(mutex_);
        known_.erase(notice->camera);
    } else {
        setKnown(notice->camera, notice->keyHash, notice->heardAt);
    }
    return true;
}

Enrolment SharedRegistry::enrol(const std::string& id, bool ptz, const std::string& keyHash,
                                std::int64_t nowMillis, std::size_t maxCameras) {
    struct Outcome {
        Enrolment enrolment;
        std::string kept;
    };
    const Outcome outcome = storeCall("the registration could not be stored", [&] {
        return c_.pg.transaction([&](PgConnection& db) {
            db.exec("SELECT pg_advisory_xact_lock($1)", {kEnrolLock});
            const PgResult known = db.exec("SELECT key_hash FROM cameras WHERE id = $1", {id});
            const bool isNew = known.rows() == 0;
            const std::string bound = isNew ? std::string() : known.text(0, 0);
            if (isNew && static_cast<std::size_t>(
                             db.exec("SELECT count(*) FROM cameras").integer(0, 0)) >= maxCameras) {
                return Outcome{Enrolment::Full, {}};
            }
            if (!bound.empty() && !sameKeyHash(bound, keyHash)) {
                return Outcome{Enrolment::Wrong, {}};
            }
            const std::string kept = bound.empty() ? keyHash : bound;
            db.exec("INSERT INTO cameras (id, ptz, registered_at, key_hash, heard_at)"
                    " VALUES ($1, $2, $3, $4, $3) ON CONFLICT (id) DO UPDATE SET"
                    " ptz = excluded.ptz, key_hash = excluded.key_hash,"
                    " heard_at = GREATEST(cameras.heard_at, excluded.heard_at)",
                    {id, ptz, nowMillis, kept});
            if (isNew) {
                return Outcome{Enrolment::Added, kept};
            }
            return Outcome{
                bound.empty() && !keyHash.empty() ? Enrolment::Claimed : Enrolment::Updated, kept};
        });
    });
    if (outcome.enrolment == Enrolment::Full || outcome.enrolment == Enrolment::Wrong) {
        return outcome.enrolment;
    }
    setKnown(id, outcome.kept, nowMillis);
    storeCall("the registration could not be announced", [&] {
        c_.publish("cameras", {"set", id, outcome.kept, std::to_string(nowMillis)});
    });
    return outcome.enrolment;
}

bool SharedRegistry::isRegistered(const std::string& id) {
    std::shared_lock lock(mutex_);
    return known_.count(id) != 0;
}

std::optional<std::string> SharedRegistry::keyHash(const std::string& id) {
    std::shared_lock lock(mutex_);
    const auto it = known_.find(id);
    if (it == known_.end()) {
        return std::nullopt;
    }
    return it->second.keyHash;
}

bool SharedRegistry::release(const std::string& id) {
    const bool released = storeCall("the release could not be stored", [&] {
        return c_.pg.exec("UPDATE cameras SET key_hash = '' WHERE id = $1", {id}).affected() > 0;
    });
    if (released) {
        setKnown(id, {}, 0);
        storeCall("the release could not be announced", [&] {
            c_.publish("cameras", {"set", id, "", "0"});
        });
    }
    return released;
}

std::size_t SharedRegistry::count() {
    return storeCall("the cameras could not be counted", [&] {
        return static_cast<std::size_t>(c_.pg.exec("SELECT count(*) FROM cameras").integer(0, 0));
    });
}

std::optional<Camera> SharedRegistry::find(const std::string& id) {
    return storeCall("the camera could not be read", [&]() -> std::optional<Camera> {
        const PgResult r = c_.pg.exec(
            "SELECT id, ptz, registered_at, last_frame_at FROM cameras WHERE id = $1", {id});
        if (r.rows() == 0) {
            return std::nullopt;
        }
        return readCamera(r, 0);
    });
}

std::vector<Camera> SharedRegistry::list() {
    return storeCall("the cameras could not be read", [&] {
        const PgResult r = c_.pg.exec(
            "SELECT id, ptz, registered_at, last_frame_at FROM cameras ORDER BY id COLLATE \"C\"");
        std::vector<Camera> cameras;
        for (int row = 0; row < r.rows(); ++row) {
            cameras.push_back(readCamera(r, row));
        }
        return cameras;
    });
}

void SharedRegistry::noteFrame(const std::string& id) {
    storeCall("the frame's time could not be stored", [&] {
        c_.pg.exec("UPDATE cameras SET last_frame_at = $2 WHERE id = $1", {id, c_.nowMillis()});
    });
}

void SharedRegistry::heard(const std::string& id, std::int64_t nowMillis) {
    std::unique_lock lock(mutex_);
    if (const auto it = known_.find(id); it != known_.end() && it->second.heardAt < nowMillis) {
        it->second.heardAt = nowMillis;
        it->second.heardSaved = false;
    }
}

void SharedRegistry::saveHeard() {
    std::vector<std::string> ids;
    std::vector<std::int64_t> times;
    {
        std::unique_lock lock(mutex_);
        for (auto& [id, known] : known_) {
            if (!known.heardSaved) {
                ids.push_back(id);
                times.push_back(known.heardAt);
                known.heardSaved = true;
            }
        }
    }
    if (ids.empty()) {
        return;
    }
    std::string timeArray = "{";
    for (std::int64_t at : times) {
        timeArray += (timeArray.size() > 1 ? "," : "") + std::to_string(at);
    }
    timeArray += "}";
    try {
        storeCall("the times cameras were heard from could not be stored", [&] {
            c_.pg.exec("UPDATE cameras c SET heard_at = GREATEST(c.heard_at, v.at)"
                       " FROM unnest($1::text[], $2::bigint[]) AS v(id, at) WHERE c.id = v.id",
                       {idArray(ids), timeArray});
        });
    } catch (...) {
        std::unique_lock lock(mutex_);
        for (const std::string& id : ids) {
            if (const auto it = known_.find(id); it != known_.end()) {
                it->second.heardSaved = false;
            }
        }
        throw;
    }
}

std::vector<std::string> SharedRegistry::silentSince(std::int64_t beforeMillis) {
    const PgResult r = storeCall("the silent cameras could not be read", [&] {
        return c_.pg.exec("SELECT id FROM cameras WHERE heard_at < $1", {beforeMillis});
    });
    std::vector<std::string> silent;
    std::shared_lock lock(mutex_);
    for (int row = 0; row < r.rows(); ++row) {
        const std::string id = r.text(row, 0);
        // Heard here since, and not yet written.
        if (const auto it = known_.find(id);
            it != known_.end() && it->second.heardAt >= beforeMillis) {
            continue;
        }
        silent.push_back(id);
    }
    return silent;
}

void SharedRegistry::forget(const std::string& id) {
    storeCall("the camera could not be forgotten",
              [&] { c_.pg.exec("DELETE FROM cameras WHERE id = $1", {id}); });
    {
        std::unique_lock lock(mutex_);
        known_.erase(id);
    }
    storeCall("the forgotten camera could not be announced", [&] {
        c_.publish("cameras", {"gone", id});
    });
}

// ---- options ----

namespace {

constexpr const char* kOptionColumns =
    "camera, zoom, snapshot, chat, secure, ptz, presets, archive, chat_room, chat_number,"
    " synced_at, password_hash";

} // namespace

SharedOptionStore::SharedOptionStore(SharedContext& context) : c_(context) {
    reload();
}

void SharedOptionStore::reload() {
    const PgResult r = storeCall("the cameras' options could not be read", [&] {
        return c_.pg.exec(std::string("SELECT ") + kOptionColumns + " FROM camera_options");
    });
    std::unordered_map<std::string, Kept> fresh;
    std::vector<std::string> refused;
    for (int row = 0; row < r.rows(); ++row) {
        CameraOptions o;
        o.camera = r.text(row, 0);
        o.zoom = r.boolean(row, 1);
        o.snapshot = r.boolean(row, 2);
        o.chat = r.boolean(row, 3);
        o.secure = r.boolean(row, 4);
        o.ptz = r.boolean(row, 5);
        o.presets = r.boolean(row, 6);
        o.archive = r.boolean(row, 7);
        o.chatRoom = r.text(row, 8);
        o.chatNumber = r.integer(row, 9);
        o.syncedAt = timeText(r, row, 10);
        fresh[o.camera] = Kept{o, usableHash(r.text(row, 11), o.camera)};
    }
    std::lock_guard lock(mutex_);
    kept_ = std::move(fresh);
}

std::string SharedOptionStore::usableHash(std::string hash, const std::string& camera) {
    if (isUsablePasswordHash(hash)) {
        return hash;
    }
    // Kept without a hash, the camera takes no viewer password until its station synchronises
    // its options again: it does not open either.
    c_.unreadable.write("the viewer password hash of camera " + camera +
                        " cannot be read; no viewer password is taken until the station"
                        " synchronises its options again");
    return {};
}

void SharedOptionStore::store(const CameraOptions& o, const std::string& passwordHash,
                              std::int64_t unixMillis) {
    storeCall("the options could not be stored", [&] {
        c_.pg.exec(std::string("INSERT INTO camera_options (") + kOptionColumns +
                       ") VALUES ($1, $2, $3, $4, $5, $6, $7, $8, $9, $10, $11, $12)"
                       " ON CONFLICT (camera) DO UPDATE SET zoom = excluded.zoom,"
                       " snapshot = excluded.snapshot, chat = excluded.chat,"
                       " secure = excluded.secure, ptz = excluded.ptz,"
                       " presets = excluded.presets, archive = excluded.archive,"
                       " chat_room = excluded.chat_room, chat_number = excluded.chat_number,"
                       " synced_at = excluded.synced_at, password_hash = excluded.password_hash",
                   {o.camera, o.zoom, o.snapshot, o.chat, o.secure, o.ptz, o.presets, o.archive,
                    o.chatRoom, o.chatNumber, unixMillis, passwordHash});
    });
    {
        std::lock_guard lock(mutex_);
        Kept& kept = kept_[o.camera];
        kept.options = o;
        kept.options.syncedAt = isoTimeOfMillis(unixMillis);
        kept.hash = passwordHash;
    }
    storeCall("the options could not be announced", [&] {
        c_.publish("options",
                   {"set", o.camera, optionFlags(o), o.chatRoom, std::to_string(o.chatNumber),
                    std::to_string(unixMillis), passwordHash});
    });
}

bool SharedOptionStore::onNotice(const std::vector<std::string_view>& fields) {
    auto notice = readOptionsNotice(fields);
    if (!notice) {
        return false;
    }
    const std::string camera = notice->options.camera;
    if (notice->gone) {
        std::lock_guard lock(mutex_);
        kept_.erase(camera);
        return true;
    }
    std::string hash = usableHash(std::move(notice->passwordHash), camera);
    std::lock_guard lock(mutex_);
    kept_[camera] = Kept{std::move(notice->options), std::move(hash)};
    return true;
}

std::optional<CameraOptions> SharedOptionStore::find(const std::string& camera) {
    std::lock_guard lock(mutex_);
    const auto it = kept_.find(camera);
    if (it == kept_.end()) {
        return std::nullopt;
    }
    return it->second.options;
}

std::string SharedOptionStore::passwordHash(const std::string& camera) {
    std::lock_guard lock(mutex_);
    const auto it = kept_.find(camera);
    return it == kept_.end() ? std::string() : it->second.hash;
}

void SharedOptionStore::forget(const std::string& camera) {
    storeCall("the options could not be forgotten",
              [&] { c_.pg.exec("DELETE FROM camera_options WHERE camera = $1", {camera}); });
    {
        std::lock_guard lock(mutex_);
        kept_.erase(camera);
    }
    storeCall("the forgotten options could not be announced", [&] {
        c_.publish("options", {"gone", camera});
    });
}

// ---- archive ----

SharedArchiveStore::SharedArchiveStore(SharedContext& context, std::size_t maxFrames, int maxDays)
    : c_(context), maxFrames_(maxFrames), maxDays_(maxDays) {}

std::int64_t SharedArchiveStore::oldestKept() const {
    return unixMillis(c_.clock() - std::chrono::hours(24) * maxDays_);
}

ArchivedFrame SharedArchiveStore::add(const std::string& camera, const std::string& jpeg) {
    checkCamera(camera);
    ArchivedFrame added;
    added.takenAtMillis = c_.nowMillis();
    added.takenAt = isoTimeOfMillis(added.takenAtMillis);
    added.bytes = jpeg.size();
    added.id = storeCall("the archive frame could not be stored", [&] {
        return c_.pg.transaction([&](PgConnection& db) {
            const std::int64_t id =
                db.exec("INSERT INTO archive (camera, taken_at, day, bytes, jpeg)"
                        " VALUES ($1, $2, $3, $4, $5) RETURNING frame",
                        {camera, added.takenAtMillis, utcDay(added.takenAtMillis),
                         asInt(jpeg.size()), PgParam::bytes(jpeg)})
                    .integer(0, 0);
            db.exec("DELETE FROM archive WHERE camera = $1 AND frame IN (SELECT frame FROM archive"
                    " WHERE camera = $1 ORDER BY taken_at DESC, frame DESC OFFSET $2)",
                    {camera, asInt(maxFrames_)});
            db.exec("DELETE FROM archive WHERE taken_at < $1", {oldestKept()});
            return id;
        });
    });
    return added;
}

std::vector<ArchiveDay> SharedArchiveStore::days(const std::string& camera) {
    checkCamera(camera);
    return storeCall("the archive could not be read", [&] {
        const PgResult r =
            c_.pg.exec("SELECT day, count(*) FROM archive WHERE camera = $1 AND taken_at >= $2"
                       " GROUP BY day ORDER BY day DESC",
                       {camera, oldestKept()});
        std::vector<ArchiveDay> days;
        for (int row = 0; row < r.rows(); ++row) {
            days.push_back({r.text(row, 0), static_cast<std::size_t>(r.integer(row, 1))});
        }
        return days;
    });
}

std::vector<ArchivedFrame> SharedArchiveStore::frames(const std::string& camera,
                                                      const std::string& day) {
    checkCamera(camera);
    return storeCall("the archive could not be read", [&] {
        const PgResult r =
            c_.pg.exec("SELECT frame, taken_at, bytes FROM archive WHERE camera = $1 AND day = $2"
                       " AND taken_at >= $3 ORDER BY taken_at, frame",
                       {camera, day, oldestKept()});
        std::vector<ArchivedFrame> frames;
        for (int row = 0; row < r.rows(); ++row) {
            ArchivedFrame f;
            f.id = r.integer(row, 0);
            f.takenAtMillis = r.integer(row, 1);
            f.takenAt = timeText(r, row, 1);
            const std::int64_t bytes = r.integer(row, 2);
            if (bytes < 0) {
                throw PgError("database: column 2 is not a size");
            }
            f.bytes = static_cast<std::size_t>(bytes);
            frames.push_back(std::move(f));
        }
        return frames;
    });
}

std::optional<std::string> SharedArchiveStore::frame(const std::string& camera, std::int64_t id) {
    checkCamera(camera);
    return storeCall("the archive frame could not be read", [&]() -> std::optional<std::string> {
        const PgResult r = c_.pg.exec("SELECT jpeg FROM archive WHERE camera = $1 AND frame = $2",
                                      {camera, id}, PgFormat::Binary);
        if (r.rows() == 0) {
            return std::nullopt;
        }
        std::string jpeg = r.bytes(0, 0);
        if (!looksLikeJpeg(jpeg)) {
            c_.unreadable.write("archive frame " + std::to_string(id) + " of camera " + camera +
                                " in the database is not a JPEG; it is not served");
            return std::nullopt;
        }
        return jpeg;
    });
}

std::size_t SharedArchiveStore::removeOld() {
    return storeCall("old archive frames could not be removed", [&] {
        return static_cast<std::size_t>(
            c_.pg.exec("DELETE FROM archive WHERE taken_at < $1", {oldestKept()}).affected());
    });
}

void SharedArchiveStore::forget(const std::string& camera) {
    checkCamera(camera);
    storeCall("the archive could not be forgotten",
              [&] { c_.pg.exec("DELETE FROM archive WHERE camera = $1", {camera}); });
}

// ---- listing ----

SharedListingStore::SharedListingStore(SharedContext& context, std::chrono::milliseconds timeToLive,
                                       std::size_t maxEntries)
    : c_(context), timeToLive_(timeToLive), maxEntries_(maxEntries) {
    if (sodium_init() < 0) {
        throw StorageError("the cryptography library cannot be initialised");
    }
}

ListingStore::Result SharedListingStore::post(const ListingEntry& e, const std::string& token) {
    const std::int64_t now = c_.nowMillis();
    const std::int64_t since = now - timeToLive_.count();
    return storeCall("the listing could not be stored", [&] {
        return c_.pg.transaction([&](PgConnection& db) -> Result {
            db.exec("SELECT pg_advisory_xact_lock($1)", {kListingLock});
            const PgResult held =
                db.exec("SELECT token FROM listings WHERE camera = $1 AND refreshed_at > $2",
                        {e.camera, since});
            Result result{Outcome::Created, {}};
            if (held.rows() > 0) {
                if (!sameListingToken(token, held.text(0, 0))) {
                    return {Outcome::HeldByOther, {}};
                }
                result = {Outcome::Replaced, held.text(0, 0)};
            } else {
                db.exec("DELETE FROM listings WHERE refreshed_at <= $1", {since});
                if (static_cast<std::size_t>(
                        db.exec("SELECT count(*) FROM listings").integer(0, 0)) >= maxEntries_) {
                    return {Outcome::Full, {}};
                }
                result.token = newListingToken();
            }
            db.exec("INSERT INTO listings (camera, token, name, email, relay, folder, type, ptz,"
                    " password, listed, hidethumb, archive, refreshed_at) VALUES ($1, $2, $3, $4,"
                    " $5, $6, $7, $8, $9, $10, $11, $12, $13) ON CONFLICT (camera) DO UPDATE SET"
                    " token = excluded.token, name = excluded.name, email = excluded.email,"
                    " relay = excluded.relay, folder = excluded.folder, type = excluded.type,"
                    " ptz = excluded.ptz, password = excluded.password, listed = excluded.listed,"
                    " hidethumb = excluded.hidethumb, archive = excluded.archive,"
                    " refreshed_at = excluded.refreshed_at",
                    {e.camera, result.token, e.name, e.email, e.relay, e.folder, e.type, e.ptz,
                     e.password, e.listed, e.hideThumbnail, e.archive, now});
            return result;
        });
    });
}

ListingStore::Result SharedListingStore::refresh(const std::string& camera,
                                                 const std::string& token) {
    const std::int64_t now = c_.nowMillis();
    return storeCall("the listing could not be refreshed", [&] {
        return c_.pg.transaction([&](PgConnection& db) -> Result {
            const PgResult held = db.exec("SELECT token FROM listings WHERE camera = $1 AND"
                                          " refreshed_at > $2 FOR UPDATE",
                                          {camera, now - timeToLive_.count()});
            if (held.rows() == 0) {
                return {Outcome::NotListed, {}};
            }
            if (!sameListingToken(token, held.text(0, 0))) {
                return {Outcome::HeldByOther, {}};
            }
            db.exec("UPDATE listings SET refreshed_at = $2 WHERE camera = $1", {camera, now});
            return {Outcome::Refreshed, {}};
        });
    });
}

ListingStore::Result SharedListingStore::remove(const std::string& camera,
                                                const std::string& token) {
    const std::int64_t since = c_.nowMillis() - timeToLive_.count();
    return storeCall("the listing could not be removed", [&] {
        return c_.pg.transaction([&](PgConnection& db) -> Result {
            const PgResult held = db.exec(
                "SELECT token FROM listings WHERE camera = $1 AND refreshed_at > $2 FOR UPDATE",
                {camera, since});
            if (held.rows() > 0 && !sameListingToken(token, held.text(0, 0))) {
                return {Outcome::HeldByOther, {}};
            }
            db.exec("DELETE FROM listings WHERE camera = $1", {camera});
            return {Outcome::Removed, {}};
        });
    });
}

bool SharedListingStore::isListed(const std::string& camera) {
    const std::int64_t since = c_.nowMillis() - timeToLive_.count();
    return storeCall("the listing could not be read", [&] {
        return c_.pg
                   .exec("SELECT 1 FROM listings WHERE camera = $1 AND refreshed_at > $2",
                         {camera, since})
                   .rows() > 0;
    });
}

void SharedListingStore::forget(const std::string& camera) {
    storeCall("the listing could not be forgotten",
              [&] { c_.pg.exec("DELETE FROM listings WHERE camera = $1", {camera}); });
}

std::vector<ListingEntry> SharedListingStore::current() {
    const std::int64_t since = c_.nowMillis() - timeToLive_.count();
    return storeCall("the listing could not be read", [&] {
        const PgResult r = c_.pg.exec(
            "SELECT camera, name, relay, folder, type, ptz, password, listed, hidethumb, archive,"
            " refreshed_at FROM listings WHERE refreshed_at > $1 ORDER BY camera COLLATE \"C\"",
            {since});
        std::vector<ListingEntry> entries;
        for (int row = 0; row < r.rows(); ++row) {
            ListingEntry e;
            e.camera = r.text(row, 0);
            e.name = r.text(row, 1);
            e.relay = r.text(row, 2);
            e.folder = r.text(row, 3);
            e.type = static_cast<int>(r.integer(row, 4));
            e.ptz = r.boolean(row, 5);
            e.password = r.boolean(row, 6);
            e.listed = r.boolean(row, 7);
            e.hideThumbnail = r.boolean(row, 8);
            e.archive = r.boolean(row, 9);
            e.refreshedAt = timeText(r, row, 10);
            entries.push_back(std::move(e));
        }
        return entries;
    });
}

// ---- pages ----

std::vector<Preset> SharedPageStore::presets(const std::string& camera) {
    return storeCall("the presets could not be read", [&] {
        const PgResult r = c_.pg.exec(
            "SELECT name, command FROM presets WHERE camera = $1 ORDER BY position", {camera});
        std::vector<Preset> out;
        for (int row = 0; row < r.rows(); ++row) {
            out.push_back({r.text(row, 0), r.text(row, 1)});
        }
        return out;
    });
}

bool SharedPageStore::savePreset(const std::string& camera, const Preset& preset) {
    return storeCall("the preset could not be stored", [&] {
        return c_.pg.transaction([&](PgConnection& db) {
            // One owner's change at a time per camera, so that the bound holds.
            db.exec("SELECT pg_advisory_xact_lock(hashtext($1))", {camera});
            if (db.exec("UPDATE presets SET command = $3 WHERE camera = $1 AND name = $2",
                        {camera, preset.name, preset.command})
                    .affected() > 0) {
                return true;
            }
            const PgResult count = db.exec(
                "SELECT count(*), coalesce(max(position), 0) FROM presets WHERE camera = $1",
                {camera});
            if (static_cast<std::size_t>(count.integer(0, 0)) >= kMaxPresets) {
                return false;
            }
            db.exec("INSERT INTO presets (camera, name, command, position) VALUES ($1, $2, $3, $4)",
                    {camera, preset.name, preset.command, count.integer(0, 1) + 1});
            return true;
        });
    });
}

bool SharedPageStore::deletePreset(const std::string& camera, const std::string& name) {
    return storeCall("the preset could not be deleted", [&] {
        return c_.pg.exec("DELETE FROM presets WHERE camera = $1 AND name = $2", {camera, name})
                   .affected() > 0;
    });
}

std::string SharedPageStore::skin(const std::string& camera) {
    return storeCall("the skin could not be read", [&] {
        const PgResult r = c_.pg.exec("SELECT skin FROM camera_pages WHERE camera = $1", {camera});
        if (r.rows() > 0 && !r.isNull(0, 0) && isSkin(r.text(0, 0))) {
            return r.text(0, 0);
        }
        return skinNames().front();
    });
}

void SharedPageStore::setSkin(const std::string& camera, const std::string& skin) {
    storeCall("the skin could not be stored", [&] {
        c_.pg.exec("INSERT INTO camera_pages (camera, skin) VALUES ($1, $2)"
                   " ON CONFLICT (camera) DO UPDATE SET skin = excluded.skin",
                   {camera, skin});
    });
}

std::optional<Profile> SharedPageStore::profile(const std::string& camera) {
    return storeCall("the profile could not be read", [&]() -> std::optional<Profile> {
        const PgResult r = c_.pg.exec("SELECT profile_name, description FROM camera_pages"
                                      " WHERE camera = $1 AND profile_set",
                                      {camera});
        if (r.rows() == 0) {
            return std::nullopt;
        }
        return Profile{r.text(0, 0), r.text(0, 1)};
    });
}

void SharedPageStore::setProfile(const std::string& camera, const Profile& profile) {
    storeCall("the profile could not be stored", [&] {
        c_.pg.exec("INSERT INTO camera_pages (camera, profile_name, description, profile_set)"
                   " VALUES ($1, $2, $3, true) ON CONFLICT (camera) DO UPDATE SET"
                   " profile_name = excluded.profile_name, description = excluded.description,"
                   " profile_set = true",
                   {camera, profile.name, profile.description});
    });
}

void SharedPageStore::noteStation(const std::string& camera, const std::string& address) {
    const std::int64_t now = c_.nowMillis();
    {
        // Another relay may have written another address meanwhile: what this relay wrote
        // counts for a minute only.
        std::lock_guard lock(mutex_);
        const auto it = noted_.find(camera);
        if (it != noted_.end() && it->second.address == address && now - it->second.at < 60000) {
            return;
        }
    }
    storeCall("the station's address could not be stored", [&] {
        c_.pg.exec("INSERT INTO station_addresses (camera, address, seen_at) VALUES ($1, $2, $3)"
                   " ON CONFLICT (camera) DO UPDATE SET address = excluded.address,"
                   " seen_at = excluded.seen_at",
                   {camera, address, now});
    });
    std::lock_guard lock(mutex_);
    if (noted_.size() >= 100000) {
        noted_.clear();
    }
    noted_[camera] = Noted{address, now};
}

std::string SharedPageStore::stationAddress(const std::string& camera) {
    return storeCall("the station's address could not be read", [&] {
        const PgResult r =
            c_.pg.exec("SELECT address FROM station_addresses WHERE camera = $1", {camera});
        return r.rows() > 0 ? r.text(0, 0) : std::string();
    });
}

void SharedPageStore::forget(const std::string& camera) {
    storeCall("the camera's pages could not be forgotten", [&] {
        c_.pg.transaction([&](PgConnection& db) {
            for (const char* sql : {"DELETE FROM presets WHERE camera = $1",
                                    "DELETE FROM camera_pages WHERE camera = $1",
                                    "DELETE FROM station_addresses WHERE camera = $1"}) {
                db.exec(sql, {camera});
            }
        });
    });
    std::lock_guard lock(mutex_);
    noted_.erase(camera);
}

// ---- chat ----

ChatMessage SharedChatStore::post(const std::string& room, const std::string& name,
                                  const std::string& text) {
    const std::int64_t now = c_.nowMillis();
    const std::int64_t id = storeCall("the chat message could not be stored", [&] {
        return c_.pg.transaction([&](PgConnection& db) {
            db.exec("DELETE FROM chat_messages WHERE at < $1", {now - keep_.count()});
            const std::int64_t id = db.exec("INSERT INTO chat_messages (room, name, text, at)"
                                            " VALUES ($1, $2, $3, $4) RETURNING id",
                                            {room, name, text, now})
                                        .integer(0, 0);
            db.exec("DELETE FROM chat_messages WHERE room = $1 AND id IN (SELECT id FROM"
                    " chat_messages WHERE room = $1 ORDER BY id DESC OFFSET $2)",
                    {room, asInt(kMaxRoomMessages)});
            return id;
        });
    });
    return ChatMessage{id, name, text, isoTimeOfMillis(now)};
}

std::vector<ChatMessage> SharedChatStore::messages(const std::string& room, std::int64_t after,
                                                   std::size_t limit) {
    return storeCall("the chat could not be read", [&] {
        const PgResult r =
            c_.pg.exec("SELECT id, name, text, at FROM chat_messages WHERE room = $1 AND id > $2"
                       " AND at >= $3 ORDER BY id DESC LIMIT $4",
                       {room, after, c_.nowMillis() - keep_.count(), asInt(limit)});
        std::vector<ChatMessage> out;
        for (int row = r.rows() - 1; row >= 0; --row) {
            out.push_back({r.integer(row, 0), r.text(row, 1), r.text(row, 2), timeText(r, row, 3)});
        }
        return out;
    });
}

} // namespace reflector
