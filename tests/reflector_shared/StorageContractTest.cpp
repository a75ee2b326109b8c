// What the routes rely on from a storage, asked of both implementations: the embedded one (one
// relay, its data folder) and the shared one (two relays on one PostgreSQL and one Redis, so
// that what one relay stores or tells reaches the other).

#include "core/PasswordHash.h"
#include "core/StationKey.h"
#include "reflector_shared/TestServers.h"
#include "stores/embedded/EmbeddedStorage.h"
#include "stores/shared/SharedStorage.h"

#include <atomic>
#include <filesystem>
#include <future>
#include <gtest/gtest.h>
#include <random>

namespace reflector {
namespace {

using namespace std::chrono_literals;
using test::eventually;

class ManualClock {
  public:
    TimeSource source() {
        return [this] { return WallClock::time_point(std::chrono::milliseconds(millis_.load())); };
    }
    void advance(std::chrono::milliseconds by) { millis_ += by.count(); }

  private:
    std::atomic<long long> millis_{1796601600000}; // 2026-12-07T00:00:00Z
};

RelayConfig contractConfig(ManualClock& clock) {
    RelayConfig config;
    config.clock = clock.source();
    config.archiveMaxFrames = 3;
    config.archiveMaxDays = 2;
    config.maxCameras = 3;
    config.commandBurst = 3;
    config.commandsPerSecond = 2;
    config.freeLoginTries = 2;
    return config;
}

std::string jpeg(int n) {
    return "\xFF\xD8\xFF\xE0 frame " + std::to_string(n) + std::string(200, 'x') + "\xFF\xD9";
}

// One relay on its own data folder: both views are the same storage.
class Embedded {
  public:
    Embedded() {
        std::mt19937_64 random{std::random_device{}()};
        dir_ = std::filesystem::temp_directory_path() /
               ("kestrova-contract-" + std::to_string(random()));
        RelayConfig config = contractConfig(clock);
        config.dataDir = dir_;
        storage_ = std::make_unique<EmbeddedStorage>(config);
    }
    ~Embedded() {
        storage_.reset();
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }
    Storage& a() { return *storage_; }
    Storage& b() { return *storage_; }
    ManualClock clock;

  private:
    std::filesystem::path dir_;
    std::unique_ptr<Storage> storage_;
};

// Two relays on the same servers.
class Shared {
  public:
    Shared() {
        RelayConfig config = contractConfig(clock);
        config.database = postgres_.url();
        config.redis = redis_.url();
        SharedStorageOptions options;
        options.writeEvery = 50ms;
        a_ = std::make_unique<SharedStorage>(config, options);
        b_ = std::make_unique<SharedStorage>(config, options);
        EXPECT_TRUE(a_->waitUntilSubscribed(5s) && b_->waitUntilSubscribed(5s));
    }
    Storage& a() { return *a_; }
    Storage& b() { return *b_; }
    ManualClock clock;

  private:
    test::PostgresServer postgres_;
    test::RedisServer redis_;
    std::unique_ptr<SharedStorage> a_;
    std::unique_ptr<SharedStorage> b_;
};

template <typename Stores> class StorageContract : public ::testing::Test {
  protected:
    Stores stores;
    Storage& a() { return stores.a(); }
    Storage& b() { return stores.b(); }
    void advance(std::chrono::milliseconds by) { stores.clock.advance(by); }
};

class Names {
  public:
    template <typename T> static std::string GetName(int) {
        return std::is_same_v<T, Embedded> ? "Embedded" : "Shared";
    }
};
using Kinds = ::testing::Types<Embedded, Shared>;
TYPED_TEST_SUITE(StorageContract, Kinds, Names);

TYPED_TEST(StorageContract, RegistrationBindsKeysAndEveryRelayKnowsAtOnce) {
    Registry& a = this->a().registry();
    Registry& b = this->b().registry();
    const std::string key = stationKeyHash("key-of-the-station-0123456789abcdef");
    const std::string other = stationKeyHash("key-of-another-one-0123456789abcdef");
    const struct {
        const char* id;
        std::string key;
        bool ptz;
        Enrolment expected;
    } cases[] = {
        {"cam", "", false, Enrolment::Added},     {"cam", key, true, Enrolment::Claimed},
        {"cam", key, false, Enrolment::Updated},  {"cam", other, false, Enrolment::Wrong},
        {"cam2", other, false, Enrolment::Added}, {"cam3", "", false, Enrolment::Added},
        {"cam4", key, false, Enrolment::Full},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(a.enrol(c.id, c.ptz, c.key, 1000, 3), c.expected) << c.id;
    }
    // Notices arrive in order: once the last registration is known, the others are.
    ASSERT_TRUE(eventually([&] { return b.isRegistered("cam3"); }));
    EXPECT_EQ(b.keyHash("cam"), key);
    EXPECT_TRUE(b.isRegistered("cam2"));
    EXPECT_FALSE(b.isRegistered("cam4"));
    EXPECT_FALSE(b.isRegistered("CAM")) << "identifiers are case-sensitive";
    EXPECT_EQ(b.count(), 3u);
    EXPECT_EQ(b.enrol("cam", true, other, 2000, 3), Enrolment::Wrong) << "on either relay";

    const auto found = b.find("cam");
    ASSERT_TRUE(found);
    EXPECT_FALSE(found->ptz) << "the last registration's motor flag";
    EXPECT_EQ(found->lastFrameAt, "");
    a.noteFrame("cam");
    EXPECT_EQ(b.find("cam")->lastFrameAt.size(), found->registeredAt.size());
    const auto all = b.list();
    ASSERT_EQ(all.size(), 3u);
    EXPECT_EQ(all[0].id, "cam");
    EXPECT_EQ(all[2].id, "cam3");

    EXPECT_TRUE(b.release("cam"));
    EXPECT_FALSE(b.release("nobody"));
    ASSERT_TRUE(eventually([&] { return a.keyHash("cam") == std::string(); }));
    EXPECT_EQ(a.enrol("cam", false, other, 3000, 3), Enrolment::Claimed);
    this->a().forgetCamera("cam2");
    ASSERT_TRUE(eventually([&] { return !b.isRegistered("cam2"); }));
}

TYPED_TEST(StorageContract, SilentCamerasAreTheOnesNoRelayHeardFrom) {
    Registry& a = this->a().registry();
    Registry& b = this->b().registry();
    a.enrol("quiet", false, "", 1000, 10);
    a.enrol("heard", false, "", 1000, 10);
    ASSERT_TRUE(eventually([&] { return b.isRegistered("heard"); }));
    b.heard("heard", 5000);
    b.saveHeard();
    EXPECT_EQ(a.silentSince(4000), std::vector<std::string>{"quiet"});
    EXPECT_TRUE(this->a().upkeepTurn());
}

TYPED_TEST(StorageContract, AFrameStoredOnOneRelayWakesTheViewersOfEvery) {
    FrameStore& a = this->a().frames();
    FrameStore& b = this->b().frames();
    EXPECT_EQ(b.frame("cam"), nullptr);
    std::atomic<int> woken{0};
    const Subscription subscription = b.subscribe("cam", [&] { ++woken; });
    a.put("cam", jpeg(1));
    ASSERT_TRUE(eventually([&] { return woken == 1; }));
    ASSERT_TRUE(b.inMemory("cam")) << "in memory before the viewers are woken";
    const auto seen = b.frame("cam");
    ASSERT_TRUE(seen);
    EXPECT_EQ(seen->jpeg, jpeg(1));
    EXPECT_EQ(seen->etag, a.frame("cam")->etag) << "the same tag on every relay";
    EXPECT_EQ(b.latest("cam").get(), &b.frame("cam")->jpeg) << "handed out, not copied";

    a.put("cam", jpeg(2));
    ASSERT_TRUE(eventually([&] { return woken == 2; }));
    EXPECT_NE(b.frame("cam")->etag, seen->etag);
    EXPECT_THROW(a.put("../cam", jpeg(3)), std::invalid_argument);
    a.remove("cam");
    EXPECT_EQ(a.frame("cam"), nullptr);
}

TYPED_TEST(StorageContract, OptionsAndPasswordHashesReachEveryRelay) {
    CameraOptions options;
    options.camera = "cam";
    options.secure = true;
    options.chat = true;
    options.chatRoom = "Kestrova Chat";
    options.chatNumber = 7;
    const std::string hash = hashPassword("secret");
    this->a().options().store(options, hash, 1796601600000);
    OptionStore& b = this->b().options();
    ASSERT_TRUE(eventually([&] { return b.find("cam").has_value(); }));
    EXPECT_TRUE(b.inMemory());
    const CameraOptions found = *b.find("cam");
    EXPECT_TRUE(found.secure && found.chat && !found.zoom && !found.archive);
    EXPECT_EQ(found.chatRoom, "Kestrova Chat");
    EXPECT_EQ(found.chatNumber, 7);
    EXPECT_EQ(found.syncedAt, "2026-12-07T00:00:00Z");
    EXPECT_EQ(b.passwordHash("cam"), hash);
    EXPECT_TRUE(b.verifyViewerPassword("cam", "secret"));
    EXPECT_FALSE(b.verifyViewerPassword("cam", "guess"));
    EXPECT_FALSE(b.verifyViewerPassword("other", "secret"));
    this->a().options().forget("cam");
    ASSERT_TRUE(eventually([&] { return !b.find("cam"); }));
    EXPECT_EQ(b.passwordHash("cam"), "");
}

TYPED_TEST(StorageContract, TheArchiveKeepsTheNewestFramesOfTheDaysKept) {
    ArchiveStore& a = this->a().archive();
    ArchiveStore& b = this->b().archive();
    std::vector<ArchivedFrame> added;
    for (int i = 1; i <= 4; ++i) {
        added.push_back(a.add("cam", jpeg(i)));
        this->advance(1s);
    }
    const auto days = b.days("cam");
    ASSERT_EQ(days.size(), 1u);
    EXPECT_EQ(days[0].day, "2026-12-07");
    EXPECT_EQ(days[0].frames, 3u) << "the oldest of 4 went";
    const auto frames = b.frames("cam", "2026-12-07");
    ASSERT_EQ(frames.size(), 3u);
    EXPECT_EQ(frames[0].id, added[1].id);
    EXPECT_EQ(frames[0].takenAt, "2026-12-07T00:00:01Z");
    EXPECT_EQ(frames[0].bytes, jpeg(2).size());
    EXPECT_EQ(b.frame("cam", added[3].id), jpeg(4));
    EXPECT_EQ(b.frame("cam", added[0].id), std::nullopt);
    EXPECT_EQ(b.frame("other", added[3].id), std::nullopt) << "by camera";
    EXPECT_TRUE(b.days("other").empty());

    this->advance(49h);
    EXPECT_TRUE(b.days("cam").empty()) << "older than the days kept";
    EXPECT_EQ(a.removeOld(), 3u);
    a.add("cam", jpeg(5));
    a.forget("cam");
    EXPECT_TRUE(b.days("cam").empty());
}

TYPED_TEST(StorageContract, ListingEntriesAreHeldByTheirTokenUntilTheyExpire) {
    ListingStore& a = this->a().listing();
    ListingStore& b = this->b().listing();
    using O = ListingStore::Outcome;
    ListingEntry entry;
    entry.camera = "cam";
    entry.name = "Garden \xE2\x98\x80";
    entry.email = "ana@example.org";
    entry.relay = "relay.example.org:8080";
    entry.folder = "webcams";
    entry.listed = true;
    const auto created = a.post(entry, "");
    ASSERT_EQ(created.outcome, O::Created);
    EXPECT_EQ(created.token.size(), 32u);
    EXPECT_EQ(b.post(entry, "").outcome, O::HeldByOther);
    EXPECT_EQ(b.post(entry, created.token).outcome, O::Replaced);
    EXPECT_EQ(b.refresh("cam", std::string(32, '0')).outcome, O::HeldByOther);
    EXPECT_EQ(b.refresh("cam", created.token).outcome, O::Refreshed);
    EXPECT_TRUE(b.isListed("cam"));
    const auto current = b.current();
    ASSERT_EQ(current.size(), 1u);
    EXPECT_EQ(current[0].name, entry.name);
    EXPECT_EQ(current[0].email, "") << "never handed out";

    for (const char* camera : {"two", "three"}) {
        entry.camera = camera;
        EXPECT_EQ(a.post(entry, "").outcome, O::Created);
    }
    entry.camera = "four";
    EXPECT_EQ(a.post(entry, "").outcome, O::Full) << "as many entries as cameras";
    this->advance(121s);
    EXPECT_FALSE(b.isListed("cam"));
    EXPECT_EQ(b.refresh("cam", created.token).outcome, O::NotListed);
    EXPECT_EQ(a.post(entry, "").outcome, O::Created) << "expired entries make room";
    EXPECT_EQ(b.remove("four", std::string(32, '0')).outcome, O::HeldByOther);
    a.forget("four");
    EXPECT_TRUE(b.current().empty());
}

TYPED_TEST(StorageContract, PagesKeepPresetsSkinsProfilesAndTheStationsAddress) {
    PageStore& a = this->a().pages();
    PageStore& b = this->b().pages();
    EXPECT_EQ(b.skin("cam"), skinNames().front());
    EXPECT_EQ(b.profile("cam"), std::nullopt);
    for (std::size_t i = 0; i < kMaxPresets; ++i) {
        EXPECT_TRUE(a.savePreset("cam", {"p" + std::to_string(i), "Preset_1:2:3"}));
    }
    EXPECT_FALSE(a.savePreset("cam", {"one more", "Preset_1:2:3"}));
    EXPECT_TRUE(a.savePreset("cam", {"p0", "Preset_4:5:6"})) << "a known name is replaced";
    EXPECT_TRUE(b.deletePreset("cam", "p1"));
    EXPECT_FALSE(b.deletePreset("cam", "p1"));
    const auto presets = b.presets("cam");
    ASSERT_EQ(presets.size(), kMaxPresets - 1);
    EXPECT_EQ(presets[0].command, "Preset_4:5:6");
    EXPECT_EQ(presets[1].name, "p2");

    a.setSkin("cam", "night");
    a.setProfile("cam", {"Garden", "It's \"quoted\";\nDROP TABLE cameras"});
    EXPECT_EQ(b.skin("cam"), "night");
    EXPECT_EQ(b.profile("cam")->description, "It's \"quoted\";\nDROP TABLE cameras");
    a.noteStation("cam", "192.0.2.7");
    EXPECT_EQ(b.stationAddress("cam"), "192.0.2.7");
    b.forget("cam");
    EXPECT_TRUE(a.presets("cam").empty());
    EXPECT_EQ(a.stationAddress("cam"), "");
}

TYPED_TEST(StorageContract, ChatRoomsKeepTheirNewestMessagesForADay) {
    ChatStore& a = this->a().chat();
    ChatStore& b = this->b().chat();
    const ChatMessage first = a.post("room:1", "ana", "hello");
    const ChatMessage second = b.post("room:1", "bo", "hi");
    b.post("room:2", "cy", "elsewhere");
    EXPECT_GT(second.id, first.id);
    auto messages = a.messages("room:1", 0, 100);
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[0].text, "hello");
    EXPECT_EQ(messages[1].name, "bo");
    EXPECT_EQ(messages[0].at, "2026-12-07T00:00:00Z");
    EXPECT_EQ(a.messages("room:1", first.id, 100).size(), 1u);
    for (std::size_t i = 0; i < kMaxRoomMessages; ++i) {
        a.post("room:1", "ana", std::to_string(i));
    }
    messages = b.messages("room:1", 0, 1000);
    EXPECT_EQ(messages.size(), kMaxRoomMessages);
    EXPECT_EQ(messages.front().text, "0");
    EXPECT_EQ(b.messages("room:1", 0, 5).back().text, std::to_string(kMaxRoomMessages - 1));
    this->advance(25h);
    EXPECT_TRUE(b.messages("room:2", 0, 100).empty());
}

TYPED_TEST(StorageContract, CommandsPostedOnOneRelayReachThePollOfAnother) {
    MoveQueue& a = this->a().moves();
    MoveQueue& b = this->b().moves();
    std::atomic<int> woken{0};
    const Subscription subscription = b.subscribe("cam", [&] { ++woken; });
    a.push("cam", "pan_left");
    ASSERT_TRUE(eventually([&] { return woken >= 1; }));
    std::promise<std::vector<std::string>> taken;
    b.takeAsync("cam", [&](std::vector<std::string> c) { taken.set_value(std::move(c)); });
    auto future = taken.get_future();
    ASSERT_EQ(future.wait_for(5s), std::future_status::ready);
    EXPECT_EQ(future.get(), std::vector<std::string>{"pan_left"});
    EXPECT_TRUE(b.take("cam").empty()) << "handed out once";

    a.push("cam", "tilt_up");
    this->advance(4s);
    a.push("cam", "tilt_down");
    this->advance(1s);
    EXPECT_EQ(b.take("cam"), std::vector<std::string>{"tilt_down"}) << "tilt_up was 5 s old";

    std::vector<std::string> expected;
    for (int i = 1; i <= 35; ++i) {
        a.push("cam", "Preset_" + std::to_string(i) + ":0:0");
        if (i > 3) {
            expected.push_back("Preset_" + std::to_string(i) + ":0:0");
        }
    }
    EXPECT_EQ(b.take("cam"), expected) << "the newest 32";
    a.push("cam", "ZOOM_IN");
    b.giveBack("cam", {"pan_left", "pan_right"});
    EXPECT_EQ(a.take("cam"), (std::vector<std::string>{"pan_left", "pan_right", "ZOOM_IN"}));
}

TYPED_TEST(StorageContract, AVisitOnOneRelayIsSeenOnEveryForTheWindow) {
    VisitorTracker& a = this->a().visitors();
    VisitorTracker& b = this->b().visitors();
    std::atomic<int> woken{0};
    const Subscription subscription = b.subscribe("cam", [&] { ++woken; });
    EXPECT_FALSE(b.hasVisitors("cam"));
    a.noteVisit("cam");
    ASSERT_TRUE(eventually([&] { return woken >= 1; })) << "the first visit wakes every relay";
    WallClock::duration endsIn{};
    EXPECT_TRUE(b.status("cam", &endsIn));
    EXPECT_EQ(endsIn, 30s);
    std::promise<bool> asked;
    b.statusAsync("cam", [&](bool visited, WallClock::duration) { asked.set_value(visited); });
    EXPECT_TRUE(asked.get_future().get());

    this->advance(29s);
    EXPECT_TRUE(b.hasVisitors("cam"));
    this->advance(1s);
    EXPECT_FALSE(b.hasVisitors("cam")) << "30 s after the visit";

    a.startWatching("cam");
    ASSERT_TRUE(eventually([&] { return woken >= 2; }));
    this->advance(60s);
    ASSERT_TRUE(eventually([&] { return b.hasVisitors("cam"); })) << "while a stream is open";
    a.stopWatching("cam");
    this->advance(20s);
    EXPECT_TRUE(b.hasVisitors("cam")) << "and the window after it closed";
}

TYPED_TEST(StorageContract, ASessionOpenedOnOneRelayOpensTheCameraOnEvery) {
    ViewerSessions& a = this->a().sessions();
    ViewerSessions& b = this->b().sessions();
    EXPECT_TRUE(b.inMemory());
    const std::string token = a.open("cam", "hash-1");
    ASSERT_EQ(token.size(), 64u);
    EXPECT_NE(a.open("cam", "hash-1"), token) << "every session its own token";
    ASSERT_TRUE(eventually([&] { return b.valid(token, "cam", "hash-1"); }));
    EXPECT_FALSE(b.valid(token, "other", "hash-1"));
    EXPECT_FALSE(b.valid(token, "cam", "hash-2")) << "the password changed";
    const char other = token.back() == '0' ? '1' : '0';
    EXPECT_FALSE(b.valid(token.substr(0, 63) + other, "cam", "hash-1"));
    EXPECT_FALSE(b.valid("", "cam", "hash-1"));
    this->advance(25h);
    EXPECT_FALSE(b.valid(token, "cam", "hash-1"));
}

TYPED_TEST(StorageContract, RatesAreCountedOverEveryRelay) {
    RateLimiter& a = this->a().commandRate();
    RateLimiter& b = this->b().commandRate();
    EXPECT_TRUE(a.allow("192.0.2.1"));
    EXPECT_TRUE(b.allow("192.0.2.1"));
    EXPECT_TRUE(a.allow("192.0.2.1"));
    EXPECT_FALSE(b.allow("192.0.2.1")) << "a burst of 3 over both relays";
    EXPECT_TRUE(b.allow("192.0.2.2")) << "each address has its own bucket";
    this->advance(510ms);
    EXPECT_TRUE(a.allow("192.0.2.1")) << "half a second gives one more";
    EXPECT_FALSE(b.allow("192.0.2.1"));
    this->advance(10s);
    for (int i = 0; i < 3; ++i) {
        EXPECT_TRUE(b.allow("192.0.2.1")) << "never more than the burst saved up";
    }
    EXPECT_FALSE(a.allow("192.0.2.1"));
}

TYPED_TEST(StorageContract, WrongPasswordsOnAnyRelayDoubleTheWait) {
    LoginThrottle& a = this->a().loginsByAddress();
    LoginThrottle& b = this->b().loginsByAddress();
    a.failed("x");
    b.failed("x");
    EXPECT_EQ(a.waitFor("x"), 1s) << "two free tries over both relays";
    EXPECT_FALSE(b.waitFor("y")) << "per key";
    this->advance(1s);
    EXPECT_FALSE(b.waitFor("x"));
    b.failed("x");
    EXPECT_EQ(a.waitFor("x"), 2s);
    for (int i = 0; i < 20; ++i) {
        a.failed("x");
    }
    EXPECT_EQ(b.waitFor("x"), 300s) << "the wait stops growing";
    b.succeeded("x");
    EXPECT_FALSE(a.waitFor("x"));
    a.failed("y");
    a.failed("y");
    ASSERT_TRUE(b.waitFor("y"));
    this->advance(2h);
    a.failed("y");
    EXPECT_FALSE(b.waitFor("y")) << "failures an hour old are forgotten";
}

TYPED_TEST(StorageContract, ForgettingACameraForgetsItEverywhere) {
    Storage& a = this->a();
    a.registry().enrol("cam", false, "", 1000, 10);
    a.frames().put("cam", jpeg(1));
    a.archive().add("cam", jpeg(1));
    a.pages().setSkin("cam", "night");
    CameraOptions options;
    options.camera = "cam";
    a.options().store(options, "", 1000);
    this->b().forgetCamera("cam");
    ASSERT_TRUE(eventually([&] { return !a.registry().isRegistered("cam"); }));
    EXPECT_TRUE(a.archive().days("cam").empty());
    EXPECT_EQ(a.pages().skin("cam"), skinNames().front());
    ASSERT_TRUE(eventually([&] { return !a.options().find("cam"); }));
    EXPECT_EQ(this->b().frames().frame("cam"), nullptr);
    EXPECT_TRUE(a.health().ok) << a.health().reason;
}

// The shared storage's health: bounded, and false while either server is gone.
TEST(SharedHealth, SaysWhichServerDoesNotAnswerWithinItsBound) {
    test::PostgresServer postgres;
    test::RedisServer redis;
    ManualClock clock;
    RelayConfig config = contractConfig(clock);
    config.database = postgres.url();
    config.redis = redis.url();
    SharedStorage storage(config);
    ASSERT_TRUE(storage.waitUntilSubscribed(5s));
    EXPECT_TRUE(storage.health().ok) << storage.health().reason;
    struct Case {
        test::ServerProcess* server;
        const char* reason;
    };
    for (const Case& c : {Case{&redis, "Redis"}, Case{&postgres, "PostgreSQL"}}) {
        c.server->stop();
        Health health;
        EXPECT_LT(test::timed([&] { health = storage.health(); }), 1000ms);
        EXPECT_FALSE(health.ok);
        EXPECT_NE(health.reason.find(c.reason), std::string::npos) << health.reason;
        EXPECT_EQ(health.reason.find(c.server->password()), std::string::npos);
        c.server->start();
        ASSERT_TRUE(eventually([&] { return storage.health().ok; }, 15s));
    }
}

} // namespace
} // namespace reflector
