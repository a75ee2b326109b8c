// The addresses the station's posting helper uses (the move queue, the visitor status and the
// live listing) and the viewers' command that feeds the move queue.

#include "CameraId.h"
#include "Routes.h"
#include "Text.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <optional>

namespace reflector {

namespace {

constexpr int kMostWaitSeconds = 25;

// The `wait` parameter: 0 to 25 whole seconds, 0 when absent; nullopt when it is anything else.
std::optional<int> waitSeconds(const HttpRequest& req) {
    if (!req.hasParam("wait")) {
        return 0;
    }
    const std::string text = req.param("wait");
    if (text.empty() || text.size() > 2 ||
        text.find_first_not_of("0123456789") != std::string::npos) {
        return std::nullopt;
    }
    const int seconds = std::stoi(text);
    return seconds <= kMostWaitSeconds ? std::optional<int>(seconds) : std::nullopt;
}

constexpr const char* kBadWait = "wait must be a whole number of seconds from 0 to 25";

bool isForm(const HttpRequest& req) {
    return hasMediaType(req.header("Content-Type"), "application/x-www-form-urlencoded");
}

// The first value of a form field; empty when absent.
std::string field(const Fields& fields, const char* name) {
    for (const auto& [key, value] : fields) {
        if (key == name) {
            return value;
        }
    }
    return {};
}

HttpAnswer listingRefusal(int status, const std::string& reason) {
    return textAnswer(status, "Listing: false - " + reason);
}

// True when two "host:port" texts name the same relay (host names compared without regard to
// case).
bool sameRelay(const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

HttpAnswer commandsAnswer(const std::vector<std::string>& commands) {
    std::string body;
    for (const std::string& c : commands) {
        body += c + "\r\n";
    }
    return textAnswer(200, body);
}

SteadyClock::time_point waitEnd(int seconds) {
    return SteadyClock::now() + std::chrono::seconds(seconds);
}

// A poll of the move queue held until a command for its camera is queued.
class MovePoll : public PendingAnswer {
  public:
    MovePoll(MoveQueue& moves, std::string camera, HoldLimit::Permit permit,
             const std::atomic<bool>& closing, int waitSeconds)
        : PendingAnswer(waitEnd(waitSeconds)), moves_(moves), camera_(std::move(camera)),
          permit_(std::move(permit)), closing_(closing) {}

    void start(Wake wake) override { subscription_ = moves_.subscribe(camera_, std::move(wake)); }

    std::optional<HttpAnswer> poll(bool last, SteadyClock::time_point&) override {
        const std::vector<std::string> commands = moves_.take(camera_);
        if (commands.empty() && !last && !closing_) {
            return std::nullopt;
        }
        return commandsAnswer(commands);
    }

  private:
    MoveQueue& moves_;
    std::string camera_;
    HoldLimit::Permit permit_;
    const std::atomic<bool>& closing_;
    Notifier::Subscription subscription_;
};

// A visitor status request held until the status differs from what the helper knows.
class VisitorPoll : public PendingAnswer {
  public:
    VisitorPoll(VisitorTracker& visitors, std::string camera, bool known, HoldLimit::Permit permit,
                const std::atomic<bool>& closing, int waitSeconds)
        : PendingAnswer(waitEnd(waitSeconds)), visitors_(visitors), camera_(std::move(camera)),
          known_(known), permit_(std::move(permit)), closing_(closing) {}

    void start(Wake wake) override {
        subscription_ = visitors_.subscribe(camera_, std::move(wake));
    }

    std::optional<HttpAnswer> poll(bool last, SteadyClock::time_point& recheck) override {
        WallClock::duration endsIn{};
        const bool status = visitors_.status(camera_, &endsIn);
        if (status != known_ || last || closing_) {
            return textAnswer(200, status ? "true" : "false");
        }
        // With visitors, the status turns false by itself when the window ends.
        if (status) {
            recheck = std::min(recheck, SteadyClock::now() +
                                            std::chrono::ceil<SteadyClock::duration>(endsIn) +
                                            std::chrono::milliseconds(1));
        }
        return std::nullopt;
    }

  private:
    VisitorTracker& visitors_;
    std::string camera_;
    bool known_;
    HoldLimit::Permit permit_;
    const std::atomic<bool>& closing_;
    Notifier::Subscription subscription_;
};

} // namespace

HttpAnswer RelayService::command(const HttpRequest& req) {
    if (!sameOrigin(req)) {
        return textAnswer(403, "Command refused: sent from a page of another site");
    }
    if (!isForm(req)) {
        return textAnswer(400, "Command refused: expected a form");
    }
    const Fields fields = parseForm(req.body);
    const std::string id = field(fields, "id");
    const std::string cmd = field(fields, "cmd");
    if (!isValidCameraId(id)) {
        return textAnswer(400, "Command refused: not a valid camera id");
    }
    if (!isStationCommand(cmd)) {
        return textAnswer(400, "Command refused: unknown command");
    }
    if (!registry_.isRegistered(id)) {
        return textAnswer(404, "Unknown camera");
    }
    if (!viewerAccess(req, id).allowed) {
        return textAnswer(401, "Command refused: password required");
    }
    // Once the station has synchronised its options, they say what viewers may do.
    if (const auto options = options_.find(id)) {
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
    if (!commandRate_.allow(clientOf(req))) {
        HttpAnswer slow = textAnswer(429, "Command refused: a few commands per second at most");
        slow.headers.emplace_back("Retry-After", "1");
        return slow;
    }
    moves_.push(id, cmd);
    HttpAnswer queued;
    queued.status = 204;
    return queued;
}

HttpAnswer RelayService::moveRouterProxy(const HttpRequest& req) {
    const std::string id = req.param("id");
    if (!isValidCameraId(id)) {
        return textAnswer(400, "Not a valid camera id");
    }
    const auto wait = waitSeconds(req);
    if (!wait) {
        return textAnswer(400, kBadWait);
    }
    if (!registry_.isRegistered(id)) {
        return textAnswer(404, "Unknown camera");
    }
    const KeyStanding standing = keyStandingOf(req, id);
    if (const std::string why = keyRefusal(standing, id); !why.empty()) {
        return textAnswer(403, sentence(why));
    }
    registry_.heard(id, unixMillis(config_.clock()));
    std::vector<std::string> commands = moves_.take(id);
    if (commands.empty() && *wait > 0 && !closing_) {
        // Beyond the bound of held requests the poll is answered at once, as if without wait.
        if (HoldLimit::Permit permit = holds_.tryHold(req.clientAddress)) {
            HttpAnswer held;
            held.pending =
                std::make_shared<MovePoll>(moves_, id, std::move(permit), closing_, *wait);
            return held;
        }
    }
    return commandsAnswer(commands);
}

HttpAnswer RelayService::visitorStatus(const HttpRequest& req) {
    const std::string id = req.param("id");
    if (!isValidCameraId(id)) {
        return textAnswer(400, "Not a valid camera id");
    }
    std::optional<bool> known;
    if (req.hasParam("known")) {
        const std::string text = req.param("known");
        if (text != "true" && text != "false") {
            return textAnswer(400, "known must be true or false");
        }
        known = text == "true";
    }
    const auto wait = waitSeconds(req);
    if (!wait) {
        return textAnswer(400, kBadWait);
    }
    if (!registry_.isRegistered(id)) {
        return textAnswer(404, "Unknown camera");
    }
    const KeyStanding standing = keyStandingOf(req, id);
    if (const std::string why = keyRefusal(standing, id); !why.empty()) {
        return textAnswer(403, sentence(why));
    }
    registry_.heard(id, unixMillis(config_.clock()));
    const bool status = visitors_.hasVisitors(id);
    if (known && status == *known && *wait > 0 && !closing_) {
        if (HoldLimit::Permit permit = holds_.tryHold(req.clientAddress)) {
            HttpAnswer held;
            held.pending = std::make_shared<VisitorPoll>(visitors_, id, *known, std::move(permit),
                                                         closing_, *wait);
            return held;
        }
    }
    return textAnswer(200, status ? "true" : "false");
}

HttpAnswer RelayService::listingPost(const HttpRequest& req) {
    if (!isForm(req)) {
        return listingRefusal(400, "expected a form");
    }
    const ParsedListing parsed = parseListingPost(parseForm(req.body));
    if (!parsed.error.empty()) {
        return listingRefusal(400, parsed.error);
    }
    // Only the station that holds a camera's key lists it, and only on the relay that serves
    // it: the live list links to the entry's relay and loads its thumbnail from there.
    const std::string& id = parsed.entry.camera;
    if (!registry_.isRegistered(id)) {
        return listingRefusal(404, "camera " + id + " is not registered here");
    }
    const KeyStanding standing = keyStandingOf(req, id);
    if (standing == KeyStanding::Open) {
        return listingRefusal(403, "camera " + id +
                                       " is bound to no station key: its station "
                                       "must register with its key first");
    }
    if (const std::string why = keyRefusal(standing, id); !why.empty()) {
        return listingRefusal(403, why);
    }
    if (const std::string self = thisRelay(req); !sameRelay(parsed.entry.relay, self)) {
        return listingRefusal(400, "relay must be this relay (" + self + ")");
    }
    const auto result = listing_.post(parsed.entry, parsed.token);
    switch (result.outcome) {
    case ListingStore::Outcome::Created:
    case ListingStore::Outcome::Replaced:
        noteStation(req, id, standing);
        return textAnswer(200, "Listing: true token=" + result.token);
    case ListingStore::Outcome::Full:
        return listingRefusal(503, "the listing is full");
    default:
        return listingRefusal(403, "held by another station");
    }
}

namespace {

// The form of a refresh or a removal: the camera's identifier and its entry's token. The refusal
// when it is not that; nothing, and `id` and `token` filled, when it is.
std::optional<HttpAnswer> readListingForm(const HttpRequest& req, std::string& id,
                                          std::string& token) {
    if (!isForm(req)) {
        return listingRefusal(400, "expected a form");
    }
    const Fields fields = parseForm(req.body);
    id = field(fields, "id");
    token = field(fields, "token");
    if (!isValidCameraId(id)) {
        return listingRefusal(400, "not a valid camera id");
    }
    if (!isListingToken(token)) {
        return listingRefusal(400, "not a valid token");
    }
    return std::nullopt;
}

} // namespace

HttpAnswer RelayService::listingRefresh(const HttpRequest& req) {
    std::string id;
    std::string token;
    if (auto refused = readListingForm(req, id, token)) {
        return std::move(*refused);
    }
    const KeyStanding standing = keyStandingOf(req, id);
    if (standing != KeyStanding::Holder && registry_.isRegistered(id)) {
        return listingRefusal(403, standing == KeyStanding::Open
                                       ? "camera " + id + " is bound to no station key"
                                       : keyRefusal(standing, id));
    }
    switch (listing_.refresh(id, token).outcome) {
    case ListingStore::Outcome::Refreshed:
        noteStation(req, id, standing);
        return textAnswer(200, "Listing: true");
    case ListingStore::Outcome::NotListed:
        return listingRefusal(404, "not listed");
    default:
        return listingRefusal(403, "held by another station");
    }
}

HttpAnswer RelayService::listingRemove(const HttpRequest& req) {
    std::string id;
    std::string token;
    if (auto refused = readListingForm(req, id, token)) {
        return std::move(*refused);
    }
    const KeyStanding standing = keyStandingOf(req, id);
    if (const std::string why = keyRefusal(standing, id);
        !why.empty() && registry_.isRegistered(id)) {
        return listingRefusal(403, why);
    }
    if (listing_.remove(id, token).outcome == ListingStore::Outcome::Removed) {
        return textAnswer(200, "Listing: true");
    }
    return listingRefusal(403, "held by another station");
}

HttpAnswer RelayService::listingCheck(const HttpRequest& req) {
    const std::string id = req.param("id");
    if (!isValidCameraId(id)) {
        return textAnswer(400, "Listed: false - not a valid camera id");
    }
    return textAnswer(200, listing_.isListed(id) ? "Listed: true" : "Listed: false");
}

} // namespace reflector
