#pragma once

#include "stores/shared/BoundedPool.h"
#include "stores/shared/ConnectionUrl.h"

#include <chrono>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

struct redisContext;

namespace reflector {

// A failure of a Redis call. replyError(): the server answered with an error (its text is the
// message, e.g. "WRONGTYPE ..."), and the connection is fine; otherwise no answer came (no
// connection, connection lost, no answer in time, no free connection). Never holds a password.
class RedisError : public std::runtime_error {
  public:
    explicit RedisError(const std::string& message, bool replyError = false)
        : std::runtime_error(message), replyError_(replyError) {}
    bool replyError() const { return replyError_; }

  private:
    bool replyError_;
};

// A Redis reply as plain values. A status reply ("OK", "PONG") is a String. Errors inside an
// array (the answers of EXEC) are values of type Error with their text in `string`.
struct RedisValue {
    enum class Type { Nil, Integer, String, Array, Error };
    Type type = Type::Nil;
    std::int64_t integer = 0;
    std::string string;
    std::vector<RedisValue> array;

    bool isNil() const { return type == Type::Nil; }
};

// A Lua script, run by its SHA1 (EVALSHA) and sent whole (EVAL) only when the server does not
// know it (NOSCRIPT: a restart, SCRIPT FLUSH). Safe to share between threads.
class RedisScript {
  public:
    explicit RedisScript(std::string source) : source_(std::move(source)) {}
    const std::string& source() const { return source_; }

  private:
    friend class RedisPool;
    const std::string source_;
    mutable std::mutex mutex_;
    mutable std::string sha_;
};

struct RedisPoolOptions {
    // redis://[[user]:password@]host[:port][/db]
    std::string url;
    std::size_t size = 8;
    std::chrono::milliseconds checkoutWait{1000};
    std::chrono::milliseconds connectTimeout{1000};
    // The bound of each read and write of a command.
    std::chrono::milliseconds commandTimeout{2000};
};

// One hiredis connection, authenticated and on its database; used by one thread at a time.
// Arguments are binary-safe. The process must ignore SIGPIPE (the relay does).
class RedisConnection {
  public:
    RedisConnection(const RedisAddress& address, const RedisPoolOptions& options);
    ~RedisConnection();
    RedisConnection(const RedisConnection&) = delete;
    RedisConnection& operator=(const RedisConnection&) = delete;

    // One command; an error answer is thrown as a RedisError whose replyError() is true.
    RedisValue command(const std::vector<std::string_view>& args);
    RedisValue command(std::initializer_list<std::string_view> args) {
        return command(std::vector<std::string_view>(args));
    }
    bool usable() const;
    // An idle connection with something to read has been closed by the server (a restart).
    bool healthy();

  private:
    redisContext* context_ = nullptr;
    const RedisAddress& address_;
    const RedisPoolOptions& options_;
    bool broken_ = false;
};

// A bounded pool of Redis connections for several threads. A connection that broke, or that
// the server closed while it was idle, is replaced by a fresh one on the next check-out; a
// command that failed for want of an answer is not repeated (the caller may).
class RedisPool {
  public:
    // Reads the URL (no connection yet); throws RedisError when it is not a Redis URL.
    explicit RedisPool(RedisPoolOptions options);
    RedisPool(const RedisPool&) = delete;
    RedisPool& operator=(const RedisPool&) = delete;

    // A checked-out connection, given back when the lease ends (before the pool does).
    class Lease {
      public:
        Lease(RedisPool& pool, std::unique_ptr<RedisConnection> connection)
            : pool_(&pool), connection_(std::move(connection)) {}
        Lease(Lease&&) = default;
        Lease& operator=(Lease&&) = delete;
        ~Lease();
        RedisConnection* operator->() { return connection_.get(); }
        RedisConnection& operator*() { return *connection_; }

      private:
        RedisPool* pool_;
        std::unique_ptr<RedisConnection> connection_;
    };

    // Waits at most checkoutWait for a connection (connecting a new one when there is room).
    Lease acquire();
    RedisValue command(const std::vector<std::string_view>& args);
    RedisValue command(std::initializer_list<std::string_view> args) {
        return command(std::vector<std::string_view>(args));
    }
    // Runs `script` with its keys and arguments: EVALSHA, and EVAL when the server answers
    // NOSCRIPT.
    RedisValue eval(const RedisScript& script, const std::vector<std::string_view>& keys,
                    const std::vector<std::string_view>& args = {});

    // The URL without its password, for logs.
    std::string shownUrl() const { return address_.shown(); }

  private:
    const RedisPoolOptions options_;
    const RedisAddress address_;
    BoundedPool<RedisConnection, RedisError> pool_;
};

} // namespace reflector
