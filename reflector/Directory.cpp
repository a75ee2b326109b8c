#include "Directory.h"

#include "Options.h"

#include <algorithm>
#include <numeric>

namespace reflector {

namespace {

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && text.front() == ' ') {
        text.remove_prefix(1);
    }
    while (!text.empty() && text.back() == ' ') {
        text.remove_suffix(1);
    }
    return text;
}

// An address for viewers: http:// or https://, a host name, an optional port, no path.
bool isViewerBase(std::string_view url) {
    std::string_view rest;
    if (url.rfind("http://", 0) == 0) {
        rest = url.substr(7);
    } else if (url.rfind("https://", 0) == 0) {
        rest = url.substr(8);
    } else {
        return false;
    }
    return isValidHostName(std::string(rest));
}

} // namespace

std::optional<std::vector<RelayAddress>> parseRelayList(std::string_view text, std::string& error) {
    std::vector<RelayAddress> relays;
    while (!text.empty()) {
        const std::size_t comma = text.find(',');
        const std::string_view entry = trimmed(text.substr(0, comma));
        text = comma == std::string_view::npos ? std::string_view() : text.substr(comma + 1);
        const std::size_t eq = entry.find('=');
        const std::string_view address = entry.substr(0, eq);
        const std::size_t colon = address.rfind(':');
        RelayAddress relay;
        if (colon != std::string_view::npos) {
            relay.host = std::string(address.substr(0, colon));
            const std::string_view port = address.substr(colon + 1);
            if (!port.empty() && port.size() <= 5 &&
                port.find_first_not_of("0123456789") == std::string_view::npos) {
                relay.port = std::stoi(std::string(port));
            }
        }
        if (!isValidHostName(relay.host) || relay.port < 1 || relay.port > 65535) {
            error = "a relay is HOST:PORT with a port from 1 to 65535, not '" + std::string(entry) +
                    "'";
            return std::nullopt;
        }
        if (eq != std::string_view::npos) {
            relay.viewerBase = std::string(entry.substr(eq + 1));
            if (!isViewerBase(relay.viewerBase)) {
                error = "a relay's address for viewers is http://HOST[:PORT] or "
                        "https://HOST[:PORT], not '" +
                        relay.viewerBase + "'";
                return std::nullopt;
            }
        } else {
            relay.viewerBase = "http://" + relay.name();
        }
        for (const RelayAddress& other : relays) {
            if (other.name() == relay.name()) {
                error = "relay " + relay.name() + " is listed twice";
                return std::nullopt;
            }
        }
        relays.push_back(std::move(relay));
    }
    if (relays.empty()) {
        error = "the relay list is empty";
        return std::nullopt;
    }
    return relays;
}

std::uint64_t rendezvousScore(std::string_view key, std::string_view relayName) {
    // FNV-1a over key, a separator and the relay's name, then a mixing step (splitmix64's
    // finaliser) so that similar names get unrelated scores. Fixed here, so that every
    // directory with the same list assigns the same relays.
    std::uint64_t h = 0xcbf29ce484222325ULL;
    const auto add = [&h](std::string_view text) {
        for (unsigned char c : text) {
            h ^= c;
            h *= 0x100000001b3ULL;
        }
    };
    add(key);
    add(std::string_view("\n", 1));
    add(relayName);
    h ^= h >> 30;
    h *= 0xbf58476d1ce4e5b9ULL;
    h ^= h >> 27;
    h *= 0x94d049bb133111ebULL;
    h ^= h >> 31;
    return h;
}

std::vector<std::size_t> relayPreference(std::string_view key,
                                         const std::vector<RelayAddress>& relays) {
    std::vector<std::pair<std::uint64_t, std::size_t>> scored;
    scored.reserve(relays.size());
    for (std::size_t i = 0; i < relays.size(); ++i) {
        scored.emplace_back(rendezvousScore(key, relays[i].name()), i);
    }
    std::sort(scored.begin(), scored.end(), [](const auto& a, const auto& b) {
        return a.first != b.first ? a.first > b.first : a.second < b.second;
    });
    std::vector<std::size_t> order;
    order.reserve(scored.size());
    for (const auto& [score, index] : scored) {
        order.push_back(index);
    }
    return order;
}

CameraLocator::CameraLocator(std::vector<RelayAddress> relays, Fetcher fetcher,
                             std::chrono::milliseconds askLimit,
                             std::chrono::milliseconds keepFound,
                             std::chrono::milliseconds keepMissing, std::size_t maxSearches)
    : relays_(std::move(relays)), fetch_(std::move(fetcher)), askLimit_(askLimit),
      keepFound_(keepFound), keepMissing_(keepMissing), maxSearches_(maxSearches) {}

std::optional<int> CameraLocator::known(const std::string& camera) {
    std::lock_guard lock(mutex_);
    const auto it = remembered_.find(camera);
    if (it == remembered_.end()) {
        return std::nullopt;
    }
    if (SteadyClock::now() >= it->second.until) {
        remembered_.erase(it);
        return std::nullopt;
    }
    return it->second.relay;
}

bool CameraLocator::locate(const std::string& camera, std::function<void(int)> done) {
    {
        std::lock_guard lock(mutex_);
        if (const auto it = searches_.find(camera); it != searches_.end()) {
            it->second.done.push_back(std::move(done));
            return true;
        }
        if (searches_.size() >= maxSearches_ || !fetch_) {
            return false;
        }
        Search& search = searches_[camera];
        search.answers.assign(relays_.size(), -1);
        search.waiting = relays_.size();
        search.done.push_back(std::move(done));
        // Few relays remembered for many cameras stay small; drop what has expired now and
        // then so that the memory stays bounded by the cameras asked for lately.
        if (remembered_.size() > 100000) {
            const auto now = SteadyClock::now();
            for (auto it = remembered_.begin(); it != remembered_.end();) {
                it = it->second.until <= now ? remembered_.erase(it) : std::next(it);
            }
        }
    }
    const std::string target = "/webcams/CheckFolderExists?id=" + camera + "&path=webcams";
    for (std::size_t i = 0; i < relays_.size(); ++i) {
        fetch_(relays_[i].host, relays_[i].port, target, askLimit_,
               [this, camera, i](int status, const std::string& body) {
                   answered(camera, i, status == 200 && body == "Exists: true");
               });
    }
    return true;
}

void CameraLocator::answered(const std::string& camera, std::size_t relay, bool hasIt) {
    std::vector<std::function<void(int)>> done;
    int found = -1;
    {
        std::lock_guard lock(mutex_);
        const auto it = searches_.find(camera);
        if (it == searches_.end() || it->second.answers[relay] != -1) {
            return;
        }
        Search& search = it->second;
        search.answers[relay] = hasIt ? 1 : 0;
        if (--search.waiting > 0) {
            return;
        }
        for (std::size_t candidate : relayPreference(camera, relays_)) {
            if (search.answers[candidate] == 1) {
                found = static_cast<int>(candidate);
                break;
            }
        }
        remembered_[camera] = {found,
                               SteadyClock::now() + (found >= 0 ? keepFound_ : keepMissing_)};
        done = std::move(search.done);
        searches_.erase(it);
    }
    for (auto& function : done) {
        function(found);
    }
}

HttpAnswer redirectTo(const RelayAddress& relay, const std::string& target) {
    const std::string location = relay.viewerBase + target;
    HttpAnswer answer = textAnswer(302, "Served by " + relay.viewerBase);
    answer.headers.emplace_back("Location", location);
    return answer;
}

RelaySearch::RelaySearch(CameraLocator& locator, std::string camera, std::string target,
                         HttpAnswer notFound)
    // Every relay has its time to answer, and a little more.
    : PendingAnswer(SteadyClock::now() + locator.askLimit() + std::chrono::seconds(1)),
      locator_(locator), camera_(std::move(camera)), target_(std::move(target)),
      notFound_(std::move(notFound)) {}

void RelaySearch::start(Wake wake) {
    const bool started = locator_.locate(camera_, [result = result_, wake](int relay) {
        {
            std::lock_guard lock(result->mutex);
            result->relay = relay;
        }
        wake();
    });
    if (!started) {
        std::lock_guard lock(result_->mutex);
        result_->relay = -2;
    }
}

std::optional<HttpAnswer> RelaySearch::poll(bool last, SteadyClock::time_point&) {
    std::optional<int> relay;
    {
        std::lock_guard lock(result_->mutex);
        relay = result_->relay;
    }
    if (relay && *relay >= 0) {
        return redirectTo(locator_.relays()[static_cast<std::size_t>(*relay)], target_);
    }
    if (relay && *relay == -1) {
        return notFound_;
    }
    if (relay || last) {
        HttpAnswer busy = textAnswer(503, "The relays cannot be asked now, try again shortly");
        busy.headers.emplace_back("Retry-After", "5");
        return busy;
    }
    return std::nullopt;
}

} // namespace reflector
