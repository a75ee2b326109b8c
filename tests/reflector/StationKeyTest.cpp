// Only a camera's own station controls it: the station key, registration and guessing limits,
// and a relay that keeps serving from a data folder it cannot write.

#include "RelaySupport.h"
#include "core/PasswordHash.h"
#include "core/PasswordPool.h"
#include "core/StationKey.h"

#include <future>
#include <gtest/gtest.h>
#include <mutex>
#include <vector>

namespace reflector {
namespace {

using namespace test;
using namespace std::chrono_literals;

constexpr const char* kOtherKey = "0ther-station-key_0123456789abcdefghijklmno";

// The request as a client with `key` sends it (nullopt: without a key).
HttpRequest keyed(HttpRequest request, const std::optional<std::string>& key) {
    auto& h = request.headers;
    h.erase(std::remove_if(h.begin(), h.end(),
                           [](const auto& f) { return f.first == "Authorization"; }),
            h.end());
    if (key) {
        h.emplace_back("Authorization", "Bearer " + *key);
    }
    return request;
}

const std::string kSync = "id=cam&path=webcams&zoom=true&snapshot=true&chat=false&secure=false"
                          "&password=pw&ptz=true&presets=true&archive=false&chatID=r:1";

TEST(StationKey, OnlyTheKeyHolderUsesTheStationsAddresses) {
    Handlers relay;
    const std::string frame = fakeJpeg(300, 1);
    const struct {
        const char* what;
        HttpRequest request;
        int allowed;         // status for the key holder
        std::string refused; // how an outsider's refusal begins
    } routes[] = {
        {"registration", getRequest("/webcams/Register?id=cam&path=webcams&ptz=true"), 200,
         "Registration refused: "},
        {"live frame", framePost("/webcams/Reflector", "cam", frame), 200, "Reflector: false - "},
        {"archive frame", framePost("/webcams/Archive", "cam", frame), 200, "Archive: false - "},
        {"option sync", formPost("/webcams/SyncWebcams", kSync), 200,
         "Failed to synchronise settings. "},
        {"move queue", getRequest("/webcams/MoveRouterProxy?id=cam"), 200, ""},
        {"visitor status", getRequest("/webcams/CheckVisitorStatus?id=cam"), 200, ""},
        {"listing post",
         formPost("/live/post", "id=cam&name=n&email=%20&relay=relay.example.org:8080"
                                "&folder=webcams&type=1&ptz=1&password=0&listed=1&hidethumb=0"
                                "&archive=0"),
         200, "Listing: false - "},
    };
    const struct {
        const char* who;
        std::optional<std::string> key;
        const char* why;
    } outsiders[] = {
        {"no key", std::nullopt, "station key is required for camera cam"},
        {"not a key", std::string("abc"), "station key is not valid"},
        {"another key", std::string(kOtherKey),
         "station key does not match the key camera cam is registered with"},
    };
    relay.storage->moves().push("cam", "pan_left");
    for (const auto& route : routes) {
        for (const auto& outsider : outsiders) {
            const HttpAnswer answer = relay(keyed(route.request, outsider.key));
            EXPECT_EQ(answer.status, 403) << route.what << ", " << outsider.who;
            EXPECT_EQ(answer.body.rfind(route.refused, 0), 0u) << answer.body;
            EXPECT_NE(answer.body.find(outsider.why), std::string::npos) << answer.body;
        }
        EXPECT_EQ(relay(route.request).status, route.allowed) << route.what << ", the holder";
    }
    // Nothing of the outsiders' reached the camera: the frame, options and command are the
    // holder's.
    EXPECT_EQ(*relay.storage->frames().latest("cam"), frame);
    EXPECT_TRUE(relay.storage->options().find("cam")->zoom);

    // A browser's cross-site request never syncs, whatever it carries.
    for (const Fields& site : {Fields{{"Origin", "http://evil.example"}, {"Host", "relay:8080"}},
                               Fields{{"Sec-Fetch-Site", "cross-site"}}}) {
        HttpRequest forged = formPost("/webcams/SyncWebcams", kSync);
        forged.headers.insert(forged.headers.end(), site.begin(), site.end());
        const HttpAnswer answer = relay(forged);
        EXPECT_EQ(answer.status, 403);
        EXPECT_EQ(answer.body, "Failed to synchronise settings. Refused: sent from a page of "
                               "another site.");
    }
    // The folder check sends a station whose key is not the camera's on to register.
    EXPECT_EQ(relay(getRequest("/webcams/CheckFolderExists?id=cam&path=webcams")).body,
              "Exists: true");
    EXPECT_EQ(relay(keyed(getRequest("/webcams/CheckFolderExists?id=cam&path=webcams"),
                          std::string(kOtherKey)))
                  .body,
              "Exists: false");
}

TEST(StationKey, AKeylessCameraIsClaimedByTheFirstKeyAndReleasedOnlyByTheAdministrator) {
    const auto registration = [](const std::optional<std::string>& key) {
        return keyed(getRequest("/webcams/Register?id=open&path=webcams&ptz=false", "192.0.2.9"),
                     key);
    };
    Handlers strict;
    EXPECT_EQ(strict(registration(std::nullopt)).body,
              "Registration refused: a station key is required for camera open.");

    Handlers relay([](RelayConfig& c) {
        c.allowKeyless = true;
        c.adminPasswordHash = hashPassword("relay-admin");
    });
    const auto frameFrom = [&relay](const std::optional<std::string>& key) {
        return relay(keyed(framePost("/webcams/Reflector", "open", fakeJpeg(200, 2)), key)).status;
    };
    EXPECT_EQ(relay(registration(std::nullopt)).status, 200);
    EXPECT_EQ(frameFrom(std::nullopt), 200) << "bound to no key, it takes any client";
    EXPECT_EQ(relay(registration(std::string(kStationKey))).status, 200) << "claimed";
    EXPECT_EQ(frameFrom(std::nullopt), 403);
    EXPECT_EQ(frameFrom(std::string(kOtherKey)), 403);
    EXPECT_EQ(relay(registration(std::string(kOtherKey))).status, 403);
    EXPECT_EQ(frameFrom(std::string(kStationKey)), 200);

    // Releasing takes the administrator's password, even from the station's own address.
    const auto release = [&relay](const std::string& password) {
        return relay(keyed(formPost("/webcams/admin/index.jsp",
                                    "id=open&action=release-key&adminpw=" + password, "192.0.2.9"),
                           std::nullopt))
            .status;
    };
    EXPECT_EQ(release(""), 403);
    EXPECT_EQ(release("wrong"), 403);
    EXPECT_EQ(frameFrom(std::string(kStationKey)), 200) << "still bound";
    EXPECT_EQ(release("relay-admin"), 303);
    EXPECT_EQ(relay(registration(std::string(kOtherKey))).status, 200) << "the next key claims it";
    EXPECT_EQ(frameFrom(std::string(kStationKey)), 403);
}

TEST(StationKey, NewCamerasAreLimitedPerAddressAndSilentOnesExpireWithTheirData) {
    Handlers relay([](RelayConfig& c) {
        c.registrationsPerHour = 2;
        c.cameraExpiryDays = 90;
    });
    const auto enrol = [&relay](const std::string& id, const char* from) {
        return relay(getRequest("/webcams/Register?id=" + id + "&path=webcams&ptz=false", from));
    };
    EXPECT_EQ(enrol("a1", "192.0.2.1").status, 200);
    EXPECT_EQ(enrol("a2", "192.0.2.1").status, 200);
    const HttpAnswer third = enrol("a3", "192.0.2.1");
    EXPECT_EQ(third.status, 429);
    EXPECT_EQ(third.body, "Registration refused: too many new cameras from your address; try "
                          "again in an hour.");
    EXPECT_EQ(enrol("a1", "192.0.2.1").status, 200) << "a known camera is not new";
    EXPECT_EQ(enrol("b1", "192.0.2.2").status, 200) << "another address";
    relay.clock.advance(30min);
    EXPECT_EQ(enrol("a3", "192.0.2.1").status, 200) << "half an hour later";

    // "cam" keeps being heard from; "a1" goes silent with a frame, options, a listing and a
    // preset, all of which go with it.
    ASSERT_EQ(relay(framePost("/webcams/Reflector", "a1", fakeJpeg(100, 3))).status, 200);
    ASSERT_EQ(
        relay(formPost("/webcams/SyncWebcams", "id=a1" + kSync.substr(kSync.find('&')))).status,
        200);
    relay.storage->pages().savePreset("a1", Preset{"door", "Preset_1:2:3"});
    for (int day = 0; day < 91; ++day) {
        relay.clock.advance(24h);
        relay(getRequest("/webcams/MoveRouterProxy?id=cam"));
    }
    relay.service->upkeep();
    EXPECT_TRUE(relay.storage->registry().isRegistered("cam"));
    EXPECT_FALSE(relay.storage->registry().isRegistered("a1"));
    EXPECT_FALSE(relay.storage->frames().latest("a1"));
    EXPECT_FALSE(relay.storage->options().find("a1"));
    EXPECT_TRUE(relay.storage->pages().presets("a1").empty());
    EXPECT_EQ(relay(getRequest("/webcams/live?id=a1")).status, 404);
}

TEST(StationKey, GuessesAreLimitedPerCameraAndHashedOffTheServingThreads) {
    Handlers relay([](RelayConfig& c) { c.freeLoginTriesPerCamera = 3; });
    ASSERT_EQ(relay(formPost("/webcams/SyncWebcams",
                             "id=cam&path=webcams&zoom=true&snapshot=true&chat=false&secure=true"
                             "&password=right&ptz=true&presets=true&archive=false&chatID=r:1"))
                  .status,
              200);
    const auto login = [&relay](const std::string& password, const std::string& from) {
        return relay(formPost("/webcams/login", "id=cam&password=" + password, from));
    };
    // Each guess from an address of its own: the camera's count stops them all the same.
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(login("guess", "203.0.113." + std::to_string(i)).status, 401);
    }
    const HttpAnswer stopped = login("right", "203.0.113.99");
    EXPECT_EQ(stopped.status, 429);
    EXPECT_NE(stopped.body.find("Too many wrong passwords for this camera"), std::string::npos);
    relay.clock.advance(2s);
    EXPECT_EQ(login("right", "203.0.113.99").status, 303);

    // A new password is hashed on the pool; the same password synchronised again is not.
    const HttpAnswer sync = relay.service->handle(formPost(
        "/webcams/SyncWebcams", "id=cam&path=webcams&zoom=true&snapshot=true&chat=false"
                                "&secure=true&password=new&ptz=true&presets=true&archive=false"
                                "&chatID=r:1"));
    EXPECT_TRUE(sync.pending);
    EXPECT_EQ(settle(sync).status, 200);
    // The same password synchronised again needs no hash: it is answered at once.
    const HttpAnswer again = relay.service->handle(formPost(
        "/webcams/SyncWebcams", "id=cam&path=webcams&zoom=false&snapshot=true&chat=false"
                                "&secure=true&password=new&ptz=true&presets=true&archive=false"
                                "&chatID=r:1"));
    EXPECT_FALSE(again.pending);
    EXPECT_EQ(again.status, 200);
}

TEST(PasswordPool, TakesWhatItsThreadsAndQueueHoldAndTurnsTheRestAwayExceptTheStation) {
    PasswordPool pool(1, 1);
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    std::mutex orderMutex;
    std::string order;
    const auto job = [&](char name) {
        return [&, name] {
            released.wait();
            std::lock_guard lock(orderMutex);
            order += name;
            return textAnswer(200, std::string(1, name));
        };
    };
    const HttpAnswer busy = hashingBusy(textAnswer(503, "busy"));
    std::promise<void> running;
    std::vector<HttpAnswer> answers;
    answers.push_back(pool.answer(
        [&] {
            running.set_value();
            return job('a')();
        },
        busy, 10s));
    running.get_future().wait(); // "a" holds the thread
    answers.push_back(pool.answer(job('b'), busy, 10s));
    const HttpAnswer turnedAway = pool.answer(job('c'), busy, 10s);
    answers.push_back(pool.answer(job('s'), busy, 10s, true));
    EXPECT_FALSE(turnedAway.pending);
    EXPECT_EQ(turnedAway.status, 503);
    EXPECT_EQ(turnedAway.headers, (Fields{{"Retry-After", "2"}}));
    release.set_value();
    for (HttpAnswer& answer : answers) {
        EXPECT_EQ(settle(std::move(answer)).status, 200);
    }
    EXPECT_EQ(order, "asb") << "the station's job goes ahead of the waiting ones";
}

} // namespace
} // namespace reflector
