#include "stores/shared/PgPool.h"

#include "stores/shared/ConnectionUrl.h"

#include <cerrno>
#include <charconv>
#include <cstring>
#include <libpq-fe.h>
#include <poll.h>

namespace reflector {

namespace {

constexpr unsigned kByteaOid = 17;

std::string trimmed(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) {
        text.pop_back();
    }
    return text;
}

// The password libpq will use from the URL, to keep it out of every message; throws PgError
// when libpq cannot read the URL at all.
std::string passwordOf(const std::string& url, const std::string& shownUrl) {
    char* error = nullptr;
    PQconninfoOption* options = PQconninfoParse(url.c_str(), &error);
    if (options == nullptr) {
        std::string reason = error != nullptr ? trimmed(error) : "out of memory";
        PQfreemem(error);
        // libpq quotes the part it could not read, which may be the password.
        for (const std::string& secret : postgresUrlSecrets(url)) {
            reason = withoutSecret(reason, secret);
        }
        throw PgError("the database URL " + shownUrl + " cannot be read: " + reason);
    }
    std::string password;
    for (PQconninfoOption* option = options; option->keyword != nullptr; ++option) {
        if (std::strcmp(option->keyword, "password") == 0 && option->val != nullptr) {
            password = option->val;
        }
    }
    PQconninfoFree(options);
    return password;
}

} // namespace

PgParam PgParam::bytes(std::string_view bytes) {
    PgParam param;
    param.data_ = bytes.data();
    param.size_ = bytes.size();
    param.type_ = kByteaOid;
    param.binary_ = true;
    return param;
}

PgParam& PgParam::operator=(const PgParam& other) {
    if (this == &other) {
        return *this;
    }
    const bool owns = other.data_ == other.owned_.data() && !other.binary_;
    owned_ = other.owned_;
    data_ = owns ? owned_.data() : other.data_;
    size_ = other.size_;
    type_ = other.type_;
    binary_ = other.binary_;
    null_ = other.null_;
    return *this;
}

std::optional<std::int64_t> pgIntegerValue(std::string_view value, bool binary) {
    if (binary) {
        // Binary integers (int2, int4, int8) are big-endian.
        if (value.size() != 2 && value.size() != 4 && value.size() != 8) {
            return std::nullopt;
        }
        std::uint64_t bits = 0;
        for (unsigned char c : value) {
            bits = bits << 8 | c;
        }
        const int shift = 64 - 8 * static_cast<int>(value.size());
        return static_cast<std::int64_t>(bits << shift) >> shift;
    }
    std::int64_t number = 0;
    const char* end = value.data() + value.size();
    const auto [at, error] = std::from_chars(value.data(), end, number);
    if (value.empty() || error != std::errc() || at != end) {
        return std::nullopt;
    }
    return number;
}

std::optional<bool> pgBooleanValue(std::string_view value, bool binary) {
    if (value == (binary ? std::string_view("\1", 1) : "t")) {
        return true;
    }
    if (value == (binary ? std::string_view("\0", 1) : "f")) {
        return false;
    }
    return std::nullopt;
}

std::optional<std::string> pgByteaValue(std::string_view value, bool binary) {
    if (binary) {
        return std::string(value);
    }
    if (value.find('\0') != std::string_view::npos) {
        return std::nullopt; // no text value holds one
    }
    if (value.substr(0, 2) == "\\x") {
        const auto digit = [](char c) {
            return c >= '0' && c <= '9'   ? c - '0'
                   : c >= 'a' && c <= 'f' ? c - 'a' + 10
                   : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                          : -1;
        };
        const std::string_view hex = value.substr(2);
        if (hex.size() % 2 != 0) {
            return std::nullopt;
        }
        std::string bytes(hex.size() / 2, '\0');
        for (std::size_t i = 0; i < bytes.size(); ++i) {
            const int high = digit(hex[2 * i]);
            const int low = digit(hex[2 * i + 1]);
            if (high < 0 || low < 0) {
                return std::nullopt;
            }
            bytes[i] = static_cast<char>(high << 4 | low);
        }
        return bytes;
    }
    // The escaped form of servers set to bytea_output = escape.
    const std::string text(value);
    std::size_t size = 0;
    unsigned char* raw =
        PQunescapeBytea(reinterpret_cast<const unsigned char*>(text.c_str()), &size);
    if (raw == nullptr) {
        return std::nullopt;
    }
    std::string bytes(reinterpret_cast<const char*>(raw), size);
    PQfreemem(raw);
    return bytes;
}

PgResult::PgResult(pg_result* result) : result_(result, PQclear) {}

int PgResult::rows() const {
    return PQntuples(result_.get());
}

int PgResult::columns() const {
    return PQnfields(result_.get());
}

bool PgResult::isNull(int row, int column) const {
    return PQgetisnull(result_.get(), row, column) != 0;
}

std::string PgResult::text(int row, int column) const {
    return std::string(PQgetvalue(result_.get(), row, column),
                       static_cast<std::size_t>(PQgetlength(result_.get(), row, column)));
}

std::string PgResult::bytes(int row, int column) const {
    auto bytes = pgByteaValue(text(row, column), PQfformat(result_.get(), column) == 1);
    if (!bytes) {
        throw PgError("database: column " + std::to_string(column) + " is not a bytea value");
    }
    return std::move(*bytes);
}

std::int64_t PgResult::integer(int row, int column) const {
    const auto number = pgIntegerValue(text(row, column), PQfformat(result_.get(), column) == 1);
    if (!number) {
        throw PgError("database: column " + std::to_string(column) + " is not an integer");
    }
    return *number;
}

bool PgResult::boolean(int row, int column) const {
    const auto value = pgBooleanValue(text(row, column), PQfformat(result_.get(), column) == 1);
    if (!value) {
        throw PgError("database: column " + std::to_string(column) + " is not a boolean");
    }
    return *value;
}

std::int64_t PgResult::affected() const {
    const char* count = PQcmdTuples(result_.get());
    return pgIntegerValue(count != nullptr ? count : "", false).value_or(0);
}

PgConnection::PgConnection(const PgPoolOptions& options, const std::string& shownUrl,
                           const std::string& password)
    : options_(options), shownUrl_(shownUrl), password_(password),
      timeout_(options.statementTimeout) {
    // The URL comes last, so that a connect_timeout of its own wins.
    const std::string connectTimeout =
        std::to_string(std::max<long>(2, options.connectTimeout.count()));
    const char* keywords[] = {"connect_timeout", "dbname", nullptr};
    const char* values[] = {connectTimeout.c_str(), options.url.c_str(), nullptr};
    conn_ = PQconnectdbParams(keywords, values, 1);
    if (conn_ == nullptr || PQstatus(conn_) != CONNECTION_OK) {
        const std::string reason = conn_ != nullptr
                                       ? withoutSecret(trimmed(PQerrorMessage(conn_)), password_)
                                       : "out of memory";
        PQfinish(conn_);
        throw PgError("cannot connect to the database " + shownUrl_ + ": " + reason, {}, true);
    }
    // The server's notices ("relation already exists, skipping") are not the relay's log.
    PQsetNoticeProcessor(
        conn_, [](void*, const char*) {}, nullptr);
    // Non-blocking, so that every wait for the server is a poll with a deadline.
    try {
        if (PQsetnonblocking(conn_, 1) != 0) {
            throw PgError("cannot make the database connection non-blocking", {}, true);
        }
        setStatementTimeout(options.statementTimeout);
    } catch (...) {
        PQfinish(conn_);
        throw;
    }
}

PgConnection::~PgConnection() {
    PQfinish(conn_);
}

void PgConnection::setStatementTimeout(std::chrono::milliseconds timeout) {
    timeout_ = timeout;
    exec("SELECT set_config('statement_timeout', $1, false)",
         {std::to_string(timeout.count()) + "ms"});
}

bool PgConnection::usable() const {
    return !broken_ && PQstatus(conn_) == CONNECTION_OK;
}

bool PgConnection::healthy() {
    if (!usable() || PQtransactionStatus(conn_) != PQTRANS_IDLE) {
        return false;
    }
    // An idle connection receives nothing unless the server is closing it (a restart, an
    // administrator ending the session): then it says why and closes.
    pollfd socket{PQsocket(conn_), POLLIN, 0};
    return ::poll(&socket, 1, 0) == 0;
}

PgResult PgConnection::exec(std::string_view sql, const std::vector<PgParam>& params,
                            PgFormat format) {
    return PgResult(run(sql, &params, format));
}

void PgConnection::execScript(std::string_view sql) {
    PQclear(run(sql, nullptr, PgFormat::Text));
}

void PgConnection::awaitSocket(bool forWrite, std::chrono::steady_clock::time_point deadline) {
    pollfd socket{PQsocket(conn_), static_cast<short>(POLLIN | (forWrite ? POLLOUT : 0)), 0};
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        const int ready = left.count() > 0 ? ::poll(&socket, 1, static_cast<int>(left.count())) : 0;
        if (ready > 0) {
            return;
        }
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        // No answer in time: the server or the network stopped. The connection is given up
        // (the server's own statement_timeout ends the statement there).
        broken_ = true;
        throw PgError("the database " + shownUrl_ + " did not answer within " +
                          std::to_string((timeout_ + options_.answerMargin).count()) + " ms",
                      {}, true);
    }
}

pg_result* PgConnection::run(std::string_view sql, const std::vector<PgParam>* params,
                             PgFormat format) {
    if (!usable()) {
        throw PgError("the database connection to " + shownUrl_ + " is broken", {}, true);
    }
    const auto deadline = std::chrono::steady_clock::now() + timeout_ + options_.answerMargin;
    const std::string statement(sql);
    int sent = 0;
    if (params == nullptr) {
        sent = PQsendQuery(conn_, statement.c_str());
    } else {
        std::vector<Oid> types;
        std::vector<const char*> values;
        std::vector<int> lengths;
        std::vector<int> formats;
        for (const PgParam& param : *params) {
            types.push_back(param.type_);
            values.push_back(param.null_ ? nullptr : param.data_);
            lengths.push_back(static_cast<int>(param.size_));
            formats.push_back(param.binary_ ? 1 : 0);
        }
        sent = PQsendQueryParams(conn_, statement.c_str(), static_cast<int>(params->size()),
                                 types.data(), values.data(), lengths.data(), formats.data(),
                                 format == PgFormat::Binary ? 1 : 0);
    }
    if (sent == 0) {
        fail("cannot send the statement", nullptr);
    }
    // Sends what libpq could not write at once (a large frame), reading meanwhile as asked.
    for (int left = PQflush(conn_); left != 0; left = PQflush(conn_)) {
        if (left < 0) {
            fail("cannot send the statement", nullptr);
        }
        awaitSocket(true, deadline);
        if (PQconsumeInput(conn_) == 0) {
            fail("lost the connection", nullptr);
        }
    }
    // Collects every result; the first error wins, otherwise the last result is the answer.
    using Owned = std::unique_ptr<pg_result, decltype(&PQclear)>;
    Owned answer(nullptr, PQclear);
    Owned error(nullptr, PQclear);
    for (;;) {
        while (PQisBusy(conn_) != 0) {
            awaitSocket(false, deadline);
            if (PQconsumeInput(conn_) == 0) {
                fail("lost the connection", nullptr);
            }
        }
        Owned result(PQgetResult(conn_), PQclear);
        if (!result) {
            break;
        }
        const ExecStatusType status = PQresultStatus(result.get());
        if (status == PGRES_COPY_IN || status == PGRES_COPY_OUT || status == PGRES_COPY_BOTH) {
            broken_ = true;
            throw PgError("database: COPY is not supported here", {}, true);
        }
        if (status != PGRES_FATAL_ERROR && status != PGRES_BAD_RESPONSE) {
            answer = std::move(result);
        } else if (!error) {
            error = std::move(result);
        }
    }
    if (error) {
        fail("", error.release());
    }
    if (!answer) {
        fail("no answer to the statement", nullptr);
    }
    return answer.release();
}

void PgConnection::fail(const std::string& what, pg_result* result) {
    std::string message;
    std::string sqlstate;
    if (result != nullptr) {
        const char* primary = PQresultErrorField(result, PG_DIAG_MESSAGE_PRIMARY);
        const char* detail = PQresultErrorField(result, PG_DIAG_MESSAGE_DETAIL);
        const char* code = PQresultErrorField(result, PG_DIAG_SQLSTATE);
        message = primary != nullptr ? primary : trimmed(PQresultErrorMessage(result));
        if (detail != nullptr) {
            message += " (" + std::string(detail) + ")";
        }
        sqlstate = code != nullptr ? code : "";
        PQclear(result);
    } else {
        message = what + ": " + trimmed(PQerrorMessage(conn_));
    }
    const bool lost = PQstatus(conn_) != CONNECTION_OK;
    broken_ = broken_ || lost;
    throw PgError("database: " + withoutSecret(message, password_), sqlstate, lost);
}

PgPool::PgPool(PgPoolOptions options)
    : options_(std::move(options)), shownUrl_(postgresUrlShown(options_.url)),
      password_(passwordOf(options_.url, shownUrl_)),
      pool_(
          "database", options_.size, options_.checkoutWait,
          [this] { return std::make_unique<PgConnection>(options_, shownUrl_, password_); },
          [](PgConnection& connection) { return connection.healthy(); }) {}

PgPool::~PgPool() = default;

PgPool::Lease::~Lease() {
    if (connection_) {
        pool_->giveBack(std::move(connection_));
    }
}

PgPool::Lease PgPool::acquire() {
    return Lease(*this, pool_.take());
}

PgResult PgPool::exec(std::string_view sql, const std::vector<PgParam>& params, PgFormat format) {
    Lease lease = acquire();
    return lease->exec(sql, params, format);
}

void PgPool::giveBack(std::unique_ptr<PgConnection> connection) {
    // A connection left inside a transaction, or that broke, is not handed to the next user.
    bool usable = connection->usable() && PQtransactionStatus(connection->conn_) == PQTRANS_IDLE;
    if (usable && connection->timeoutChanged()) {
        try {
            connection->setStatementTimeout(options_.statementTimeout);
        } catch (const PgError&) {
            usable = false;
        }
    }
    pool_.give(std::move(connection), usable);
}

} // namespace reflector
