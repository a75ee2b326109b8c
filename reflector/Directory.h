#pragma once

// Several relays behind one directory: the directory's list of relays, the stable assignment of
// cameras (and stations) to relays, and the search for the relay that serves a camera.

#include "Http.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace reflector {

// One relay of a directory's list.
struct RelayAddress {
    std::string host; // as stations and the directory reach it
    int port = 0;
    // Where viewers reach it: "http://HOST:PORT" unless the list names another address
    // ("https://relay1.example.org", as behind a proxy with TLS).
    std::string viewerBase;

    std::string name() const { return host + ":" + std::to_string(port); }
};

// Reads a relay list: entries "HOST:PORT" or "HOST:PORT=URL", separated by commas, where URL is
// the relay's address for viewers (http:// or https://, without a path). Ports run from 1 to
// 65535 (stations take only those up to 32767). On error nullopt, and `error` says why.
std::optional<std::vector<RelayAddress>> parseRelayList(std::string_view text, std::string& error);

// Rendezvous (highest random weight) hashing: every relay gets a score for a key, the highest
// wins. A key keeps its relay while the list is unchanged, and a relay added to the list takes
// over only the keys it now wins, about one in as many as there are relays; the others stay.
std::uint64_t rendezvousScore(std::string_view key, std::string_view relayName);
// The relays in the key's order of preference: its relay first. Empty for an empty list.
std::vector<std::size_t> relayPreference(std::string_view key,
                                         const std::vector<RelayAddress>& relays);

// Finds the relay of the list that has a camera registered, by asking all of them at once
// ("/webcams/CheckFolderExists"); when several have it, the first in the camera's order of
// preference. Answers are remembered for a while, and at most a bounded number of searches run
// at once. Safe to use from several threads.
class CameraLocator {
  public:
    CameraLocator(std::vector<RelayAddress> relays, Fetcher fetcher,
                  std::chrono::milliseconds askLimit = std::chrono::seconds(2),
                  std::chrono::milliseconds keepFound = std::chrono::seconds(60),
                  std::chrono::milliseconds keepMissing = std::chrono::seconds(5),
                  std::size_t maxSearches = 64);

    const std::vector<RelayAddress>& relays() const { return relays_; }
    std::chrono::milliseconds askLimit() const { return askLimit_; }

    // What is remembered of the camera: the index of its relay, -1 when none has it, nullopt
    // when the relays must be asked.
    std::optional<int> known(const std::string& camera);
    // Asks the relays; `done` gets the index of the camera's relay or -1, on a thread of the
    // fetcher. False (and `done` is never called) when too many searches run already.
    bool locate(const std::string& camera, std::function<void(int)> done);

  private:
    struct Search {
        std::vector<int> answers; // per relay: 1 has it, 0 not (or no answer), -1 waiting
        std::size_t waiting = 0;
        std::vector<std::function<void(int)>> done;
    };
    struct Remembered {
        int relay;
        SteadyClock::time_point until;
    };
    void answered(const std::string& camera, std::size_t relay, bool hasIt);

    std::vector<RelayAddress> relays_;
    Fetcher fetch_;
    std::chrono::milliseconds askLimit_;
    std::chrono::milliseconds keepFound_;
    std::chrono::milliseconds keepMissing_;
    std::size_t maxSearches_;
    std::mutex mutex_;
    std::map<std::string, Search> searches_;
    std::map<std::string, Remembered> remembered_;
};

// A redirect of a viewer's request to the same address on `relay`.
HttpAnswer redirectTo(const RelayAddress& relay, const std::string& target);

// A viewer's request held while the directory looks for the relay that has the camera: then a
// redirect to it, or `notFound` when none has it.
class RelaySearch : public PendingAnswer {
  public:
    RelaySearch(CameraLocator& locator, std::string camera, std::string target,
                HttpAnswer notFound);
    void start(Wake wake) override;
    std::optional<HttpAnswer> poll(bool last, SteadyClock::time_point& recheck) override;

  private:
    struct Result {
        std::mutex mutex;
        std::optional<int> relay; // -2: too many searches under way
    };
    CameraLocator& locator_;
    std::string camera_;
    std::string target_;
    HttpAnswer notFound_;
    std::shared_ptr<Result> result_ = std::make_shared<Result>();
};

} // namespace reflector
