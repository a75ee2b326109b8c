#include "routes/HelperRoutes.h"

#include "core/CameraId.h"
#include "core/Text.h"
#include "routes/Asked.h"
#include "routes/Forms.h"

#include <algorithm>
#include <cctype>
#include <functional>
#include <mutex>
#include <optional>
#include <vector>

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
             const std::atomic<bool>& closing, Notifier& stopping, int waitSeconds)
        : PendingAnswer(waitEnd(waitSeconds)), moves_(moves), camera_(std::move(camera)),
          permit_(std::move(permit)), closing_(closing), stopping_(stopping) {}

    void start(Wake wake) override {
        taken_.start(wake);
        stopped_ = stopping_.subscribe({}, wake);
        subscription_ = moves_.subscribe(camera_, std::move(wake));
    }

    std::optional<HttpAnswer> poll(bool last, SteadyClock::time_point&) override {
        const auto take = [this](MoveQueue::Taken done) {
            moves_.takeAsync(camera_, std::move(done));
        };
        std::optional<std::vector<std::string>> commands = taken_.answer(take);
        if (commands && commands->empty() && taken_.stale()) {
            commands = taken_.answer(take);
        }
        if (commands && !commands->empty()) {
            return commandsAnswer(*commands);
        }
        if (!last && !closing_) {
            return std::nullopt;
        }
        // Commands taken too late for this answer go back for the next poll.
        taken_.abandon([&moves = moves_, camera = camera_](std::vector<std::string> late) {
            moves.giveBack(camera, std::move(late));
        });
        return commandsAnswer({});
    }

  private:
    MoveQueue& moves_;
    std::string camera_;
    HoldLimit::Permit permit_;
    const std::atomic<bool>& closing_;
    Notifier& stopping_;
    Asked<std::vector<std::string>> taken_;
    Subscription subscription_;
    Subscription stopped_;
};

// A visitor status request held until the status differs from what the helper knows.
class VisitorPoll : public PendingAnswer {
  public:
    VisitorPoll(VisitorTracker& visitors, std::string camera, bool known, HoldLimit::Permit permit,
                const std::atomic<bool>& closing, Notifier& stopping, int waitSeconds)
        : PendingAnswer(waitEnd(waitSeconds)), visitors_(visitors), camera_(std::move(camera)),
          known_(known), permit_(std::move(permit)), closing_(closing), stopping_(stopping) {}

    void start(Wake wake) override {
        status_.start(wake);
        stopped_ = stopping_.subscribe({}, wake);
        subscription_ = visitors_.subscribe(camera_, std::move(wake));
    }

    std::optional<HttpAnswer> poll(bool last, SteadyClock::time_point& recheck) override {
        const auto ask = [this](std::function<void(Status)> done) {
            visitors_.statusAsync(
                camera_, [done = std::move(done)](bool visited, WallClock::duration endsIn) {
                    done(Status{visited, endsIn});
                });
        };
        std::optional<Status> status = status_.answer(ask);
        if (status && status->visited == known_ && status_.stale()) {
            status = status_.answer(ask);
        }
        if (!status) {
            // Still on its way: at the end, the status the request found.
            return last || closing_ ? std::optional(statusAnswer(known_)) : std::nullopt;
        }
        if (status->visited != known_ || last || closing_) {
            return statusAnswer(status->visited);
        }
        // With visitors, the status turns false by itself when the window ends.
        if (status->visited) {
            recheck =
                std::min(recheck, SteadyClock::now() +
                                      std::chrono::ceil<SteadyClock::duration>(status->endsIn) +
                                      std::chrono::milliseconds(1));
        }
        return std::nullopt;
    }

  private:
    struct Status {
        bool visited = false;
        WallClock::duration endsIn{};
    };
    static HttpAnswer statusAnswer(bool visited) {
        return textAnswer(200, visited ? "true" : "false");
    }

    VisitorTracker& visitors_;
    std::string camera_;
    bool known_;
    HoldLimit::Permit permit_;
    const std::atomic<bool>& closing_;
    Notifier& stopping_;
    Asked<Status> status_;
    Subscription subscription_;
    Subscription stopped_;
};

// The form of a refresh or a removal: the camera's identifier and its entry's token. The refusal
// when it is not that; nothing, and `id` and `token` filled, when it is.
std::optional<HttpAnswer> readListingForm(const HttpRequest& req, std::string& id,
                                          std::string& token) {
    if (!isForm(req)) {
        return listingRefusal(400, "expected a form");
    }
    const Fields fields = parseForm(req.body);
    id = formField(fields, "id");
    token = formField(fields, "token");
    if (!isValidCameraId(id)) {
        return listingRefusal(400, "not a valid camera id");
    }
    if (!isListingToken(token)) {
        return listingRefusal(400, "not a valid token");
    }
    return std::nullopt;
}

} // namespace

HelperRoutes::HelperRoutes(const RelayConfig& config, Registry& registry, MoveQueue& moves,
                           VisitorTracker& visitors, ListingStore& listing, StationKeys& keys,
                           const ThisRelay& relay)
    : clock_(clockOrSystem(config.clock)), registry_(registry), moves_(moves), visitors_(visitors),
      listing_(listing), keys_(keys), relay_(relay),
      holds_(config.maxLongPolls,
             config.transport.maxConnectionsPerAddress == 0 ? 0 : config.maxLongPollsPerAddress) {}

void HelperRoutes::addRoutes(Router& r) {
    // The polls answer or hold at once, on the network thread while their stores are in memory.
    RouteOptions moveOptions;
    moveOptions.quick = registry_.inMemory() && moves_.inMemory();
    RouteOptions visitorOptions;
    visitorOptions.quick = registry_.inMemory() && visitors_.inMemory();
    r.add(
        "GET", "/webcams/MoveRouterProxy",
        [this](const HttpRequest& req) { return moveRouterProxy(req); }, moveOptions);
    r.add(
        "GET", "/webcams/CheckVisitorStatus",
        [this](const HttpRequest& req) { return visitorStatus(req); }, visitorOptions);
    r.add("POST", "/live/post", [this](const HttpRequest& req) { return listingPost(req); });
    r.add("POST", "/live/refresh", [this](const HttpRequest& req) { return listingRefresh(req); });
    r.add("POST", "/live/remove", [this](const HttpRequest& req) { return listingRemove(req); });
    r.add("GET", "/live/check", [this](const HttpRequest& req) { return listingCheck(req); });
}

void HelperRoutes::shutdown() {
    closing_ = true;
    stopping_.notifyAll();
}

HttpAnswer HelperRoutes::moveRouterProxy(const HttpRequest& req) {
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
    const KeyStanding standing = keys_.standingOf(req, id);
    if (const std::string why = keyRefusal(standing, id); !why.empty()) {
        return textAnswer(403, sentence(why));
    }
    registry_.heard(id, unixMillis(clock_()));
    std::vector<std::string> commands = moves_.take(id);
    if (commands.empty() && *wait > 0 && !closing_) {
        // Beyond the bound of held requests the poll is answered at once, as if without wait.
        if (HoldLimit::Permit permit = holds_.tryHold(req.clientAddress)) {
            HttpAnswer held;
            held.pending = std::make_shared<MovePoll>(moves_, id, std::move(permit), closing_,
                                                      stopping_, *wait);
            return held;
        }
    }
    return commandsAnswer(commands);
}

HttpAnswer HelperRoutes::visitorStatus(const HttpRequest& req) {
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
    const KeyStanding standing = keys_.standingOf(req, id);
    if (const std::string why = keyRefusal(standing, id); !why.empty()) {
        return textAnswer(403, sentence(why));
    }
    registry_.heard(id, unixMillis(clock_()));
    const bool status = visitors_.hasVisitors(id);
    if (known && status == *known && *wait > 0 && !closing_) {
        if (HoldLimit::Permit permit = holds_.tryHold(req.clientAddress)) {
            HttpAnswer held;
            held.pending = std::make_shared<VisitorPoll>(visitors_, id, *known, std::move(permit),
                                                         closing_, stopping_, *wait);
            return held;
        }
    }
    return textAnswer(200, status ? "true" : "false");
}

HttpAnswer HelperRoutes::listingPost(const HttpRequest& req) {
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
    const KeyStanding standing = keys_.standingOf(req, id);
    if (standing == KeyStanding::Open) {
        return listingRefusal(403, "camera " + id +
                                       " is bound to no station key: its station "
                                       "must register with its key first");
    }
    if (const std::string why = keyRefusal(standing, id); !why.empty()) {
        return listingRefusal(403, why);
    }
    if (const std::string self = relay_.name(req); !sameRelay(parsed.entry.relay, self)) {
        return listingRefusal(400, "relay must be this relay (" + self + ")");
    }
    auto result = listing_.post(parsed.entry, parsed.token);
    if (result.outcome == ListingStore::Outcome::HeldByOther) {
        // Only the key holder gets here: its helper started again and lost the token.
        listing_.forget(id);
        result = listing_.post(parsed.entry, {});
    }
    switch (result.outcome) {
    case ListingStore::Outcome::Created:
    case ListingStore::Outcome::Replaced:
        keys_.noteStation(req, id, standing);
        return textAnswer(200, "Listing: true token=" + result.token);
    case ListingStore::Outcome::Full:
        return listingRefusal(503, "the listing is full");
    default:
        return listingRefusal(403, "held by another station");
    }
}

HttpAnswer HelperRoutes::listingRefresh(const HttpRequest& req) {
    std::string id;
    std::string token;
    if (auto refused = readListingForm(req, id, token)) {
        return std::move(*refused);
    }
    const KeyStanding standing = keys_.standingOf(req, id);
    if (standing != KeyStanding::Holder && registry_.isRegistered(id)) {
        return listingRefusal(403, standing == KeyStanding::Open
                                       ? "camera " + id + " is bound to no station key"
                                       : keyRefusal(standing, id));
    }
    switch (listing_.refresh(id, token).outcome) {
    case ListingStore::Outcome::Refreshed:
        keys_.noteStation(req, id, standing);
        return textAnswer(200, "Listing: true");
    case ListingStore::Outcome::NotListed:
        return listingRefusal(404, "not listed");
    default:
        return listingRefusal(403, "held by another station");
    }
}

HttpAnswer HelperRoutes::listingRemove(const HttpRequest& req) {
    std::string id;
    std::string token;
    if (auto refused = readListingForm(req, id, token)) {
        return std::move(*refused);
    }
    const KeyStanding standing = keys_.standingOf(req, id);
    if (const std::string why = keyRefusal(standing, id);
        !why.empty() && registry_.isRegistered(id)) {
        return listingRefusal(403, why);
    }
    if (listing_.remove(id, token).outcome == ListingStore::Outcome::Removed) {
        return textAnswer(200, "Listing: true");
    }
    return listingRefusal(403, "held by another station");
}

HttpAnswer HelperRoutes::listingCheck(const HttpRequest& req) {
    const std::string id = req.param("id");
    if (!isValidCameraId(id)) {
        return textAnswer(400, "Listed: false - not a valid camera id");
    }
    return textAnswer(200, listing_.isListed(id) ? "Listed: true" : "Listed: false");
}

} // namespace reflector
