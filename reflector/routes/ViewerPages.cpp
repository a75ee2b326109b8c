#include "routes/ViewerPages.h"

#include "core/CameraId.h"
#include "core/Text.h"
#include "pages/Pages.h"
#include "routes/Answers.h"
#include "routes/Forms.h"

#include <cctype>
#include <iostream>

namespace reflector {

namespace {

constexpr std::size_t kMaxShownNameBytes = 80;

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

} // namespace

ViewerPages::ViewerPages(ViewerPageStores stores, ViewerGate& gate, const Clients& clients,
                         PasswordPool& passwords)
    : s_(stores), gate_(gate), clients_(clients), passwords_(passwords) {}

void ViewerPages::addRoutes(Router& r) {
    const auto cameraById = [this](const HttpRequest& req) {
        return cameraPage(req, req.param("id"));
    };
    // The camera page; index.jsp is the address the station's "View Camera Webpage" opens.
    r.add("GET", "/webcams/index.jsp", cameraById);
    r.add("GET", "/webcams/view", cameraById);
    // Only for paths without a handler of their own: /webcams/<camera id> is the camera's page.
    r.addPrefix("GET", "/webcams/", [this](const HttpRequest& req) {
        const std::string id = req.path.substr(std::string("/webcams/").size());
        if (!isValidCameraId(id)) {
            return textAnswer(404, statusText(404));
        }
        return cameraPage(req, id);
    });
    // Password hashing: on a worker, through the password pool.
    r.add("POST", "/webcams/login", [this](const HttpRequest& req) { return login(req); });
    r.add("GET", "/webcams/PassRequiredArchive",
          [this](const HttpRequest& req) { return archivePage(req); });
    // A command only queues, on the network thread while the stores it asks are in memory.
    RouteOptions quick;
    quick.quick = s_.registry.inMemory() && gate_.inMemory() && s_.moves.inMemory() &&
                  s_.commandRate.inMemory();
    r.add(
        "POST", "/webcams/command", [this](const HttpRequest& req) { return command(req); }, quick);
}

std::string ViewerPages::shownName(const std::string& id) {
    if (const auto profile = s_.pages.profile(id); profile && !profile->name.empty()) {
        return profile->name;
    }
    for (const ListingEntry& e : s_.listing.current()) {
        if (e.camera == id && !e.name.empty()) {
            return e.name;
        }
    }
    return id;
}

HttpAnswer ViewerPages::cameraPage(const HttpRequest& req, const std::string& id) {
    if (!isValidCameraId(id)) {
        return invalidCamera();
    }
    if (!s_.registry.isRegistered(id)) {
        return unknownCamera(id);
    }
    const std::string fromAddress = cleanName(req.param("name"), kMaxShownNameBytes);
    const std::string name = fromAddress.empty() ? shownName(id) : fromAddress;
    const std::string skin = s_.pages.skin(id);
    if (!gate_.access(req, id).allowed) {
        const std::string next =
            isLocalTarget(req.target) ? req.target : "/webcams/index.jsp?id=" + id;
        return htmlAnswer(401, loginPage(id, name, skin, next, ""));
    }
    s_.visitors.noteVisit(id);
    const auto options = s_.options.find(id);
    const auto camera = s_.registry.find(id);
    CameraView v;
    v.camera = id;
    v.name = name;
    v.skin = skin;
    // Before the station's first option sync, what its registration said.
    v.moves = options ? options->ptz : camera && camera->ptz;
    if (options) {
        v.zoom = options->zoom;
        if (options->ptz && options->presets) {
            v.presets = s_.pages.presets(id);
        }
        v.snapshot = options->snapshot;
        v.archive = options->archive;
        if (options->chat) {
            v.chatRoom = options->chatRoom + ":" + std::to_string(options->chatNumber);
        }
    }
    if (const auto profile = s_.pages.profile(id)) {
        v.description = profile->description;
    }
    return htmlAnswer(200, reflector::cameraPage(v));
}

HttpAnswer ViewerPages::login(const HttpRequest& req) {
    Fields fields;
    std::string id;
    if (auto refused =
            readCameraForm(req, s_.registry, "The password comes as a form.", fields, id)) {
        return std::move(*refused);
    }
    const std::string given = formField(fields, "next");
    const std::string next = isLocalTarget(given) ? given : "/webcams/index.jsp?id=" + id;
    const std::string name = shownName(id);
    const std::string skin = s_.pages.skin(id);
    const auto options = s_.options.find(id);
    if (!options || !options->secure) {
        return redirect(next); // nothing to open
    }
    // Wrong passwords slow down per address and, for guesses from many addresses, per camera.
    const std::string client = clients_.of(req);
    const auto addressWait = s_.loginsByAddress.waitFor(client);
    const auto cameraWait = s_.loginsByCamera.waitFor(id);
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
            if (!s_.options.verifyViewerPassword(id, password)) {
                s_.loginsByAddress.failed(client);
                s_.loginsByCamera.failed(id);
                std::cerr << "reflector: wrong viewer password from " << loggable(client)
                          << " for camera " << id << std::endl;
                return page(401, "Wrong password.");
            }
            s_.loginsByAddress.succeeded(client);
            const std::string token = s_.sessions.open(id, s_.options.passwordHash(id));
            HttpAnswer answer = redirect(next);
            const auto seconds =
                std::chrono::duration_cast<std::chrono::seconds>(s_.sessions.lifetime()).count();
            answer.headers.emplace_back("Set-Cookie",
                                        sessionCookieName(id) + "=" + token +
                                            "; Path=/; Max-Age=" + std::to_string(seconds) +
                                            "; HttpOnly; SameSite=Strict");
            return answer;
        },
        hashingBusy(page(503, kHashingBusy)), kHashingLimit);
}

HttpAnswer ViewerPages::archivePage(const HttpRequest& req) {
    const std::string id = req.param("id");
    if (!isValidCameraId(id)) {
        return invalidCamera();
    }
    if (!s_.registry.isRegistered(id)) {
        return unknownCamera(id);
    }
    const std::string fromAddress = cleanName(req.param("name"), kMaxShownNameBytes);
    const std::string name = fromAddress.empty() ? shownName(id) : fromAddress;
    const std::string skin = s_.pages.skin(id);
    const auto options = s_.options.find(id);
    if (!options || !options->archive) {
        return pageMessage(403, "No archive", "The archive of " + name + " is not shown.");
    }
    if (!gate_.access(req, id).allowed) {
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
    v.days = s_.archive.days(id);
    const bool known = std::any_of(v.days.begin(), v.days.end(),
                                   [&day](const ArchiveDay& d) { return d.day == day; });
    if (!known && !v.days.empty()) {
        day = v.days.front().day;
    }
    v.day = day;
    if (!v.days.empty()) {
        v.frames = s_.archive.frames(id, day);
    }
    return htmlAnswer(200, reflector::archivePage(v));
}

HttpAnswer ViewerPages::command(const HttpRequest& req) {
    if (!sameOrigin(req)) {
        return textAnswer(403, "Command refused: sent from a page of another site");
    }
    if (!isForm(req)) {
        return textAnswer(400, "Command refused: expected a form");
    }
    const Fields fields = parseForm(req.body);
    const std::string id = formField(fields, "id");
    const std::string cmd = formField(fields, "cmd");
    if (!isValidCameraId(id)) {
        return textAnswer(400, "Command refused: not a valid camera id");
    }
    if (!isStationCommand(cmd)) {
        return textAnswer(400, "Command refused: unknown command");
    }
    if (!s_.registry.isRegistered(id)) {
        return textAnswer(404, "Unknown camera");
    }
    if (!gate_.access(req, id).allowed) {
        return textAnswer(401, "Command refused: password required");
    }
    // Once the station has synchronised its options, they say what viewers may do.
    if (const auto options = s_.options.find(id)) {
        const bool zoom = cmd == "ZOOM_IN" || cmd == "ZOOM_OUT" || cmd == "RESTORE";
        const bool preset = cmd.rfind("Preset_", 0) == 0;
        if (zoom && !options->zoom) {
            return textAnswer(403, "Command refused: zoom is off for this camera");
        }
        if (!zoom && !options->ptz) {
            return textAnswer(403, "Command refused: this camera does not move");
        }
        if (preset && !options->presets) {
            return textAnswer(403, "Command refused: presets are off for this camera");
        }
    }
    if (!s_.commandRate.allow(clients_.of(req))) {
        HttpAnswer slow = textAnswer(429, "Command refused: a few commands per second at most");
        slow.headers.emplace_back("Retry-After", "1");
        return slow;
    }
    s_.moves.push(id, cmd);
    HttpAnswer queued;
    queued.status = 204;
    return queued;
}

} // namespace reflector
