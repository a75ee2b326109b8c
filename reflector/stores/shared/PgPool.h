#pragma once

#include "stores/shared/BoundedPool.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

struct pg_conn;
struct pg_result;

namespace reflector {

// Every failure of a PostgreSQL call: the server's message and SQLSTATE for an error the
// server reported ("23505", "57014" for a statement time-out ...), an empty SQLSTATE for one on
// this side (no connection, no answer in time, no free connection). connectionLost() tells that
// the connection broke during the call: the statement may or may not have run, and repeating
// it is the caller's choice (safe for idempotent statements). Never holds a password.
class PgError : public std::runtime_error {
  public:
    explicit PgError(const std::string& message, std::string sqlstate = {},
                     bool connectionLost = false)
        : std::runtime_error(message), sqlstate_(std::move(sqlstate)),
          connectionLost_(connectionLost) {}
    const std::string& sqlstate() const { return sqlstate_; }
    bool connectionLost() const { return connectionLost_; }

  private:
    std::string sqlstate_;
    bool connectionLost_;
};

// One statement parameter, always sent bound, never spliced into the SQL. Text values are
// copied; binary values (bytea: frames) are not, so their bytes must outlive the call.
class PgParam {
  public:
    PgParam(std::nullptr_t) : null_(true) {}
    PgParam(std::string_view text) : owned_(text), data_(owned_.data()), size_(text.size()) {}
    PgParam(const std::string& text) : PgParam(std::string_view(text)) {}
    PgParam(const char* text) : PgParam(std::string_view(text)) {}
    PgParam(std::int64_t value) : PgParam(std::to_string(value)) {}
    PgParam(int value) : PgParam(static_cast<std::int64_t>(value)) {}
    PgParam(bool value) : PgParam(value ? "true" : "false") {}
    // Raw bytes for a bytea column or parameter (sent in binary format, no escaping).
    static PgParam bytes(std::string_view bytes);

    PgParam(const PgParam& other) { *this = other; }
    PgParam& operator=(const PgParam& other);

  private:
    friend class PgConnection;
    PgParam() = default;

    std::string owned_;
    const char* data_ = nullptr;
    std::size_t size_ = 0;
    unsigned type_ = 0; // 0: the server infers it
    bool binary_ = false;
    bool null_ = false;
};

// One value of a result as the server sent it, in text or binary format; nullopt when the
// bytes are not such a value. An integer (int2, int4, int8): decimal text without blanks, or
// big-endian binary. A boolean: "t" or "f", or one byte 1 or 0. A bytea: hexadecimal text
// ("\x..."), the older escaped text, or the bytes themselves.
std::optional<std::int64_t> pgIntegerValue(std::string_view value, bool binary);
std::optional<bool> pgBooleanValue(std::string_view value, bool binary);
std::optional<std::string> pgByteaValue(std::string_view value, bool binary);

// The rows of a statement. Values are read by row and column; text() gives a value's bytes as
// sent (text format), bytes() decodes a bytea column whichever format it came in. integer(),
// boolean() and bytes() throw PgError for a value they cannot read.
class PgResult {
  public:
    explicit PgResult(pg_result* result);
    int rows() const;
    int columns() const;
    bool isNull(int row, int column) const;
    std::string text(int row, int column) const;
    std::string bytes(int row, int column) const;
    std::int64_t integer(int row, int column) const;
    bool boolean(int row, int column) const;
    // The rows an INSERT, UPDATE or DELETE changed.
    std::int64_t affected() const;

  private:
    std::shared_ptr<pg_result> result_;
};

// Binary results carry bytea columns without hex encoding: the way to read frames.
enum class PgFormat { Text, Binary };

struct PgPoolOptions {
    // Handed to libpq as it is; shown only without its password.
    std::string url;
    std::size_t size = 8;
    // Waiting for a free connection when all `size` are in use.
    std::chrono::milliseconds checkoutWait{2000};
    // libpq's connect_timeout (whole seconds, at least 2), unless the URL sets its own.
    std::chrono::seconds connectTimeout{2};
    // The server's statement_timeout on every connection; this side gives up waiting for an
    // answer `answerMargin` later and drops the connection.
    std::chrono::milliseconds statementTimeout{4000};
    std::chrono::milliseconds answerMargin{1000};
};

// One libpq connection, used by one thread at a time (checked out of a PgPool).
class PgConnection {
  public:
    PgConnection(const PgPoolOptions& options, const std::string& shownUrl,
                 const std::string& password);
    ~PgConnection();
    PgConnection(const PgConnection&) = delete;
    PgConnection& operator=(const PgConnection&) = delete;

    // One statement with its parameters bound ($1, $2 ...); throws PgError.
    PgResult exec(std::string_view sql, const std::vector<PgParam>& params = {},
                  PgFormat format = PgFormat::Text);
    // Statements without parameters, several separated by ';' (a migration's script).
    void execScript(std::string_view sql);
    // Runs `work` in a transaction: committed when it returns, rolled back when it throws
    // (the exception goes on to the caller).
    template <typename Work> auto transaction(Work&& work) -> decltype(work(*this));
    // Changes the statement time-out of this connection (and this side's wait with it) until
    // it goes back to the pool, where it is reset.
    void setStatementTimeout(std::chrono::milliseconds timeout);

    // False once the connection broke: the pool closes it instead of keeping it.
    bool usable() const;
    // An idle connection the server has closed (a restart, an administrator) is not healthy;
    // checked without a round trip.
    bool healthy();
    bool timeoutChanged() const { return timeout_ != options_.statementTimeout; }

  private:
    friend class PgPool;
    pg_result* run(std::string_view sql, const std::vector<PgParam>* params, PgFormat format);
    [[noreturn]] void fail(const std::string& what, pg_result* result);
    void awaitSocket(bool forWrite, std::chrono::steady_clock::time_point deadline);

    const PgPoolOptions& options_;
    const std::string& shownUrl_;
    const std::string& password_;
    pg_conn* conn_ = nullptr;
    std::chrono::milliseconds timeout_;
    bool broken_ = false;
};

// A bounded pool of PostgreSQL connections for several threads. A connection the server has
// closed, or that broke during a call, is replaced by a fresh one on the next check-out.
class PgPool {
  public:
    // Checks the URL's form (no connection yet); throws PgError.
    explicit PgPool(PgPoolOptions options);
    ~PgPool();
    PgPool(const PgPool&) = delete;
    PgPool& operator=(const PgPool&) = delete;

    // A checked-out connection, given back when the lease ends (before the pool does).
    class Lease {
      public:
        Lease(PgPool& pool, std::unique_ptr<PgConnection> connection)
            : pool_(&pool), connection_(std::move(connection)) {}
        Lease(Lease&&) = default;
        Lease& operator=(Lease&&) = delete;
        ~Lease();
        PgConnection* operator->() { return connection_.get(); }
        PgConnection& operator*() { return *connection_; }

      private:
        PgPool* pool_;
        std::unique_ptr<PgConnection> connection_;
    };

    // Waits at most checkoutWait for a connection (connecting a new one when there is room).
    Lease acquire();
    // One statement on a connection of the pool.
    PgResult exec(std::string_view sql, const std::vector<PgParam>& params = {},
                  PgFormat format = PgFormat::Text);
    // `work(PgConnection&)` in a transaction on one connection of the pool.
    template <typename Work> auto transaction(Work&& work) {
        Lease lease = acquire();
        return lease->transaction(std::forward<Work>(work));
    }

    // The URL without its password, for logs.
    const std::string& shownUrl() const { return shownUrl_; }
    const PgPoolOptions& options() const { return options_; }

  private:
    void giveBack(std::unique_ptr<PgConnection> connection);

    const PgPoolOptions options_;
    const std::string shownUrl_;
    std::string password_;
    BoundedPool<PgConnection, PgError> pool_;
};

template <typename Work> auto PgConnection::transaction(Work&& work) -> decltype(work(*this)) {
    exec("BEGIN");
    try {
        if constexpr (std::is_void_v<decltype(work(*this))>) {
            work(*this);
            exec("COMMIT");
        } else {
            auto result = work(*this);
            exec("COMMIT");
            return result;
        }
    } catch (...) {
        if (usable()) {
            try {
                exec("ROLLBACK");
            } catch (const PgError&) {
                // The connection broke on the way: the server rolls back when it goes.
            }
        }
        throw;
    }
}

} // namespace reflector
