#include "stores/shared/RedisSubscriber.h"

#include "stores/shared/RedisReply.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <iostream>
#include <memory>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

namespace reflector {

namespace {

using Clock = std::chrono::steady_clock;

// The subscriber is being destroyed: every wait ends with this.
struct Stopped {};

// Waits until `fd` is ready for `events` (true) or the deadline passes (false); throws Stopped
// as soon as `wake` is signalled.
bool waitFor(int fd, short events, int wake, Clock::time_point deadline) {
    for (;;) {
        pollfd fds[2] = {{wake, POLLIN, 0}, {fd, events, 0}};
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        const int ready =
            ::poll(fds, fd < 0 ? 1 : 2, static_cast<int>(std::max<long>(0, left.count())));
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        if (fds[0].revents != 0) {
            throw Stopped{};
        }
        if (ready > 0) {
            return true;
        }
        if (Clock::now() >= deadline) {
            return false;
        }
    }
}

// A TCP connection to the address, made within `timeout`; a blocking socket.
int connectSocket(const RedisAddress& address, std::chrono::milliseconds timeout, int wake) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const int resolved =
        ::getaddrinfo(address.host.c_str(), std::to_string(address.port).c_str(), &hints, &found);
    if (resolved != 0) {
        throw RedisError("cannot resolve " + address.host + ": " + ::gai_strerror(resolved));
    }
    std::unique_ptr<addrinfo, decltype(&::freeaddrinfo)> list(found, ::freeaddrinfo);
    const auto deadline = Clock::now() + timeout;
    std::string reason = "no address";
    for (const addrinfo* at = found; at != nullptr; at = at->ai_next) {
        const int fd = ::socket(at->ai_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (fd < 0) {
            reason = std::strerror(errno);
            continue;
        }
        int error = 0;
        try {
            if (::connect(fd, at->ai_addr, at->ai_addrlen) != 0) {
                error = errno == EINPROGRESS ? 0 : errno;
                if (error == 0 && !waitFor(fd, POLLOUT, wake, deadline)) {
                    error = ETIMEDOUT;
                }
                socklen_t size = sizeof(error);
                if (error == 0) {
                    ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size);
                }
            }
        } catch (const Stopped&) {
            ::close(fd);
            throw;
        }
        if (error == 0) {
            const int one = 1;
            ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof(one));
            ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
            return fd;
        }
        reason = error == ETIMEDOUT
                     ? "no connection within " + std::to_string(timeout.count()) + " ms"
                     : std::strerror(error);
        ::close(fd);
    }
    throw RedisError(reason);
}

} // namespace

// One connection of the subscriber: connected, authenticated and on its database when made.
// Every wait on it is bounded and ends at once when the subscriber stops.
class RedisSubscriber::Session {
  public:
    Session(const RedisSubscriberOptions& options, const RedisAddress& address, int wake)
        : options_(options), wake_(wake) {
        const int fd = connectSocket(address, options.connectTimeout, wake);
        owned_.reset(redisConnectFd(fd));
        context_ = owned_.get();
        if (context_ == nullptr) {
            ::close(fd);
        }
        if (context_ == nullptr || context_->err != 0) {
            throw RedisError("cannot set up the connection");
        }
        // Writes are bounded by the socket's time-out; reads wait in poll() only.
        redisSetTimeout(context_, redisTimeval(options.answerTimeout));
        if (!address.password.empty()) {
            const RedisValue answer = request(
                address.user.empty()
                    ? std::vector<std::string_view>{"AUTH", address.password}
                    : std::vector<std::string_view>{"AUTH", address.user, address.password});
            if (answer.type == RedisValue::Type::Error) {
                throw RedisError("the password was refused: " +
                                 withoutSecret(answer.string, address.password));
            }
        }
        if (address.db != 0 &&
            request({"SELECT", std::to_string(address.db)}).type == RedisValue::Type::Error) {
            throw RedisError("database " + std::to_string(address.db) + " was refused");
        }
    }
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // Subscribes and hands out messages until the connection fails (RedisError) or the
    // subscriber stops (Stopped); `confirmed` runs once every subscription is confirmed.
    void listen(const OnMessage& onMessage, const std::function<void()>& confirmed) {
        std::size_t awaiting = 0;
        for (const auto* names : {&options_.channels, &options_.patterns}) {
            if (names->empty()) {
                continue;
            }
            std::vector<std::string_view> command{names == &options_.channels ? "SUBSCRIBE"
                                                                              : "PSUBSCRIBE"};
            command.insert(command.end(), names->begin(), names->end());
            send(command);
            awaiting += names->size();
        }
        bool subscribed = awaiting == 0;
        if (subscribed) {
            confirmed();
        }
        bool pinged = false;
        auto heard = Clock::now();
        for (;;) {
            RedisValue value;
            while (next(value)) {
                heard = Clock::now();
                pinged = false;
                const std::vector<RedisValue>& parts = value.array;
                const std::string kind = parts.empty() ? "" : parts[0].string;
                if (value.type == RedisValue::Type::Error) {
                    throw RedisError("the subscription was refused: " + value.string);
                } else if (kind == "message" && parts.size() == 3) {
                    onMessage(RedisMessage{{}, parts[1].string, parts[2].string});
                } else if (kind == "pmessage" && parts.size() == 4) {
                    onMessage(RedisMessage{parts[1].string, parts[2].string, parts[3].string});
                } else if ((kind == "subscribe" || kind == "psubscribe") && awaiting > 0 &&
                           --awaiting == 0 && !subscribed) {
                    subscribed = true;
                    confirmed();
                }
            }
            const bool expecting = pinged || !subscribed;
            if (readSome(heard + (expecting ? options_.answerTimeout : options_.pingEvery))) {
                continue;
            }
            if (expecting) {
                throw RedisError("no answer within " +
                                 std::to_string(options_.answerTimeout.count()) + " ms");
            }
            send({"PING"});
            pinged = true;
            heard = Clock::now();
        }
    }

  private:
    void send(const std::vector<std::string_view>& args) {
        std::vector<const char*> argv;
        std::vector<std::size_t> lengths;
        for (std::string_view arg : args) {
            argv.push_back(arg.data());
            lengths.push_back(arg.size());
        }
        redisAppendCommandArgv(context_, static_cast<int>(args.size()), argv.data(),
                               lengths.data());
        for (int done = 0; done == 0;) {
            if (redisBufferWrite(context_, &done) != REDIS_OK) {
                throw RedisError(redisFailure(context_, options_.answerTimeout));
            }
        }
    }

    // Reads what has come, waiting for it at most until `deadline`; false when nothing came.
    bool readSome(Clock::time_point deadline) {
        if (!waitFor(context_->fd, POLLIN, wake_, deadline)) {
            return false;
        }
        if (redisBufferRead(context_) != REDIS_OK) {
            throw RedisError(redisFailure(context_, options_.answerTimeout));
        }
        return true;
    }

    // The next whole reply read so far, if any.
    bool next(RedisValue& value) {
        void* reply = nullptr;
        if (redisGetReplyFromReader(context_, &reply) != REDIS_OK) {
            throw RedisError(redisFailure(context_, options_.answerTimeout));
        }
        if (reply == nullptr) {
            return false;
        }
        value = redisValueOf(static_cast<redisReply*>(reply));
        freeReplyObject(reply);
        return true;
    }

    RedisValue request(const std::vector<std::string_view>& args) {
        send(args);
        const auto deadline = Clock::now() + options_.answerTimeout;
        RedisValue value;
        while (!next(value)) {
            if (!readSome(deadline)) {
                throw RedisError("no answer within " +
                                 std::to_string(options_.answerTimeout.count()) + " ms");
            }
        }
        return value;
    }

    const RedisSubscriberOptions& options_;
    const int wake_;
    // Freed also when the constructor fails after connecting.
    std::unique_ptr<redisContext, decltype(&redisFree)> owned_{nullptr, redisFree};
    redisContext* context_ = nullptr;
};

RedisSubscriber::RedisSubscriber(RedisSubscriberOptions options, OnMessage onMessage, OnBack onBack)
    : options_(std::move(options)), onMessage_(std::move(onMessage)), onBack_(std::move(onBack)) {
    try {
        address_ = parseRedisUrl(options_.url);
    } catch (const UrlError& e) {
        throw RedisError(e.what());
    }
    wake_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wake_ < 0) {
        throw RedisError(std::string("cannot make the subscriber's wake-up: ") +
                         std::strerror(errno));
    }
    thread_ = std::thread([this] { run(); });
}

RedisSubscriber::~RedisSubscriber() {
    stopping_ = true;
    const std::uint64_t one = 1;
    while (::write(wake_, &one, sizeof(one)) < 0 && errno == EINTR) {
    }
    thread_.join();
    ::close(wake_);
}

bool RedisSubscriber::waitUntilSubscribed(std::chrono::milliseconds limit) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, limit, [this] { return subscribed_.load(); });
}

void RedisSubscriber::setSubscribed(bool subscribed) {
    {
        std::lock_guard lock(mutex_);
        subscribed_ = subscribed;
    }
    changed_.notify_all();
}

void RedisSubscriber::log(const std::string& line) const {
    if (options_.log) {
        options_.log(line);
    } else {
        std::cerr << "reflector: " << line << std::endl;
    }
}

bool RedisSubscriber::pause(std::chrono::milliseconds span) const {
    try {
        waitFor(-1, 0, wake_, Clock::now() + span);
        return true;
    } catch (const Stopped&) {
        return false;
    }
}

void RedisSubscriber::run() {
    const std::string shown = address_.shown();
    auto retry = options_.firstRetry;
    bool away = false;
    Clock::time_point lostAt;
    // A callback that throws is logged; the subscription goes on.
    const auto guarded = [this](const char* what, const std::function<void()>& call) {
        try {
            call();
        } catch (const std::exception& e) {
            log(std::string("the Redis ") + what + " handler failed: " + e.what());
        }
    };
    while (!stopping_) {
        try {
            Session session(options_, address_, wake_);
            session.listen(
                [&](const RedisMessage& message) {
                    guarded("message", [&] { onMessage_(message); });
                },
                [&] {
                    setSubscribed(true);
                    retry = options_.firstRetry;
                    if (away) {
                        away = false;
                        const auto gone = std::chrono::duration_cast<std::chrono::milliseconds>(
                            Clock::now() - lostAt);
                        log("subscribed again to Redis " + shown + " after " +
                            std::to_string(gone.count()) + " ms");
                        if (onBack_) {
                            guarded("reconnection", onBack_);
                        }
                    }
                });
        } catch (const Stopped&) {
            break;
        } catch (const std::exception& e) {
            setSubscribed(false);
            if (!away) {
                away = true;
                lostAt = Clock::now();
                log("lost the Redis subscription to " + shown + " (" + e.what() +
                    "); connecting again");
            }
            if (!pause(retry)) {
                break;
            }
            retry = std::min(retry * 2, options_.lastRetry);
        }
    }
    setSubscribed(false);
}

} // namespace reflector
