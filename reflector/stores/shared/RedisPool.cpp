#include "stores/shared/RedisPool.h"

#include "stores/shared/RedisReply.h"

#include <cerrno>
#include <poll.h>

namespace reflector {

RedisValue redisValueOf(const redisReply* reply) {
    RedisValue value;
    switch (reply->type) {
    case REDIS_REPLY_INTEGER:
        value.type = RedisValue::Type::Integer;
        value.integer = reply->integer;
        break;
    case REDIS_REPLY_STRING:
    case REDIS_REPLY_STATUS:
    case REDIS_REPLY_ERROR:
        value.type =
            reply->type == REDIS_REPLY_ERROR ? RedisValue::Type::Error : RedisValue::Type::String;
        value.string.assign(reply->str, reply->len);
        break;
    case REDIS_REPLY_ARRAY:
        value.type = RedisValue::Type::Array;
        value.array.reserve(reply->elements);
        for (std::size_t i = 0; i < reply->elements; ++i) {
            value.array.push_back(redisValueOf(reply->element[i]));
        }
        break;
    default:
        break;
    }
    return value;
}

timeval redisTimeval(std::chrono::milliseconds span) {
    return timeval{static_cast<time_t>(span.count() / 1000),
                   static_cast<suseconds_t>(span.count() % 1000 * 1000)};
}

std::string redisFailure(const redisContext* context, std::chrono::milliseconds timeout) {
    if (context == nullptr) {
        return "out of memory";
    }
    if (context->err == REDIS_ERR_IO && (errno == EAGAIN || errno == EWOULDBLOCK)) {
        return "no answer within " + std::to_string(timeout.count()) + " ms";
    }
    return context->errstr;
}

RedisConnection::RedisConnection(const RedisAddress& address, const RedisPoolOptions& options)
    : address_(address), options_(options) {
    context_ = redisConnectWithTimeout(address.host.c_str(), address.port,
                                       redisTimeval(options.connectTimeout));
    if (context_ == nullptr || context_->err != 0) {
        const std::string reason = redisFailure(context_, options.connectTimeout);
        redisFree(context_);
        throw RedisError("cannot connect to Redis " + address.shown() + ": " + reason);
    }
    try {
        if (redisSetTimeout(context_, redisTimeval(options.commandTimeout)) != REDIS_OK) {
            throw RedisError("cannot set the time-out of the Redis connection");
        }
        if (!address.password.empty()) {
            try {
                if (address.user.empty()) {
                    command({"AUTH", address.password});
                } else {
                    command({"AUTH", address.user, address.password});
                }
            } catch (const RedisError& e) {
                throw RedisError("Redis " + address.shown() + " refused the password: " +
                                 withoutSecret(e.what(), address.password));
            }
        }
        if (address.db != 0) {
            command({"SELECT", std::to_string(address.db)});
        }
    } catch (...) {
        redisFree(context_);
        throw;
    }
}

RedisConnection::~RedisConnection() {
    redisFree(context_);
}

bool RedisConnection::usable() const {
    return !broken_ && context_->err == 0;
}

bool RedisConnection::healthy() {
    if (!usable()) {
        return false;
    }
    pollfd socket{context_->fd, POLLIN, 0};
    return ::poll(&socket, 1, 0) == 0;
}

RedisValue RedisConnection::command(const std::vector<std::string_view>& args) {
    if (!usable()) {
        throw RedisError("the Redis connection to " + address_.shown() + " is broken");
    }
    std::vector<const char*> argv;
    std::vector<std::size_t> lengths;
    for (std::string_view arg : args) {
        argv.push_back(arg.data());
        lengths.push_back(arg.size());
    }
    auto* reply = static_cast<redisReply*>(
        redisCommandArgv(context_, static_cast<int>(args.size()), argv.data(), lengths.data()));
    if (reply == nullptr) {
        broken_ = true;
        throw RedisError("Redis " + address_.shown() + ": " +
                         redisFailure(context_, options_.commandTimeout));
    }
    RedisValue value = redisValueOf(reply);
    freeReplyObject(reply);
    if (value.type == RedisValue::Type::Error) {
        throw RedisError(value.string, true);
    }
    return value;
}

RedisPool::RedisPool(RedisPoolOptions options)
    : options_(std::move(options)), address_([this] {
          try {
              return parseRedisUrl(options_.url);
          } catch (const UrlError& e) {
              throw RedisError(e.what());
          }
      }()),
      pool_(
          "Redis", options_.size, options_.checkoutWait,
          [this] { return std::make_unique<RedisConnection>(address_, options_); },
          [](RedisConnection& connection) { return connection.healthy(); }) {}

RedisPool::Lease::~Lease() {
    if (connection_) {
        const bool usable = connection_->usable();
        pool_->pool_.give(std::move(connection_), usable);
    }
}

RedisPool::Lease RedisPool::acquire() {
    return Lease(*this, pool_.take());
}

RedisValue RedisPool::command(const std::vector<std::string_view>& args) {
    Lease lease = acquire();
    return lease->command(args);
}

RedisValue RedisPool::eval(const RedisScript& script, const std::vector<std::string_view>& keys,
                           const std::vector<std::string_view>& args) {
    Lease lease = acquire();
    std::string sha;
    {
        std::lock_guard lock(script.mutex_);
        sha = script.sha_;
    }
    if (sha.empty()) {
        sha = lease->command({"SCRIPT", "LOAD", script.source_}).string;
        std::lock_guard lock(script.mutex_);
        script.sha_ = sha;
    }
    const std::string keyCount = std::to_string(keys.size());
    std::vector<std::string_view> call{"EVALSHA", sha, keyCount};
    call.insert(call.end(), keys.begin(), keys.end());
    call.insert(call.end(), args.begin(), args.end());
    try {
        return lease->command(call);
    } catch (const RedisError& e) {
        if (!e.replyError() || std::string_view(e.what()).rfind("NOSCRIPT", 0) != 0) {
            throw;
        }
    }
    // The server lost its scripts: EVAL sends the source, which it keeps for the next EVALSHA.
    call[0] = "EVAL";
    call[1] = script.source_;
    return lease->command(call);
}

} // namespace reflector
