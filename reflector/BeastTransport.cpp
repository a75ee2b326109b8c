// The relay's transport on Boost.Beast and Asio. Beast's parser reads each request straight
// into the relay's own HttpRequest under the transport's named limits; Asio runs every
// connection on a few network threads, each connection with its own timer, so that a slow or
// silent client costs a socket and a few kilobytes but never a thread. It is the only file
// that includes Boost.

#include "Connection.h"
#include "Transport.h"

#include <algorithm>
#include <atomic>
#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <condition_variable>
#include <ctime>
#include <exception>
#include <iostream>
#include <list>
#include <mutex>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <optional>
#include <sys/socket.h>
#include <thread>
#include <vector>

namespace reflector {

namespace {

namespace net = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = net::ip::tcp;
using boost::system::error_code;

constexpr Clock::time_point kNever = Clock::time_point::max();
// Bytes of a client's further request thrown away after an answer that ends the connection.
constexpr std::size_t kDrainAfterAnswer = 64 * 1024;
// How long a connection turned away at once is given to write and to finish sending.
constexpr std::chrono::seconds kRefusalTime{1};
// Connections being turned away at once; beyond, they are closed unanswered.
constexpr std::size_t kMostRefusing = 1024;

// A live stream's viewer whose machine vanished without closing the connection (a lid shut,
// a router that forgot it) is written nothing while its camera is idle. The system's
// keep-alive probes find such a peer gone after about a minute, which ends the stream's
// pending read and with it the stream.
void probeWhileIdle(tcp::socket& socket) {
    error_code ec;
    socket.set_option(net::socket_base::keep_alive(true), ec);
    const int idleSeconds = 30;
    const int intervalSeconds = 10;
    const int probes = 3;
    const int fd = socket.native_handle();
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &idleSeconds, sizeof idleSeconds);
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &intervalSeconds, sizeof intervalSeconds);
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &probes, sizeof probes);
}

// Request bodies held at once, over all connections.
class BodyBudget {
  public:
    explicit BodyBudget(std::size_t limit) : limit_(limit) {}
    bool charge(std::size_t bytes) {
        std::size_t held = held_.load();
        do {
            if (held + bytes > limit_) {
                return false;
            }
        } while (!held_.compare_exchange_weak(held, held + bytes));
        return true;
    }
    void release(std::size_t bytes) { held_ -= bytes; }

  private:
    std::size_t limit_;
    std::atomic<std::size_t> held_{0};
};

// Bytes charged to the budget for one body, given back on destruction.
class BodyCharge {
  public:
    BodyCharge() = default;
    BodyCharge(BodyBudget* budget, std::size_t bytes) : budget_(budget), bytes_(bytes) {}
    BodyCharge(BodyCharge&& other) noexcept : budget_(other.budget_), bytes_(other.bytes_) {
        other.bytes_ = 0;
    }
    BodyCharge& operator=(BodyCharge&&) = delete;
    BodyCharge(const BodyCharge&) = delete;
    BodyCharge& operator=(const BodyCharge&) = delete;
    ~BodyCharge() {
        if (bytes_ > 0) {
            budget_->release(bytes_);
        }
    }

  private:
    BodyBudget* budget_ = nullptr;
    std::size_t bytes_ = 0;
};

// A request refused while it was being read: status and reason.
struct Refusal {
    int status = 0;
    std::string reason;
};

// Reads one request into the relay's types, refusing it as soon as it passes a limit.
class RequestParser : public http::basic_parser<true> {
  public:
    RequestParser(const TransportConfig& config, BodyBudget& budget)
        : config_(config), budget_(budget) {
        header_limit(
            static_cast<std::uint32_t>(std::min<std::size_t>(config.maxHeaderBytes, UINT32_MAX)));
        // The announced length is checked by the transport itself, before the body is read.
        body_limit(boost::none);
    }
    ~RequestParser() override { budget_.release(charged_); }

    BodyCharge takeCharge() {
        BodyCharge charge(&budget_, charged_);
        charged_ = 0;
        return charge;
    }

    std::string method;
    std::string target;
    int version = 11;
    Fields headers;
    std::string body;
    Refusal refusal;

  private:
    void refuse(error_code& ec, int status, std::string reason) {
        refusal = {status, std::move(reason)};
        ec = http::error::bad_value;
    }

    void on_request_impl(http::verb, beast::string_view methodText, beast::string_view targetText,
                         int httpVersion, error_code& ec) override {
        method.assign(methodText.data(), methodText.size());
        target.assign(targetText.data(), targetText.size());
        version = httpVersion;
        // "GET " + target + " HTTP/1.1"
        if (methodText.size() + targetText.size() + 10 > config_.maxRequestLineBytes) {
            refuse(ec, 414,
                   "request line longer than " + std::to_string(config_.maxRequestLineBytes) +
                       " bytes");
        } else if (httpVersion != 10 && httpVersion != 11) {
            refuse(ec, 505, "HTTP version not supported");
        }
    }

    void on_response_impl(int, beast::string_view, int, error_code& ec) override {
        ec = http::error::bad_method;
    }

    void on_field_impl(http::field, beast::string_view name, beast::string_view value,
                       error_code& ec) override {
        if (headers.size() >= config_.maxHeaderLines) {
            refuse(ec, 431,
                   "more than " + std::to_string(config_.maxHeaderLines) + " header lines");
            return;
        }
        if (name.size() + value.size() + 2 > config_.maxHeaderLineBytes) {
            refuse(ec, 431,
                   "header line longer than " + std::to_string(config_.maxHeaderLineBytes) +
                       " bytes");
            return;
        }
        headers.emplace_back(std::string(name.data(), name.size()),
                             std::string(value.data(), value.size()));
    }

    void on_header_impl(error_code&) override {}

    void on_body_init_impl(const boost::optional<std::uint64_t>& length, error_code&) override {
        // Small bodies in one piece; large ones grow as they arrive, so that a client that
        // announces a large body holds no more memory than it has sent.
        if (length && *length <= 256 * 1024) {
            body.reserve(static_cast<std::size_t>(*length));
        }
    }

    std::size_t on_body_impl(beast::string_view data, error_code& ec) override {
        if (!budget_.charge(data.size())) {
            refuse(ec, 503, "the relay is receiving too many requests at once, try again shortly");
            return 0;
        }
        charged_ += data.size();
        body.append(data.data(), data.size());
        return data.size();
    }

    void on_chunk_header_impl(std::uint64_t, beast::string_view, error_code& ec) override {
        refuse(ec, 411, "request body without a Content-Length");
    }

    std::size_t on_chunk_body_impl(std::uint64_t, beast::string_view, error_code& ec) override {
        refuse(ec, 411, "request body without a Content-Length");
        return 0;
    }

    void on_finish_impl(error_code&) override {}

    const TransportConfig& config_;
    BodyBudget& budget_;
    std::size_t charged_ = 0;
};

// The Date header's value, made once a second per thread.
const std::string& httpDate() {
    thread_local std::time_t made = 0;
    thread_local std::string text;
    const std::time_t now = std::time(nullptr);
    if (now != made) {
        std::tm parts{};
        gmtime_r(&now, &parts);
        char buffer[64];
        std::strftime(buffer, sizeof buffer, "%a, %d %b %Y %H:%M:%S GMT", &parts);
        text = buffer;
        made = now;
    }
    return text;
}

bool isSafeHeaderText(std::string_view text) {
    return text.find_first_of(std::string_view("\r\n\0", 3)) == std::string_view::npos;
}

bool hasField(const Fields& fields, std::string_view name) {
    for (const auto& [key, value] : fields) {
        if (beast::iequals(key, name)) {
            return true;
        }
    }
    return false;
}

// The status line and header lines of an answer. `length` is left out for a stream.
std::string answerHead(const HttpAnswer& answer, bool close, bool keepAliveSaid, bool stream) {
    std::string head;
    head.reserve(256);
    head += "HTTP/1.1 ";
    head += std::to_string(answer.status);
    head += ' ';
    const auto reason = http::obsolete_reason(http::int_to_status(answer.status));
    head.append(reason.data(), reason.size());
    head += "\r\nDate: ";
    head += httpDate();
    head += "\r\n";
    if (!answer.contentType.empty() && isSafeHeaderText(answer.contentType)) {
        head += "Content-Type: ";
        head += answer.contentType;
        head += "\r\n";
    }
    const bool hasBody = answer.status >= 200 && answer.status != 304;
    if (!stream && hasBody) {
        head += "Content-Length: ";
        head += std::to_string(answer.content().size());
        head += "\r\n";
    }
    if (!hasField(answer.headers, "Cache-Control")) {
        head += "Cache-Control: no-store\r\n";
    }
    head += "X-Content-Type-Options: nosniff\r\n";
    if (close) {
        head += "Connection: close\r\n";
    } else if (keepAliveSaid) {
        head += "Connection: keep-alive\r\n";
    }
    for (const auto& [name, value] : answer.headers) {
        if (!name.empty() && isSafeHeaderText(name) && isSafeHeaderText(value) &&
            !beast::iequals(name, "Content-Length") && !beast::iequals(name, "Connection") &&
            !beast::iequals(name, "Transfer-Encoding")) {
            head += name;
            head += ": ";
            head += value;
            head += "\r\n";
        }
    }
    head += "\r\n";
    return head;
}

// Drops the first `n` bytes of a buffer sequence.
void consume(std::vector<net::const_buffer>& buffers, std::size_t n) {
    std::size_t done = 0;
    while (done < buffers.size() && n >= buffers[done].size()) {
        n -= buffers[done].size();
        ++done;
    }
    buffers.erase(buffers.begin(), buffers.begin() + static_cast<std::ptrdiff_t>(done));
    if (!buffers.empty()) {
        buffers.front() += n;
    }
}

bool wouldBlock(const error_code& ec) {
    return ec == net::error::would_block || ec == net::error::try_again ||
           ec == net::error::interrupted;
}

class Session;

// What the connections share: the configuration, the limits, the I/O context and the workers.
struct Server {
    Server(TransportConfig c, TransportHooks h)
        : config(std::move(c)), hooks(std::move(h)), perAddress(config.maxConnectionsPerAddress),
          budget(config.maxBodyBytesInFlight),
          threadCount(config.networkThreads != 0
                          ? config.networkThreads
                          : std::clamp<std::size_t>(std::thread::hardware_concurrency(), 1, 4)),
          ioc(static_cast<int>(threadCount)), acceptStrand(net::make_strand(ioc)),
          acceptor(acceptStrand), acceptPause(acceptStrand),
          workers(std::max<std::size_t>(config.workerThreads, 1)) {}

    void doAccept();
    void onAccept(const error_code& ec, tcp::socket socket);
    void serve(tcp::socket socket);
    HttpAnswer answer(const HttpRequest& request);
    void log(const std::string& address, const std::string& method, const std::string& path,
             int status, std::size_t bytes) {
        if (hooks.answered) {
            hooks.answered(address, method, path, status, bytes);
        }
    }
    void stopServing();

    TransportConfig config;
    TransportHooks hooks;
    // State the sessions use; declared before the I/O context so that it outlives the
    // sessions the context still holds when it goes.
    AddressLimit perAddress;
    BodyBudget budget;
    std::atomic<std::size_t> connections{0};
    std::atomic<std::size_t> refusing{0};
    std::atomic<bool> stopping{false};
    std::mutex sessionsMutex;
    std::list<std::weak_ptr<Session>> sessions;
    Clock::time_point lastAcceptError{};

    std::size_t threadCount;
    net::io_context ioc;
    // The acceptor's own strand: accepting and closing it never run at the same time.
    net::strand<net::io_context::executor_type> acceptStrand;
    tcp::acceptor acceptor;
    net::steady_timer acceptPause;
    net::thread_pool workers;

    // Life of run(): started, accepting, finished.
    std::mutex stateMutex;
    std::condition_variable stateChanged;
    bool runStarted = false;
    bool accepting = false;
    bool finished = false;
    bool stopRequested = false;
    bool bound = false;
};

// One accepted connection, from its first byte to its close. Everything it does runs on its
// strand.
class Session : public std::enable_shared_from_this<Session> {
  public:
    Session(Server& server, tcp::socket socket, std::string address, AddressLimit::Slot slot,
            bool refusing)
        : server_(server), socket_(std::move(socket)), timer_(socket_.get_executor()),
          address_(std::move(address)), slot_(std::move(slot)), refusing_(refusing),
          buffer_(server.config.maxHeaderBytes + 65536) {
        ++(refusing_ ? server_.refusing : server_.connections);
    }
    ~Session() {
        if (listed_) {
            std::lock_guard lock(server_.sessionsMutex);
            server_.sessions.erase(place_);
        }
        --(refusing_ ? server_.refusing : server_.connections);
    }
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // Its place in the server's list of open connections.
    void setPlace(std::list<std::weak_ptr<Session>>::iterator place) {
        place_ = place;
        listed_ = true;
    }
    // Runs `function` on the connection's strand.
    template <class Function> void post(Function function) {
        net::post(socket_.get_executor(), std::move(function));
    }

    void start();
    void refuse(const HttpAnswer& answer);
    void onStop();

  private:
    enum class Phase {
        Idle,
        Header,
        Body,
        Handling,
        Writing,
        Waiting,
        Streaming,
        Draining,
        Closed
    };

    const TransportConfig& config() const { return server_.config; }
    Clock::time_point expiry() const;
    void arm();
    void onTimer();
    void readMore();
    void onRead(const error_code& ec, std::size_t n);
    bool parse();
    bool checkHeader();
    void refuseRequest(int status, const std::string& reason);
    void dispatch();
    void logHandled(const HttpRequest& request, const HttpAnswer& answer);
    void deliver(HttpAnswer answer);
    void send(HttpAnswer answer);
    void write();
    void written();
    void nextRequest();
    void finish();
    void startWaiting(std::shared_ptr<PendingAnswer> pending);
    void pollPending(bool last);
    void startStream(HttpAnswer answer);
    void streamNext();
    void endStream();
    void onWake();
    Wake wakeFunction();
    void close();
    void logAnswer(int status, std::size_t bytes) {
        server_.log(address_, method_.empty() ? "-" : method_, path_.empty() ? "-" : path_, status,
                    bytes);
    }

    Server& server_;
    tcp::socket socket_;
    net::steady_timer timer_;
    std::string address_;
    AddressLimit::Slot slot_;
    bool refusing_;
    std::list<std::weak_ptr<Session>>::iterator place_;
    bool listed_ = false;

    Phase phase_ = Phase::Idle;
    Clock::time_point phaseEnd_ = kNever; // the current phase's hard limit
    std::chrono::milliseconds idle_{0};   // most silence in the current phase
    Clock::time_point lastProgress_{};
    Clock::time_point armedAt_ = kNever;
    Clock::time_point recheckAt_ = kNever;
    Clock::time_point requestStart_{};
    bool reading_ = false; // a read into buffer_ is under way
    bool closed_ = false;

    // The request being read.
    beast::flat_buffer buffer_;
    std::optional<RequestParser> parser_;
    bool headerChecked_ = false;
    std::size_t requests_ = 0;
    std::string method_;
    std::string path_;
    bool headOnly_ = false;
    bool keepAlive_ = false;
    bool http10_ = false;

    // The answer being written.
    HttpAnswer answer_;
    std::string head_;
    std::vector<AnswerStream::Piece> pieces_;
    std::vector<net::const_buffer> out_;
    bool writing_ = false;
    bool closeAfter_ = false;
    bool drainAfter_ = false;
    std::size_t drainLimit_ = 0;
    std::size_t drained_ = 0;

    // A held request, a live stream.
    std::shared_ptr<PendingAnswer> pending_;
    std::shared_ptr<AnswerStream> stream_;
    bool streamStarted_ = false;
    bool streamEnding_ = false;
    std::size_t streamed_ = 0;
};

void Session::start() {
    if (closed_) {
        return; // stopped before it started
    }
    error_code ec;
    socket_.non_blocking(true, ec);
    socket_.set_option(tcp::no_delay(true), ec);
    if (ec) {
        close();
        return;
    }
    if (server_.stopping) {
        close();
        return;
    }
    requestStart_ = Clock::now();
    parser_.emplace(config(), server_.budget);
    // The first request's header must arrive within the header time from the connection's
    // start, however early its first byte.
    phase_ = Phase::Idle;
    phaseEnd_ = requestStart_ + std::chrono::seconds(std::min(config().headerTimeoutSeconds,
                                                              config().connectionTimeLimitSeconds));
    readMore();
    arm();
}

void Session::refuse(const HttpAnswer& answer) {
    error_code ec;
    socket_.non_blocking(true, ec);
    method_.clear();
    path_.clear();
    logAnswer(answer.status, answer.content().size());
    closeAfter_ = true;
    drainAfter_ = true;
    drainLimit_ = kDrainAfterAnswer;
    HttpAnswer refusal = answer;
    refusal.headers.emplace_back("Retry-After", "1");
    send(std::move(refusal));
}

void Session::onStop() {
    switch (phase_) {
    case Phase::Idle:
    case Phase::Header:
    case Phase::Body:
    case Phase::Draining:
        close();
        break;
    case Phase::Waiting:
        pollPending(true);
        break;
    case Phase::Streaming:
        if (writing_ || !streamStarted_) {
            streamEnding_ = true;
        } else {
            endStream();
        }
        break;
    case Phase::Handling:
    case Phase::Writing:
        keepAlive_ = false;
        break;
    case Phase::Closed:
        break;
    }
}

Clock::time_point Session::expiry() const {
    switch (phase_) {
    case Phase::Idle:
    case Phase::Header:
        return phaseEnd_;
    case Phase::Body:
    case Phase::Writing:
    case Phase::Draining:
        return std::min(phaseEnd_, lastProgress_ + idle_);
    case Phase::Waiting:
        return recheckAt_;
    case Phase::Streaming:
        return writing_ ? lastProgress_ + idle_ : kNever;
    case Phase::Handling:
    case Phase::Closed:
        break;
    }
    return kNever;
}

// Makes sure the timer fires no later than the current phase's expiry. A timer set for later
// is moved; one set for earlier is left, and looks again when it fires.
void Session::arm() {
    const Clock::time_point at = expiry();
    if (closed_ || at >= armedAt_) {
        return;
    }
    armedAt_ = at;
    timer_.expires_at(at);
    timer_.async_wait([self = shared_from_this()](const error_code& ec) {
        if (ec == net::error::operation_aborted) {
            return;
        }
        self->armedAt_ = kNever;
        self->onTimer();
    });
}

void Session::onTimer() {
    if (closed_) {
        return;
    }
    if (Clock::now() < expiry()) {
        arm();
        return;
    }
    if (phase_ == Phase::Waiting) {
        pollPending(false);
    } else {
        // Silent too long, or past the time for the request or its answer.
        close();
    }
}

// Reads what the client sends next into the buffer. Asio's own reads are used (not a wait for
// readiness followed by a read): they cannot miss the moment bytes arrive.
void Session::readMore() {
    if (reading_ || closed_) {
        return;
    }
    std::size_t want = 4096;
    if (phase_ == Phase::Idle) {
        want = 1024; // most requests fit; an idle connection keeps little
    } else if (phase_ == Phase::Body) {
        want = 65536;
    }
    want = std::min(want, buffer_.max_size() - buffer_.size());
    if (want == 0) {
        refuseRequest(431, "request header larger than " + std::to_string(config().maxHeaderBytes) +
                               " bytes");
        return;
    }
    reading_ = true;
    socket_.async_read_some(buffer_.prepare(want),
                            [self = shared_from_this()](const error_code& ec, std::size_t n) {
                                self->reading_ = false;
                                self->onRead(ec, n);
                            });
}

void Session::onRead(const error_code& ec, std::size_t n) {
    if (closed_) {
        return;
    }
    if (!ec) {
        buffer_.commit(n);
        lastProgress_ = Clock::now();
    }
    switch (phase_) {
    case Phase::Idle:
    case Phase::Header:
    case Phase::Body:
        if (ec) {
            // The client closed or reset the connection: a request cut short gets no answer.
            close();
            return;
        }
        if (phase_ == Phase::Idle) {
            phase_ = Phase::Header;
            if (requests_ > 0) {
                requestStart_ = lastProgress_;
                phaseEnd_ = requestStart_ +
                            std::chrono::seconds(std::min(config().headerTimeoutSeconds,
                                                          config().connectionTimeLimitSeconds));
            }
        }
        if (parse()) {
            readMore();
            arm();
        }
        return;
    case Phase::Waiting:
    case Phase::Streaming:
        // Nothing is expected while a request is held or a stream runs: the bytes are thrown
        // away, and the end of the connection ends the wait or the stream.
        if (ec || buffer_.size() > 65536) {
            close();
            return;
        }
        buffer_.consume(buffer_.size());
        readMore();
        return;
    case Phase::Draining:
        drained_ += ec ? 0 : n;
        buffer_.consume(buffer_.size());
        if (ec || drained_ >= drainLimit_) {
            close(); // the client has closed its side too, or sent enough
            return;
        }
        readMore();
        arm();
        return;
    case Phase::Handling:
    case Phase::Writing:
    case Phase::Closed:
        // A read from the wait before the answer: its bytes go with the connection's end.
        return;
    }
}

// Feeds the buffered bytes to the parser. True when it needs more.
bool Session::parse() {
    if (!parser_->got_some()) {
        // Empty lines before a request line are not a request (some clients end a body with
        // one).
        const auto bytes = buffer_.data();
        const char* at = static_cast<const char*>(bytes.data());
        std::size_t blank = 0;
        while (blank < bytes.size() && (at[blank] == '\r' || at[blank] == '\n')) {
            ++blank;
        }
        buffer_.consume(blank);
    }
    for (;;) {
        if (buffer_.size() == 0 && !(parser_->is_header_done() && !headerChecked_) &&
            !parser_->is_done()) {
            return true;
        }
        error_code ec;
        const std::size_t used = buffer_.size() == 0 ? 0 : parser_->put(buffer_.data(), ec);
        buffer_.consume(used);
        if (ec == http::error::need_more) {
            return true;
        }
        if (ec) {
            const Refusal& refused = parser_->refusal;
            if (refused.status != 0) {
                refuseRequest(refused.status, refused.reason);
            } else if (ec == http::error::header_limit) {
                refuseRequest(431, "request header larger than " +
                                       std::to_string(config().maxHeaderBytes) + " bytes");
            } else if (ec == http::error::bad_content_length) {
                refuseRequest(400, "malformed Content-Length");
            } else if (ec == http::error::bad_version) {
                refuseRequest(505, "HTTP version not supported");
            } else {
                refuseRequest(400, "malformed request");
            }
            return false;
        }
        if (parser_->is_header_done() && !headerChecked_) {
            headerChecked_ = true;
            if (!checkHeader()) {
                return false;
            }
        }
        if (parser_->is_done()) {
            dispatch();
            return false;
        }
        if (used == 0) {
            return true;
        }
    }
}

// Looks at a request whose header has arrived, before its body is read.
bool Session::checkHeader() {
    RequestParser& p = *parser_;
    method_ = p.method;
    path_ = percentDecode(std::string_view(p.target).substr(0, p.target.find('?')), false);
    http10_ = p.version == 10;
    const bool bodyMethod =
        p.method == "POST" || p.method == "PUT" || p.method == "PATCH" || p.method == "DELETE";
    bool hasTransferCoding = false;
    bool hasLength = false;
    bool expectsContinue = false;
    for (const auto& [name, value] : p.headers) {
        hasTransferCoding = hasTransferCoding || beast::iequals(name, "Transfer-Encoding");
        hasLength = hasLength || beast::iequals(name, "Content-Length");
        expectsContinue = expectsContinue ||
                          (beast::iequals(name, "Expect") && beast::iequals(value, "100-continue"));
    }
    // A body without a length would have to be read before its size is known; the station
    // always announces its length.
    if (hasTransferCoding || p.chunked() || (bodyMethod && !hasLength)) {
        refuseRequest(411, "request body without a Content-Length");
        return false;
    }
    const std::uint64_t length = p.content_length().value_or(0);
    if (length > config().maxRequestBytes) {
        refuseRequest(413, "request body larger than " + std::to_string(config().maxRequestBytes) +
                               " bytes");
        return false;
    }
    if (expectsContinue && length > buffer_.size() && !http10_) {
        static const char kContinue[] = "HTTP/1.1 100 Continue\r\n\r\n";
        error_code ec;
        // A fresh answer fits the socket's buffer; a client that cannot take it is no loss.
        socket_.write_some(net::buffer(kContinue, sizeof kContinue - 1), ec);
    }
    p.eager(true);
    phase_ = Phase::Body;
    idle_ = std::chrono::seconds(config().readTimeoutSeconds);
    phaseEnd_ = requestStart_ + std::chrono::seconds(config().connectionTimeLimitSeconds);
    arm();
    return true;
}

void Session::refuseRequest(int status, const std::string& reason) {
    if (parser_ && !parser_->method.empty()) {
        method_ = parser_->method;
        if (path_.empty()) {
            path_ = percentDecode(
                std::string_view(parser_->target).substr(0, parser_->target.find('?')), false);
        }
    }
    HttpAnswer answer = server_.hooks.refuse ? server_.hooks.refuse(path_, status, reason)
                                             : textAnswer(status, reason);
    logAnswer(answer.status, answer.content().size());
    closeAfter_ = true;
    // Whatever the client still sends is read and thrown away, up to twice the largest request:
    // enough for a client that overshot the limit to finish sending and read the refusal.
    drainAfter_ = true;
    drainLimit_ = 2 * config().maxRequestBytes;
    parser_.reset();
    send(std::move(answer));
}

void Session::dispatch() {
    phase_ = Phase::Handling;
    RequestParser& p = *parser_;
    ++requests_;
    keepAlive_ =
        p.keep_alive() && requests_ < config().maxRequestsPerConnection && !server_.stopping;
    headOnly_ = p.method == "HEAD";
    BodyCharge charge = p.takeCharge();
    auto request = std::make_shared<HttpRequest>(makeRequest(
        std::move(p.method), p.target, std::move(p.body), std::move(p.headers), address_));
    parser_.reset();
    headerChecked_ = false;

    if (server_.hooks.quick && server_.hooks.quick(*request)) {
        HttpAnswer answer = server_.answer(*request);
        logHandled(*request, answer);
        deliver(std::move(answer));
        return;
    }
    // A handler that may block runs on a worker; the work guard keeps the network threads
    // running until its answer is back on this connection's strand.
    net::post(server_.workers, [self = shared_from_this(), request,
                                charge = std::make_shared<BodyCharge>(std::move(charge)),
                                work = net::make_work_guard(socket_.get_executor())]() mutable {
        auto answer = std::make_shared<HttpAnswer>(self->server_.answer(*request));
        self->logHandled(*request, *answer);
        request.reset();
        charge.reset();
        const auto executor = work.get_executor();
        net::post(executor, [self, answer, work = std::move(work)]() mutable {
            self->deliver(std::move(*answer));
            work.reset();
        });
    });
}

// Logs an answer that is complete as it is; held answers and streams are logged when they end.
void Session::logHandled(const HttpRequest& request, const HttpAnswer& answer) {
    if (!answer.pending && !answer.stream) {
        server_.log(address_, request.method, request.path, answer.status,
                    headOnly_ ? 0 : answer.content().size());
    }
}

void Session::deliver(HttpAnswer answer) {
    if (closed_) {
        return;
    }
    if (answer.pending) {
        startWaiting(std::move(answer.pending));
    } else if (answer.stream && !headOnly_) {
        startStream(std::move(answer));
    } else {
        if (answer.stream) {
            logAnswer(answer.status, 0);
            answer.stream.reset();
        }
        send(std::move(answer));
    }
}

void Session::send(HttpAnswer answer) {
    closeAfter_ = closeAfter_ || answer.closeConnection || !keepAlive_;
    answer_ = std::move(answer);
    head_ = answerHead(answer_, closeAfter_, http10_ && !closeAfter_, false);
    out_.clear();
    out_.push_back(net::buffer(head_));
    const std::string_view content = answer_.content();
    if (!headOnly_ && !content.empty() && answer_.status >= 200 && answer_.status != 304) {
        out_.push_back(net::buffer(content.data(), content.size()));
    }
    phase_ = Phase::Writing;
    idle_ = refusing_ ? kRefusalTime : std::chrono::seconds(config().writeTimeoutSeconds);
    lastProgress_ = Clock::now();
    phaseEnd_ =
        lastProgress_ +
        (refusing_ ? kRefusalTime : std::chrono::seconds(config().connectionTimeLimitSeconds));
    write();
}

void Session::write() {
    writing_ = true;
    while (!out_.empty()) {
        error_code ec;
        const std::size_t n = socket_.write_some(out_, ec);
        if (wouldBlock(ec)) {
            // The client reads slower than the answer goes: Asio's own write waits for room.
            socket_.async_write_some(
                out_, [self = shared_from_this()](const error_code& failed, std::size_t written) {
                    if (failed || self->closed_) {
                        self->close();
                        return;
                    }
                    consume(self->out_, written);
                    self->lastProgress_ = Clock::now();
                    self->write();
                });
            arm();
            return;
        }
        if (ec) {
            close();
            return;
        }
        consume(out_, n);
        lastProgress_ = Clock::now();
    }
    writing_ = false;
    written();
}

void Session::written() {
    if (phase_ == Phase::Streaming) {
        pieces_.clear();
        if (streamEnding_) {
            endStream();
        } else {
            streamNext();
        }
        return;
    }
    answer_ = HttpAnswer();
    head_.clear();
    if (closeAfter_ || server_.stopping) {
        finish();
        return;
    }
    nextRequest();
}

// Waits on a kept connection for the client's next request.
void Session::nextRequest() {
    phase_ = Phase::Idle;
    parser_.emplace(config(), server_.budget);
    headerChecked_ = false;
    method_.clear();
    path_.clear();
    headOnly_ = false;
    phaseEnd_ = Clock::now() + std::chrono::seconds(config().keepAliveSeconds);
    if (buffer_.size() > 0) {
        // The client sent its next request before reading this answer.
        phase_ = Phase::Header;
        requestStart_ = Clock::now();
        phaseEnd_ =
            requestStart_ + std::chrono::seconds(std::min(config().headerTimeoutSeconds,
                                                          config().connectionTimeLimitSeconds));
        if (parse()) {
            readMore();
            arm();
        }
        return;
    }
    if (buffer_.capacity() > 8192) {
        buffer_.shrink_to_fit();
    }
    readMore();
    arm();
}

// Ends the connection after its last answer. A client may still be sending (a request refused
// unread, or a further one): closing with its bytes unread would make the system answer with a
// reset, which can make the client drop the answer it has not read yet. So the answer is ended
// first, then what the client still sends is read and thrown away.
void Session::finish() {
    error_code ec;
    const std::size_t unread = socket_.available(ec);
    if (!drainAfter_ && buffer_.size() == 0 && unread == 0) {
        close();
        return;
    }
    if (!drainAfter_) {
        drainLimit_ = kDrainAfterAnswer;
    }
    if (!reading_) {
        buffer_.consume(buffer_.size());
        buffer_.shrink_to_fit();
    }
    socket_.shutdown(tcp::socket::shutdown_send, ec);
    phase_ = Phase::Draining;
    drained_ = 0;
    lastProgress_ = Clock::now();
    idle_ = refusing_ ? kRefusalTime : std::chrono::seconds(config().readTimeoutSeconds);
    phaseEnd_ =
        lastProgress_ +
        (refusing_ ? kRefusalTime : std::chrono::seconds(config().connectionTimeLimitSeconds));
    readMore();
    arm();
}

void Session::startWaiting(std::shared_ptr<PendingAnswer> pending) {
    // A held request does not count against its address's connections: a station's helper
    // keeps two of them open all the time.
    slot_.release();
    pending_ = std::move(pending);
    closeAfter_ = true;
    phase_ = Phase::Waiting;
    pending_->start(wakeFunction());
    readMore();
    pollPending(false);
}

void Session::pollPending(bool last) {
    if (!pending_ || closed_) {
        return;
    }
    const Clock::time_point deadline = pending_->deadline();
    last = last || server_.stopping || Clock::now() >= deadline;
    Clock::time_point recheck = deadline;
    std::optional<HttpAnswer> ready = pending_->poll(last, recheck);
    if (!ready) {
        recheckAt_ = std::min(recheck, deadline);
        arm();
        return;
    }
    pending_.reset();
    logAnswer(ready->status, headOnly_ ? 0 : ready->content().size());
    send(std::move(*ready));
}

void Session::startStream(HttpAnswer answer) {
    stream_ = std::move(answer.stream);
    closeAfter_ = true;
    answer_ = std::move(answer);
    head_ = answerHead(answer_, true, false, true);
    out_.clear();
    out_.push_back(net::buffer(head_));
    phase_ = Phase::Streaming;
    idle_ = std::chrono::seconds(config().writeTimeoutSeconds);
    lastProgress_ = Clock::now();
    probeWhileIdle(socket_);
    write();
}

void Session::streamNext() {
    if (!streamStarted_) {
        streamStarted_ = true;
        stream_->start(wakeFunction());
        readMore();
    }
    if (server_.stopping) {
        endStream();
        return;
    }
    bool ended = false;
    pieces_ = stream_->next(ended);
    streamEnding_ = streamEnding_ || ended;
    if (pieces_.empty()) {
        if (streamEnding_) {
            endStream();
        }
        return; // until the next wake
    }
    out_.clear();
    for (const AnswerStream::Piece& piece : pieces_) {
        out_.push_back(net::buffer(piece->data(), piece->size()));
        streamed_ += piece->size();
    }
    lastProgress_ = Clock::now();
    write();
}

void Session::endStream() {
    if (!stream_) {
        return;
    }
    stream_.reset();
    logAnswer(answer_.status, streamed_);
    finish();
}

void Session::onWake() {
    if (closed_) {
        return;
    }
    if (phase_ == Phase::Waiting) {
        pollPending(false);
    } else if (phase_ == Phase::Streaming && streamStarted_ && !writing_) {
        streamNext();
    }
}

Wake Session::wakeFunction() {
    return [weak = weak_from_this(), executor = socket_.get_executor()] {
        net::post(executor, [weak] {
            if (auto self = weak.lock()) {
                self->onWake();
            }
        });
    };
}

void Session::close() {
    if (closed_) {
        return;
    }
    closed_ = true;
    phase_ = Phase::Closed;
    if (stream_) {
        logAnswer(answer_.status, streamed_); // the viewer left its stream
    }
    // The address's place is free before the client can see the connection end, so that its
    // next connection is counted afresh. A connection still draining keeps its place.
    slot_.release();
    error_code ec;
    socket_.shutdown(tcp::socket::shutdown_both, ec);
    socket_.close(ec);
    timer_.cancel();
    pending_.reset();
    stream_.reset();
    parser_.reset();
    out_.clear();
    pieces_.clear();
}

void Server::doAccept() {
    acceptor.async_accept(net::make_strand(ioc), [this](const error_code& ec, tcp::socket socket) {
        onAccept(ec, std::move(socket));
    });
}

void Server::onAccept(const error_code& ec, tcp::socket socket) {
    if (ec == net::error::operation_aborted || stopping || !acceptor.is_open()) {
        return;
    }
    if (ec) {
        // Out of file descriptors or memory: the connection stays queued; try again shortly
        // rather than spin.
        const Clock::time_point now = Clock::now();
        if (now - lastAcceptError > std::chrono::seconds(10)) {
            lastAcceptError = now;
            std::cerr << "reflector: cannot accept a connection: " << ec.message() << std::endl;
        }
        acceptPause.expires_after(std::chrono::milliseconds(100));
        acceptPause.async_wait([this](const error_code& waited) {
            if (!waited && !stopping) {
                doAccept();
            }
        });
        return;
    }
    doAccept();
    serve(std::move(socket));
}

void Server::serve(tcp::socket socket) {
    error_code ec;
    const tcp::endpoint peer = socket.remote_endpoint(ec);
    if (ec) {
        return; // gone already
    }
    net::ip::address peerAddress = peer.address();
    if (peerAddress.is_v6() && peerAddress.to_v6().is_v4_mapped()) {
        peerAddress = net::ip::make_address_v4(net::ip::v4_mapped, peerAddress.to_v6());
    }
    std::string address = peerAddress.to_string();

    const auto refuseWith = [&](const HttpAnswer& answer) {
        if (refusing >= kMostRefusing) {
            log(address, "-", "-", 503, 0);
            return; // the socket closes unanswered
        }
        auto session = std::make_shared<Session>(*this, std::move(socket), std::move(address),
                                                 AddressLimit::Slot(), true);
        // Everything a connection does runs on its strand, from the start.
        session->post([session, answer] { session->refuse(answer); });
    };
    if (connections >= config.maxConnections) {
        refuseWith(hooks.full);
        return;
    }
    AddressLimit::Slot slot = perAddress.enter(address);
    if (!slot) {
        refuseWith(hooks.busy);
        return;
    }
    auto session = std::make_shared<Session>(*this, std::move(socket), std::move(address),
                                             std::move(slot), false);
    {
        std::lock_guard lock(sessionsMutex);
        sessions.push_front(session);
        session->setPlace(sessions.begin());
    }
    session->post([session] { session->start(); });
}

HttpAnswer Server::answer(const HttpRequest& request) {
    try {
        return hooks.handle(request);
    } catch (const std::exception& e) {
        std::cerr << "reflector: request failed: " << e.what() << std::endl;
    } catch (...) {
        std::cerr << "reflector: request failed" << std::endl;
    }
    return hooks.refuse ? hooks.refuse(request.path, 500, "internal error")
                        : textAnswer(500, "internal error");
}

void Server::stopServing() {
    stopping = true;
    net::post(acceptStrand, [this] {
        error_code ec;
        acceptor.close(ec);
        acceptPause.cancel();
    });
    std::vector<std::shared_ptr<Session>> open;
    {
        std::lock_guard lock(sessionsMutex);
        for (const auto& weak : sessions) {
            if (auto session = weak.lock()) {
                open.push_back(std::move(session));
            }
        }
    }
    for (const auto& session : open) {
        session->post([session] { session->onStop(); });
    }
}

} // namespace

struct Transport::Impl : Server {
    using Server::Server;
};

Transport::Transport(TransportConfig config, TransportHooks hooks)
    : impl_(std::make_unique<Impl>(std::move(config), std::move(hooks))) {}

Transport::~Transport() {
    stop();
    // run() on another thread still uses the server and this state until it returns.
    Impl& d = *impl_;
    {
        std::unique_lock lock(d.stateMutex);
        d.stateChanged.wait(lock, [&d] { return !d.runStarted || d.finished; });
    }
    d.workers.join();
}

int Transport::bind(const std::string& host, int port) {
    Impl& d = *impl_;
    error_code ec;
    const net::ip::address address =
        net::ip::make_address(host == "localhost" ? "127.0.0.1" : host, ec);
    tcp::endpoint endpoint;
    if (!ec) {
        endpoint = tcp::endpoint(address, static_cast<unsigned short>(port));
    } else {
        tcp::resolver resolver(d.ioc);
        const auto results = resolver.resolve(host, std::to_string(port), ec);
        if (ec || results.empty()) {
            errno = EADDRNOTAVAIL;
            return -1;
        }
        endpoint = results.begin()->endpoint();
    }
    d.acceptor.open(endpoint.protocol(), ec);
    if (!ec) {
        // SO_REUSEADDR only: SO_REUSEPORT would let a second relay bind the same port and
        // silently share the connections.
        d.acceptor.set_option(tcp::acceptor::reuse_address(true), ec);
    }
    if (!ec) {
        d.acceptor.bind(endpoint, ec);
    }
    if (!ec) {
        // The system's longest queue: the kernel trims a larger number to its own limit.
        d.acceptor.listen(65535, ec);
    }
    if (ec) {
        errno = ec.value();
        error_code ignored;
        d.acceptor.close(ignored);
        return -1;
    }
    const int bound = d.acceptor.local_endpoint(ec).port();
    std::lock_guard lock(d.stateMutex);
    d.bound = !ec && bound > 0;
    return d.bound ? bound : -1;
}

bool Transport::run() {
    Impl& d = *impl_;
    {
        std::lock_guard lock(d.stateMutex);
        if (d.runStarted) {
            return false; // already serving on another thread
        }
        if (d.stopRequested || !d.bound) {
            d.finished = true;
            d.stateChanged.notify_all();
            return d.stopRequested;
        }
        d.runStarted = true;
        d.doAccept();
        d.accepting = true;
    }
    d.stateChanged.notify_all();
    bool ok = true;
    const auto serveThread = [&d, &ok] {
        for (;;) {
            try {
                d.ioc.run();
                return;
            } catch (const std::exception& e) {
                // A handler's failure ends that connection only.
                std::cerr << "reflector: network thread: " << e.what() << std::endl;
            }
        }
    };
    std::vector<std::thread> threads;
    for (std::size_t i = 1; i < d.threadCount; ++i) {
        threads.emplace_back(serveThread);
    }
    serveThread();
    for (std::thread& t : threads) {
        t.join();
    }
    d.workers.join();
    // Notified with the lock held: the destructor may free `d` as soon as the lock is released,
    // so nothing here may touch it after that.
    std::lock_guard lock(d.stateMutex);
    d.finished = true;
    d.stateChanged.notify_all();
    return ok;
}

void Transport::waitUntilReady() {
    Impl& d = *impl_;
    std::unique_lock lock(d.stateMutex);
    d.stateChanged.wait(lock, [&d] { return d.accepting || d.finished; });
}

void Transport::stop() {
    Impl& d = *impl_;
    {
        std::lock_guard lock(d.stateMutex);
        if (d.stopRequested) {
            return;
        }
        d.stopRequested = true;
        if (!d.runStarted || d.finished) {
            return;
        }
    }
    d.stopServing();
}

std::size_t Transport::connections() const {
    return impl_->connections;
}

namespace {

// One GET to another server, bounded in time as a whole.
class Fetch : public std::enable_shared_from_this<Fetch> {
  public:
    Fetch(net::io_context& ioc, std::string host, int port, std::string target,
          std::chrono::milliseconds limit, FetchDone done)
        : resolver_(net::make_strand(ioc)), stream_(resolver_.get_executor()),
          timer_(resolver_.get_executor()), host_(std::move(host)), port_(port), limit_(limit),
          done_(std::move(done)) {
        request_.method(http::verb::get);
        request_.target(target);
        request_.version(11);
        request_.set(http::field::host, host_ + ":" + std::to_string(port_));
        request_.set(http::field::connection, "close");
        parser_.body_limit(64 * 1024);
    }

    void start() {
        net::dispatch(resolver_.get_executor(), [self = shared_from_this()] {
            self->timer_.expires_after(self->limit_);
            self->timer_.async_wait([self](const error_code& ec) {
                if (!ec) {
                    self->fail();
                }
            });
            self->resolver_.async_resolve(
                self->host_, std::to_string(self->port_),
                [self](const error_code& ec, const tcp::resolver::results_type& results) {
                    if (ec) {
                        self->fail();
                        return;
                    }
                    self->stream_.async_connect(
                        results, [self](const error_code& connected, const tcp::endpoint&) {
                            if (connected) {
                                self->fail();
                                return;
                            }
                            http::async_write(self->stream_, self->request_,
                                              [self](const error_code& written, std::size_t) {
                                                  if (written) {
                                                      self->fail();
                                                      return;
                                                  }
                                                  self->read();
                                              });
                        });
                });
        });
    }

  private:
    void read() {
        http::async_read(stream_, buffer_, parser_,
                         [self = shared_from_this()](const error_code& ec, std::size_t) {
                             if (ec) {
                                 self->fail();
                                 return;
                             }
                             auto& answer = self->parser_.get();
                             self->end(static_cast<int>(answer.result_int()),
                                       std::move(answer.body()));
                         });
    }
    void fail() { end(0, {}); }
    void end(int status, std::string body) {
        if (ended_) {
            return;
        }
        ended_ = true;
        timer_.cancel();
        resolver_.cancel();
        error_code ec;
        stream_.socket().close(ec);
        FetchDone done = std::move(done_);
        done(status, std::move(body));
    }

    tcp::resolver resolver_;
    beast::tcp_stream stream_;
    net::steady_timer timer_;
    std::string host_;
    int port_;
    std::chrono::milliseconds limit_;
    FetchDone done_;
    http::request<http::empty_body> request_;
    beast::flat_buffer buffer_;
    http::response_parser<http::string_body> parser_;
    bool ended_ = false;
};

} // namespace

Fetcher Transport::fetcher() {
    Impl* d = impl_.get();
    return [d](const std::string& host, int port, const std::string& target,
               std::chrono::milliseconds limit, FetchDone done) {
        if (d->stopping) {
            done(0, {});
            return;
        }
        std::make_shared<Fetch>(d->ioc, host, port, target, limit, std::move(done))->start();
    };
}

} // namespace reflector
