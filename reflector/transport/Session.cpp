#include "transport/Session.h"

#include "transport/AnswerWriter.h"

#include <algorithm>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

namespace reflector::transport {

namespace {

// Bytes of a client's further request thrown away after an answer that ends the connection.
constexpr std::size_t kDrainAfterAnswer = 64 * 1024;
// Room a kept connection keeps for the strings of its next request.
constexpr std::size_t kKeptRequestBytes = 4096;
// How long a connection turned away at once is given to write and to finish sending.
constexpr std::chrono::seconds kRefusalTime{1};

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

} // namespace

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
    parser_.emplace(config(), server_.budget, request_);
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
        const std::size_t used = buffer_.size() == 0 ? 0 : parser_->feed(buffer_.data(), ec);
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
    HttpRequest& r = request_;
    splitTarget(r.target, r.path, r.query);
    method_ = r.method;
    path_ = r.path;
    http10_ = p.version == 10;
    if (p.folded()) {
        refuseRequest(400, "a header line continues the line before it");
        return false;
    }
    // A request must name the host it is for once (HTTP/1.0 clients may leave it out): a
    // request with two, which a proxy in front may have read differently, is not guessed at.
    if (p.hosts > 1 || (p.hosts == 0 && !http10_)) {
        refuseRequest(400, p.hosts > 1 ? "more than one Host header line"
                                       : "an HTTP/1.1 request without a Host header line");
        return false;
    }
    const bool bodyMethod =
        r.method == "POST" || r.method == "PUT" || r.method == "PATCH" || r.method == "DELETE";
    bool hasTransferCoding = false;
    bool hasLength = false;
    bool expectsContinue = false;
    for (const auto& [name, value] : r.headers) {
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
    if (parser_ && !request_.method.empty()) {
        method_ = request_.method;
        if (path_.empty()) {
            path_ = percentDecode(
                std::string_view(request_.target).substr(0, request_.target.find('?')), false);
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
    headOnly_ = request_.method == "HEAD";
    BodyCharge charge = p.takeCharge();
    parser_.reset();
    headerChecked_ = false;

    if (server_.hooks.quick && server_.hooks.quick(request_)) {
        HttpAnswer answer = server_.answer(request_);
        logHandled(request_, answer);
        dropBody();
        deliver(std::move(answer));
        return;
    }
    // A handler that may block runs on a worker, with the request it was read into: nothing
    // else touches the request until its answer is back on this connection's strand. The work
    // guard keeps the network threads running until then.
    net::post(server_.workers,
              [self = shared_from_this(), charge = std::make_shared<BodyCharge>(std::move(charge)),
               work = net::make_work_guard(socket_.get_executor())]() mutable {
                  auto answer = std::make_shared<HttpAnswer>(self->server_.answer(self->request_));
                  self->logHandled(self->request_, *answer);
                  self->dropBody();
                  charge.reset();
                  const auto executor = work.get_executor();
                  net::post(executor, [self, answer, work = std::move(work)]() mutable {
                      self->deliver(std::move(*answer));
                      work.reset();
                  });
              });
}

// Lets the request's body go once it has been answered (its bytes are charged to the budget of
// bodies until then). A kept connection keeps no more room for its next request than a viewer's
// request takes.
void Session::dropBody() {
    if (request_.body.capacity() > kKeptRequestBytes) {
        std::string().swap(request_.body);
    } else {
        request_.body.clear();
    }
}

// Logs an answer that is complete as it is; held answers and streams are logged when they end.
void Session::logHandled(const HttpRequest& request, const HttpAnswer& answer) {
    if (!answer.pending && !answer.stream && !answer.unlogged) {
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
    answerHead(head_, answer_, closeAfter_, http10_ && !closeAfter_, false);
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
    std::size_t held = request_.target.capacity();
    for (const auto& [name, value] : request_.headers) {
        held += name.capacity() + value.capacity();
    }
    if (held > kKeptRequestBytes) {
        request_.target = std::string();
        request_.headers = Fields();
    }
    phase_ = Phase::Idle;
    parser_.emplace(config(), server_.budget, request_);
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
    answerHead(head_, answer_, true, false, true);
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

} // namespace reflector::transport
