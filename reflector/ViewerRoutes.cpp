// What viewers see and do: the camera page and its password, snapshots, the archive, the
// management page, the live list, the live profile and the chat rooms.

#include "CameraId.h"
#include "Pages.h"
#include "PasswordHash.h"
#include "Routes.h"

#include <algorithm>
#include <cctype>
#include <ctime>
#include <iostream>
#include <set>

namespace reflector {

namespace {

constexpr std::size_t kMaxShownNameBytes = 80;
constexpr std::size_t kMaxImageSources = 16;

std::string formField(const Fields& fields, const char* name) {
    for (const auto& [key, value] : fields) {
        if (key == name) {
            return value;
        }
    }
    return {};
}

bool isForm(const HttpRequest& req) {
    return hasMediaType(req.header("Content-Type"), "application/x-www-form-urlencoded");
}

std::string trimmed(std::string_view text) {
    const auto first = text.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos) {
        return {};
    }
    const auto last = text.find_last_not_of(" \t\r\n");
    return std::string(text.substr(first, last - first + 1));
}

// A name to show that came with an address or a form: UTF-8, control characters dropped,
// blanks around removed, cut to `maxBytes`.
std::string cleanName(std::string_view text, std::size_t maxBytes) {
    std::string kept;
    for (char c : validUtf8(text)) {
        const auto u = static_cast<unsigned char>(c);
        if (u >= 0x20 && u != 0x7F) {
            kept += c;
        }
    }
    return cutUtf8(trimmed(kept), maxBytes);
}

// An address on this relay to go back to after the password: a path with its query as the
// browser sent it; anything else (another site, "//host", control characters) is not.
bool isLocalTarget(std::string_view target) {
    if (target.empty() || target.size() > 2000 || target.front() != '/') {
        return false;
    }
    if (target.size() > 1 && (target[1] == '/' || target[1] == '\\')) {
        return false;
    }
    for (unsigned char c : target) {
        if (c <= 0x20 || c >= 0x7F || c == '\\') {
            return false;
        }
    }
    return true;
}

HttpAnswer redirect(const std::string& location) {
    HttpAnswer answer;
    answer.status = 303;
    answer.headers.emplace_back("Location", location);
    return answer;
}

HttpAnswer pageMessage(int status, const std::string& title, const std::string& message) {
    return htmlAnswer(status, messagePage(title, message));
}

HttpAnswer invalidCamera() {
    return pageMessage(400, "Not a camera", "A camera id has 1 to 50 letters, digits, '-' or '_'.");
}

HttpAnswer unknownCamera(const std::string& id) {
    return pageMessage(404, "Unknown camera", "No camera " + id + " is registered here.");
}

HttpAnswer otherSite() {
    return textAnswer(403, "Refused: sent from a page of another site");
}

HttpAnswer tooManyTries(std::chrono::seconds wait, HttpAnswer answer) {
    answer.headers.emplace_back("Retry-After", std::to_string(wait.count()));
    return answer;
}

std::string waitText(std::chrono::seconds wait, const char* from = "from your address") {
    return std::string("Too many wrong passwords ") + from + ": try again in " +
           std::to_string(wait.count()) + (wait.count() == 1 ? " second." : " seconds.");
}

// What a password waits for the pool at most, and what it is told when the pool is full.
constexpr std::chrono::seconds kHashingLimit{10};
constexpr const char* kHashingBusy =
    "The relay is busy checking passwords: try again in a few seconds.";

HttpAnswer jpegAnswer(std::shared_ptr<const std::string> jpeg, bool shared, int maxAge) {
    HttpAnswer answer;
    answer.contentType = "image/jpeg";
    answer.sharedBody = std::move(jpeg);
    answer.headers.emplace_back("Cache-Control", std::string(shared ? "public" : "private") +
                                                     ", max-age=" + std::to_string(maxAge));
    return answer;
}

// "20261207-104055" of now.
std::string fileTime(WallClock::time_point now) {
    const std::time_t t = WallClock::to_time_t(now);
    std::tm parts{};
    gmtime_r(&t, &parts);
    char text[32];
    std::strftime(text, sizeof text, "%Y%m%d-%H%M%S", &parts);
    return text;
}

bool isDay(const std::string& text) {
    if (text.size() != 10 || text[4] != '-' || text[7] != '-') {
        return false;
    }
    for (std::size_t i : {0, 1, 2, 3, 5, 6, 8, 9}) {
        if (!std::isdigit(static_cast<unsigned char>(text[i]))) {
            return false;
        }
    }
    return true;
}

// A whole number of at most 18 digits.
std::optional<std::int64_t> readId(const std::string& text) {
    if (text.empty() || text.size() > 18 ||
        text.find_first_not_of("0123456789") != std::string::npos) {
        return std::nullopt;
    }
    return std::stoll(text);
}

// A chat room: "name:number" as the station names it, or any short text; empty when refused.
std::string checkRoom(const std::string& room) {
    if (room.empty() || room.size() > kMaxRoomBytes || hasControlCharacters(room) ||
        validUtf8(room) != room) {
        return {};
    }
    return room;
}

} // namespace

std::string RelayService::shownName(const std::string& id) {
    if (const auto profile = pages_.profile(id); profile && !profile->name.empty()) {
        return profile->name;
    }
    for (const ListingEntry& e : listing_.current()) {
        if (e.camera == id && !e.name.empty()) {
            return e.name;
        }
    }
    return id;
}

HttpAnswer RelayService::manage(const HttpRequest& req, const std::string& id,
                                const std::string& adminPassword,
                                std::function<HttpAnswer(int, std::string)> page,
                                std::function<HttpAnswer()> change, bool adminOnly) {
    if (!adminOnly && fromKeyHolder(req, id)) {
        return change();
    }
    if (adminPassword.empty() || config_.adminPasswordHash.empty()) {
        return page(403, adminOnly ? "Not changed: only the relay administrator's password "
                                     "allows this."
                                   : "Not changed: changes are accepted only from the network "
                                     "the camera's station uploads from, or with the relay "
                                     "administrator's password.");
    }
    const std::string client = clientOf(req);
    if (const auto wait = logins_.waitFor(client)) {
        return tooManyTries(*wait, page(429, "Not changed. " + waitText(*wait)));
    }
    return passwords_.answer(
        [this, id, adminPassword, page, change = std::move(change), client] {
            if (!verifyPassword(config_.adminPasswordHash, adminPassword)) {
                logins_.failed(client);
                std::cerr << "reflector: wrong administrator's password from " << loggable(client)
                          << " for camera " << id << std::endl;
                return page(403, "Not changed: wrong administrator's password.");
            }
            logins_.succeeded(client);
            return change();
        },
        hashingBusy(page(503, kHashingBusy)), kHashingLimit);
}

HttpAnswer RelayService::cameraPage(const HttpRequest& req, const std::string& id) {
    if (!isValidCameraId(id)) {
        return invalidCamera();
    }
    if (!registry_.isRegistered(id)) {
        return elsewhere(req, id, unknownCamera(id));
    }
    const std::string fromAddress = cleanName(req.param("name"), kMaxShownNameBytes);
    const std::string name = fromAddress.empty() ? shownName(id) : fromAddress;
    const std::string skin = pages_.skin(id);
    if (!viewerAccess(req, id).allowed) {
        const std::string next =
            isLocalTarget(req.target) ? req.target : "/webcams/index.jsp?id=" + id;
        return htmlAnswer(401, loginPage(id, name, skin, next, ""));
    }
    noteVisit(id);
    const auto options = options_.find(id);
    const auto camera = registry_.find(id);
    CameraView v;
    v.camera = id;
    v.name = name;
    v.skin = skin;
    // Before the station's first option sync, what its registration said.
    v.moves = options ? options->ptz : camera && camera->ptz;
    if (options) {
        v.zoom = options->zoom;
        if (options->ptz && options->presets) {
            v.presets = pages_.presets(id);
        }
        v.snapshot = options->snapshot;
        v.archive = options->archive;
        if (options->chat) {
            v.chatRoom = options->chatRoom + ":" + std::to_string(options->chatNumber);
        }
    }
    if (const auto profile = pages_.profile(id)) {
        v.description = profile->description;
    }
    return htmlAnswer(200, reflector::cameraPage(v));
}

std::optional<HttpAnswer> RelayService::readCameraForm(const HttpRequest& req, const char* formText,
                                                       Fields& fields, std::string& id,
                                                       bool anyCamera) {
    if (!sameOrigin(req)) {
        return otherSite();
    }
    if (!isForm(req)) {
        return pageMessage(400, "Not a form", formText);
    }
    fields = parseForm(req.body);
    id = formField(fields, "id");
    if (!isValidCameraId(id)) {
        return invalidCamera();
    }
    if (!anyCamera && !registry_.isRegistered(id)) {
        return unknownCamera(id);
    }
    return std::nullopt;
}

HttpAnswer RelayService::login(const HttpRequest& req) {
    Fields fields;
    std::string id;
    if (auto refused = readCameraForm(req, "The password comes as a form.", fields, id)) {
        return std::move(*refused);
    }
    const std::string given = formField(fields, "next");
    const std::string next = isLocalTarget(given) ? given : "/webcams/index.jsp?id=" + id;
    const std::string name = shownName(id);
    const std::string skin = pages_.skin(id);
    const auto options = options_.find(id);
    if (!options || !options->secure) {
        return redirect(next); // nothing to open
    }
    // Wrong passwords slow down per address and, for guesses from many addresses, per camera.
    const std::string client = clientOf(req);
    const auto addressWait = logins_.waitFor(client);
    const auto cameraWait = cameraLogins_.waitFor(id);
    if (addressWait || cameraWait) {
        const bool byAddress = addressWait && (!cameraWait || *addressWait >= *cameraWait);
        const std::chrono::seconds wait = byAddress ? *addressWait : *cameraWait;
        return tooManyTries(
            wait, htmlAnswer(429, loginPage(id, name, skin, next,
                                            byAddress ? waitText(wait)
                                                      : waitText(wait, "for this camera"))));
    }
    const auto page = [id, name, skin, next](int status, const std::string& message) {
        return htmlAnswer(status, loginPage(id, name, skin, next, message));
    };
    return passwords_.answer(
        [this, id, next, client, page, password = formField(fields, "password")] {
            if (!options_.verifyViewerPassword(id, password)) {
                logins_.failed(client);
                cameraLogins_.failed(id);
                std::cerr << "reflector: wrong viewer password from " << loggable(client)
                          << " for camera " << id << std::endl;
                return page(401, "Wrong password.");
            }
            logins_.succeeded(client);
            const std::string token = sessions_.open(id, options_.passwordHash(id));
            HttpAnswer answer = redirect(next);
            const auto seconds =
                std::chrono::duration_cast<std::chrono::seconds>(sessions_.lifetime()).count();
            answer.headers.emplace_back("Set-Cookie",
                                        sessionCookieName(id) + "=" + token +
                                            "; Path=/; Max-Age=" + std::to_string(seconds) +
                                            "; HttpOnly; SameSite=Strict");
            return answer;
        },
        hashingBusy(page(503, kHashingBusy)), kHashingLimit);
}

HttpAnswer RelayService::snapshot(const HttpRequest& req) {
    const std::string id = req.param("id");
    if (!isValidCameraId(id)) {
        return textAnswer(400, "Not a valid camera id");
    }
    if (!registry_.isRegistered(id)) {
        return elsewhere(req, id, textAnswer(404, "Unknown camera"));
    }
    const ViewerAccess access = viewerAccess(req, id);
    if (!access.allowed) {
        return access.refusal;
    }
    const auto options = options_.find(id);
    if (!options || !options->snapshot) {
        return textAnswer(403, "Snapshots are off for this camera");
    }
    const auto frame = frames_.latest(id);
    noteVisit(id);
    if (!frame) {
        return textAnswer(404, "No picture yet");
    }
    HttpAnswer answer = jpegAnswer(frame, false, 0);
    answer.headers.back().second = "no-store";
    answer.headers.emplace_back("Content-Disposition", "attachment; filename=\"" + id + "-" +
                                                           fileTime(config_.clock()) + ".jpg\"");
    return answer;
}

HttpAnswer RelayService::thumbnail(const HttpRequest& req) {
    const std::string id = req.param("id");
    if (!isValidCameraId(id)) {
        return textAnswer(400, "Not a valid camera id");
    }
    if (!registry_.isRegistered(id)) {
        return textAnswer(404, "Unknown camera");
    }
    const auto options = options_.find(id);
    if (options && options->secure) {
        return textAnswer(401, "Password required");
    }
    // The latest stored frame, however old: a look at the live list must not wake every
    // station, so this is no visit.
    const auto frame = frames_.latest(id);
    if (!frame) {
        return textAnswer(404, "No picture yet");
    }
    return jpegAnswer(frame, true, 10);
}

HttpAnswer RelayService::archivePage(const HttpRequest& req) {
    const std::string id = req.param("id");
    if (!isValidCameraId(id)) {
        return invalidCamera();
    }
    if (!registry_.isRegistered(id)) {
        return elsewhere(req, id, unknownCamera(id));
    }
    const std::string fromAddress = cleanName(req.param("name"), kMaxShownNameBytes);
    const std::string name = fromAddress.empty() ? shownName(id) : fromAddress;
    const std::string skin = pages_.skin(id);
    const auto options = options_.find(id);
    if (!options || !options->archive) {
        return pageMessage(403, "No archive", "The archive of " + name + " is not shown.");
    }
    if (!viewerAccess(req, id).allowed) {
        const std::string next =
            isLocalTarget(req.target) ? req.target : "/webcams/PassRequiredArchive?id=" + id;
        return htmlAnswer(401, loginPage(id, name, skin, next, ""));
    }
    std::string day = req.param("day");
    if (req.hasParam("day") && !isDay(day)) {
        return pageMessage(400, "Not a day", "A day is written as 2026-12-07.");
    }
    ArchiveView v;
    v.camera = id;
    v.name = name;
    v.skin = skin;
    v.cameraAddress = "/webcams/index.jsp?id=" + id + "&name=" + urlEncode(name);
    v.days = archive_.days(id);
    const bool known = std::any_of(v.days.begin(), v.days.end(),
                                   [&day](const ArchiveDay& d) { return d.day == day; });
    if (!known && !v.days.empty()) {
        day = v.days.front().day;
    }
    v.day = day;
    if (!v.days.empty()) {
        v.frames = archive_.frames(id, day);
    }
    return htmlAnswer(200, reflector::archivePage(v));
}

HttpAnswer RelayService::archiveFrame(const HttpRequest& req) {
    const std::string id = req.param("id");
    if (!isValidCameraId(id)) {
        return textAnswer(400, "Not a valid camera id");
    }
    const auto number = readId(req.param("frame"));
    if (!number) {
        return textAnswer(400, "Not a frame number");
    }
    if (!registry_.isRegistered(id)) {
        return textAnswer(404, "Unknown camera");
    }
    const auto options = options_.find(id);
    if (!options || !options->archive) {
        return textAnswer(403, "The archive of this camera is not shown");
    }
    const ViewerAccess access = viewerAccess(req, id);
    if (!access.allowed) {
        return access.refusal;
    }
    auto bytes = archive_.frame(id, *number);
    if (!bytes) {
        return textAnswer(404, "No such frame");
    }
    auto body = archiveAnswers_.charge(std::move(*bytes));
    if (!body) {
        HttpAnswer busy = textAnswer(503, "Too many archive frames on their way, try again later");
        busy.headers.emplace_back("Retry-After", "1");
        return busy;
    }
    return jpegAnswer(std::move(body), access.sharedCaching, 86400);
}

HttpAnswer RelayService::adminPage(const HttpRequest& req) {
    const std::string id = req.param("id");
    if (!isValidCameraId(id)) {
        return invalidCamera();
    }
    if (!registry_.isRegistered(id)) {
        return elsewhere(req, id, unknownCamera(id));
    }
    AdminView v;
    v.camera = id;
    v.skin = pages_.skin(id);
    v.presets = pages_.presets(id);
    v.visitor = clientOf(req);
    v.fromStation = fromKeyHolder(req, id);
    v.adminPassword = !config_.adminPasswordHash.empty();
    v.skinsFirst = req.param("skins") == "true";
    if (req.param("sphere") == "True") {
        v.motorHint = "This camera takes a preset's pan and tilt as steps away from its home "
                      "position.";
    } else if (req.param("opticam") == "True") {
        v.motorHint = "This camera's pan-tilt base reads only a preset's pan and tilt.";
    }
    const std::string done = req.param("done");
    v.message = done == "saved"      ? "The preset is saved."
                : done == "deleted"  ? "The preset is deleted."
                : done == "skin"     ? "The skin is chosen."
                : done == "released" ? "The camera is released from its station key: the next "
                                       "station that registers it with a key claims it."
                                     : "";
    return htmlAnswer(200, reflector::adminPage(v));
}

HttpAnswer RelayService::adminChange(const HttpRequest& req) {
    Fields fields;
    std::string id;
    if (auto refused = readCameraForm(req, "Changes come as a form.", fields, id)) {
        return std::move(*refused);
    }
    AdminView v;
    v.camera = id;
    v.visitor = clientOf(req);
    v.adminPassword = !config_.adminPasswordHash.empty();
    v.fromStation = fromKeyHolder(req, id);
    const auto page = [this, v](int status, std::string message) {
        AdminView shown = v;
        shown.skin = pages_.skin(v.camera);
        shown.presets = pages_.presets(v.camera);
        shown.message = std::move(message);
        shown.error = true;
        return htmlAnswer(status, reflector::adminPage(shown));
    };
    const std::string action = formField(fields, "action");
    const std::string back = "/webcams/admin/index.jsp?id=" + id;
    std::function<HttpAnswer()> change;
    if (action == "save-preset" || action == "delete-preset") {
        const std::string name = trimmed(formField(fields, "name"));
        if (name.empty()) {
            return page(400, "Not saved: give the preset a name.");
        }
        if (const std::string why = checkOwnerText(name, kMaxPresetNameBytes, false, "The name");
            !why.empty()) {
            return page(400, "Not saved: " + why + ".");
        }
        if (action == "delete-preset") {
            change = [this, page, id, name, back] {
                if (!pages_.deletePreset(id, name)) {
                    return page(404, "There is no preset " + name + ".");
                }
                return redirect(back + "&done=deleted");
            };
        } else {
            const auto command =
                presetCommand(trimmed(formField(fields, "pan")), trimmed(formField(fields, "tilt")),
                              trimmed(formField(fields, "zoom")));
            if (!command) {
                return page(400, "Not saved: pan, tilt and zoom are whole numbers of at most 7 "
                                 "digits.");
            }
            change = [this, page, id, preset = Preset{name, *command}, back] {
                if (!pages_.savePreset(id, preset)) {
                    return page(409, "Not saved: a camera keeps at most " +
                                         std::to_string(kMaxPresets) + " presets.");
                }
                return redirect(back + "&done=saved");
            };
        }
    } else if (action == "skin") {
        const std::string skin = formField(fields, "skin");
        if (!isSkin(skin)) {
            return page(400, "Not changed: choose one of the skins.");
        }
        change = [this, id, skin, back] {
            pages_.setSkin(id, skin);
            return redirect(back + "&skins=true&done=skin");
        };
    } else if (action == "release-key") {
        change = [this, page, id, back, client = v.visitor] {
            if (!registry_.release(id)) {
                return page(404, "No camera " + id + " is registered here.");
            }
            std::cerr << "reflector: camera " << id << " released from its station key by the "
                      << "administrator at " << loggable(client) << std::endl;
            return redirect(back + "&done=released");
        };
        return manage(req, id, formField(fields, "adminpw"), page, std::move(change), true);
    } else {
        return page(400, "Not changed: unknown action.");
    }
    return manage(req, id, formField(fields, "adminpw"), page, std::move(change));
}

namespace {

// Where viewers reach a listed camera's relay: this relay itself (an address on it), the
// viewer address a directory's list gives for it, or http://host:port.
std::string relayBase(const ListingEntry& e, const std::string& host,
                      const std::vector<RelayAddress>& relays) {
    if (e.relay == host) {
        return {};
    }
    for (const RelayAddress& r : relays) {
        if (r.name() == e.relay) {
            return r.viewerBase;
        }
    }
    return "http://" + e.relay;
}

std::string cameraAddress(const std::string& base, const ListingEntry& e, const std::string& name) {
    return base + "/webcams/index.jsp?id=" + e.camera +
           "&path=webcams&ptz=" + (e.ptz ? "true" : "false") + "&name=" + urlEncode(name);
}

} // namespace

HttpAnswer RelayService::liveList(const HttpRequest& req) {
    const std::string host = req.header("Host");
    std::vector<LiveItem> items;
    std::set<std::string> sources;
    for (const ListingEntry& e : listing_.current()) {
        if (!e.listed) {
            continue;
        }
        LiveItem item;
        item.camera = e.camera;
        const auto profile = pages_.profile(e.camera);
        item.name = profile && !profile->name.empty() ? profile->name
                    : !e.name.empty()                 ? e.name
                                                      : e.camera;
        const std::string base = relayBase(e, host, config_.relays);
        item.pageAddress = cameraAddress(base, e, item.name);
        item.ptz = e.ptz;
        item.password = e.password;
        item.archive = e.archive;
        // Pictures from other relays need their origin in the page's policy, and only a few
        // are named there.
        const bool sourceOk =
            base.empty() || sources.count(base) != 0 || sources.size() < kMaxImageSources;
        if (!e.hideThumbnail && !e.password && sourceOk) {
            item.thumbAddress = base + "/webcams/thumb?id=" + e.camera;
            if (!base.empty()) {
                sources.insert(base);
            }
        }
        items.push_back(std::move(item));
    }
    std::sort(items.begin(), items.end(), [](const LiveItem& a, const LiveItem& b) {
        const auto lower = [](std::string s) {
            std::transform(s.begin(), s.end(), s.begin(),
                           [](unsigned char c) { return std::tolower(c); });
            return s;
        };
        return lower(a.name) < lower(b.name);
    });
    std::string extra;
    for (const std::string& source : sources) {
        extra += " " + source;
    }
    HttpAnswer answer = htmlAnswer(200, liveListPage(items));
    if (!extra.empty()) {
        for (auto& [name, value] : answer.headers) {
            if (name == "Content-Security-Policy") {
                const std::string images = "img-src 'self' blob:";
                value.replace(value.find(images), images.size(), images + extra);
            }
        }
    }
    return answer;
}

HttpAnswer RelayService::profilePage(const HttpRequest& req) {
    const std::string id = req.param("id");
    if (!isValidCameraId(id)) {
        return invalidCamera();
    }
    std::optional<ListingEntry> entry;
    for (ListingEntry& e : listing_.current()) {
        if (e.camera == id) {
            entry = std::move(e);
        }
    }
    const auto profile = pages_.profile(id);
    if (!entry && !profile && !registry_.isRegistered(id)) {
        return pageMessage(404, "Unknown camera", "No camera " + id + " is known here.");
    }
    ProfileView v;
    v.camera = id;
    v.profileName = profile ? profile->name : std::string();
    v.name = !v.profileName.empty()          ? v.profileName
             : entry && !entry->name.empty() ? entry->name
                                             : id;
    v.description = profile ? profile->description : std::string();
    v.listed = entry && entry->listed;
    if (entry) {
        v.pageAddress =
            cameraAddress(relayBase(*entry, req.header("Host"), config_.relays), *entry, v.name);
    }
    v.visitor = clientOf(req);
    v.fromStation = fromKeyHolder(req, id);
    v.adminPassword = !config_.adminPasswordHash.empty();
    if (req.param("done") == "saved") {
        v.message = "The profile is saved.";
    }
    return htmlAnswer(200, reflector::profilePage(v));
}

HttpAnswer RelayService::profileChange(const HttpRequest& req) {
    Fields fields;
    std::string id;
    if (auto refused = readCameraForm(req, "Changes come as a form.", fields, id, true)) {
        return std::move(*refused);
    }
    if (!registry_.isRegistered(id) && !listing_.isListed(id) && !pages_.profile(id)) {
        return pageMessage(404, "Unknown camera", "No camera " + id + " is known here.");
    }
    Profile profile{trimmed(formField(fields, "name")), formField(fields, "description")};
    // Line ends as the browser sends them (CR LF) are kept as LF.
    profile.description.erase(
        std::remove(profile.description.begin(), profile.description.end(), '\r'),
        profile.description.end());
    profile.description = trimmed(profile.description);
    ProfileView v;
    v.camera = id;
    v.name = profile.name.empty() ? id : profile.name;
    v.profileName = profile.name;
    v.description = profile.description;
    v.visitor = clientOf(req);
    v.fromStation = fromKeyHolder(req, id);
    v.adminPassword = !config_.adminPasswordHash.empty();
    const auto page = [v](int status, std::string message) {
        ProfileView shown = v;
        shown.message = std::move(message);
        shown.error = true;
        return htmlAnswer(status, reflector::profilePage(shown));
    };
    for (const auto& [text, max, lines, what] :
         {std::tuple<const std::string&, std::size_t, bool, const char*>{
              profile.name, kMaxProfileNameBytes, false, "The name"},
          {profile.description, kMaxDescriptionBytes, true, "The description"}}) {
        if (const std::string why = checkOwnerText(text, max, lines, what); !why.empty()) {
            return page(400, "Not saved: " + why + ".");
        }
    }
    return manage(req, id, formField(fields, "adminpw"), page, [this, id, profile] {
        pages_.setProfile(id, profile);
        return redirect("/description.php?id=" + id + "&done=saved");
    });
}

HttpAnswer RelayService::chatPage(const HttpRequest& req) {
    const std::string room =
        checkRoom(req.hasParam("room") ? req.param("room") : std::string("Kestrova Chat:0"));
    if (room.empty()) {
        return pageMessage(400, "Not a chat room",
                           "A room name has at most 300 characters, without control characters.");
    }
    const std::string user = cleanName(req.param("name"), kMaxChatNameBytes);
    return htmlAnswer(200, reflector::chatPage(room, user, chat_.messages(room, 0)));
}

HttpAnswer RelayService::chatMessages(const HttpRequest& req) {
    const std::string room = checkRoom(req.param("room"));
    if (room.empty()) {
        return textAnswer(400, "Not a chat room");
    }
    const auto after =
        req.hasParam("after") ? readId(req.param("after")) : std::optional<std::int64_t>(0);
    if (!after) {
        return textAnswer(400, "after must be a message number");
    }
    HttpAnswer answer = textAnswer(200, chatJson(chat_.messages(room, *after)));
    answer.contentType = "application/json";
    return answer;
}

HttpAnswer RelayService::chatSend(const HttpRequest& req) {
    if (!sameOrigin(req)) {
        return otherSite();
    }
    if (!isForm(req)) {
        return textAnswer(400, "Chat: expected a form");
    }
    const Fields fields = parseForm(req.body);
    const std::string room = checkRoom(formField(fields, "room"));
    if (room.empty()) {
        return textAnswer(400, "Chat: not a chat room");
    }
    const std::string name = trimmed(formField(fields, "name"));
    std::string text = formField(fields, "text");
    std::replace(text.begin(), text.end(), '\r', ' ');
    std::replace(text.begin(), text.end(), '\n', ' ');
    text = trimmed(text);
    if (name.empty() || !checkOwnerText(name, kMaxChatNameBytes, false, "name").empty()) {
        return textAnswer(400, "Chat: a name has 1 to 40 characters");
    }
    if (text.empty() || !checkOwnerText(text, kMaxChatTextBytes, false, "text").empty()) {
        return textAnswer(400, "Chat: a message has 1 to 500 characters");
    }
    if (!chatRate_.allow(clientOf(req))) {
        HttpAnswer slow = textAnswer(429, "Chat: too many messages, wait a moment");
        slow.headers.emplace_back("Retry-After", "2");
        return slow;
    }
    chat_.post(room, name, text);
    if (formField(fields, "return") == "page") {
        return redirect("/fchat/chat2.php?path=1&name=" + urlEncode(name) +
                        "&room=" + urlEncode(room));
    }
    HttpAnswer sent;
    sent.status = 204;
    return sent;
}

} // namespace reflector
