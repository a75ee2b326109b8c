#pragma once

// The relay's own view of an HTTP exchange: a request in, an answer out. Route handlers see only
// these types, so they run the same under any HTTP server library and can be tested without a
// socket. The transport (transport/Transport.h) turns the bytes of a connection into an HttpRequest
// and an HttpAnswer back into bytes.

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace reflector {

using Fields = std::vector<std::pair<std::string, std::string>>;

struct HttpRequest {
    std::string method;        // "GET", "POST" ...
    std::string target;        // the request target as sent ("/webcams/live?id=cam&t=1")
    std::string path;          // the target's path, percent-decoded
    Fields query;              // the target's query parameters, decoded, in order
    Fields headers;            // as received; look them up with header()
    std::string body;          // the whole body, as received
    std::string clientAddress; // numeric address of the client ("192.0.2.7")

    // The first value of a header, its name compared without regard to case; empty when absent.
    std::string header(std::string_view name) const;
    bool hasHeader(std::string_view name) const;
    // The first value of a query parameter; empty when absent.
    std::string param(std::string_view name) const;
    bool hasParam(std::string_view name) const;
};

// A request as a transport or a test hands it to the handlers: `target` is split into the
// decoded path and query.
HttpRequest makeRequest(std::string method, const std::string& target, std::string body = {},
                        Fields headers = {}, std::string clientAddress = "127.0.0.1");

using SteadyClock = std::chrono::steady_clock;

// Tells the transport that an answer waiting for an event may have something new for it. Safe
// to call from any thread, any number of times, also after the connection has ended.
using Wake = std::function<void()>;

class PendingAnswer;
class AnswerStream;

struct HttpAnswer {
    int status = 200;
    std::string contentType; // empty: no body
    std::string body;
    Fields headers; // further headers (Content-Type and Content-Length are the transport's)
    // When set, the body in place of `body`: shared with other answers, never copied.
    std::shared_ptr<const std::string> sharedBody;
    // The connection ends after this answer, whatever the client asked for: the station takes
    // the close as the end of its exchange.
    bool closeConnection = false;
    // When set, the answer comes later, once an event happened (a long poll): the transport
    // holds the request and asks `pending` for the answer; the fields above are not used.
    std::shared_ptr<PendingAnswer> pending;
    // When set, the body follows the header piece by piece as it comes (a live stream),
    // without a length; the connection ends with the stream.
    std::shared_ptr<AnswerStream> stream;
    // Not written to the request log (the health checks a load balancer makes every few
    // seconds).
    bool unlogged = false;

    // The body to send.
    std::string_view content() const { return sharedBody ? std::string_view(*sharedBody) : body; }
};

// Answer bodies read for clients (archive frames from disk), in bytes, while they are on their
// way: each is charged from when it is read until its last answer is gone, so that clients
// that read slowly cannot make the relay hold without end what it read for them. Safe to use
// from several threads; the charges may outlive the budget.
class AnswerBudget {
  public:
    explicit AnswerBudget(std::size_t limit);
    // `bytes` as a shared body charged to the budget, or nullptr when it would pass the limit.
    std::shared_ptr<const std::string> charge(std::string bytes);

  private:
    struct Account;
    std::shared_ptr<Account> account_;
};

// An answer that waits for an event. The transport calls start() once, then poll() at once,
// after every wake, at the time poll() asks for and at the deadline.
class PendingAnswer {
  public:
    explicit PendingAnswer(SteadyClock::time_point deadline) : deadline_(deadline) {}
    virtual ~PendingAnswer() = default;
    PendingAnswer(const PendingAnswer&) = delete;
    PendingAnswer& operator=(const PendingAnswer&) = delete;

    SteadyClock::time_point deadline() const { return deadline_; }
    // From now on `wake` asks for another poll().
    virtual void start(Wake wake) = 0;
    // The answer once it is ready; with `last` (the deadline passed, or the server stops) the
    // answer in any case. Without an answer it may move `recheck` (the deadline when called)
    // earlier, to be asked again then. Runs on a network thread, so it never waits: what it
    // needs from a store that is not in memory it asks for, and the store's answer wakes it.
    virtual std::optional<HttpAnswer> poll(bool last, SteadyClock::time_point& recheck) = 0;

  private:
    SteadyClock::time_point deadline_;
};

// The body of a live stream. The transport writes the answer's header, calls start() once,
// then next() at once and again after every wake and whenever it has sent what next() gave.
class AnswerStream {
  public:
    using Piece = std::shared_ptr<const std::string>;
    AnswerStream() = default;
    virtual ~AnswerStream() = default;
    AnswerStream(const AnswerStream&) = delete;
    AnswerStream& operator=(const AnswerStream&) = delete;

    // From now on `wake` asks for another next().
    virtual void start(Wake wake) = 0;
    // The pieces to send now, in order (shared, never copied); none while nothing is new.
    // `ended` tells that nothing follows. Runs on a network thread, like poll() above.
    virtual std::vector<Piece> next(bool& ended) = 0;
};

// The answer for callers without a transport (tests, tools): a pending answer is waited for on
// this thread; any other answer is returned as it is.
HttpAnswer settle(HttpAnswer answer);

constexpr const char* kTextType = "text/plain; charset=utf-8";

// A text/plain answer.
HttpAnswer textAnswer(int status, std::string text);

// The short English name of an error status ("Bad request", "Not found" ...).
std::string statusText(int status);

// Text as it may appear in a log line: at most 200 bytes, every byte outside printable ASCII
// (and '%') escaped as %XX.
std::string loggable(std::string_view text);
// The same, appended to `line`.
void appendLoggable(std::string& line, std::string_view text);

// Percent-decoding as in URLs and forms: "%41" becomes "A"; a '%' not followed by two
// hexadecimal digits is kept as it is; '+' becomes a space when `plusIsSpace`.
std::string percentDecode(std::string_view text, bool plusIsSpace);

// Splits a request target into its decoded path and query parameters.
void splitTarget(std::string_view target, std::string& path, Fields& query);

// The fields of an application/x-www-form-urlencoded body ("a=1&b=x%20y"), decoded, in order.
// A field without '=' has an empty value; empty pieces ("a=1&&b=2") are skipped.
Fields parseForm(std::string_view body);

// True when a Content-Type header names the given media type ("type/subtype"), compared without
// regard to case, parameters such as "; charset=utf-8" allowed.
bool hasMediaType(std::string_view contentType, std::string_view mediaType);

// One part of a multipart/form-data body.
struct FormPart {
    std::string name;
    std::string fileName;    // empty when the part carries no file name
    std::string contentType; // the part's own Content-Type, empty when absent
    std::string content;
};

// The parts of a multipart/form-data body whose boundary the Content-Type header names; nullopt
// when the header names no boundary or the body is not made of such parts.
std::optional<std::vector<FormPart>> parseMultipart(std::string_view contentType,
                                                    std::string_view body);

// The value of a cookie in a Cookie header ("a=1; b=2"); empty when absent, and when the
// header names it more than once: a cookie planted beside a real one (by a page of a
// neighbouring site, say) neither hides it nor stands in for it.
std::string cookieValue(std::string_view cookieHeader, std::string_view name);
// The same over all of a request's Cookie header lines.
std::string cookieValue(const HttpRequest& request, std::string_view name);

// True when an If-None-Match header names `tag` (weakly compared, as for a GET) or is "*".
bool matchesTag(std::string_view ifNoneMatch, std::string_view tag);

// How a route is served.
struct RouteOptions {
    // The handler never waits on a disk, a database, the network or a long computation, so
    // the transport may run it on its network threads.
    bool quick = false;
    // Its answers end the connection (the station's exchanges).
    bool closes = false;
    // For a quick route: when set, only the requests it says yes to are quick (a frame the
    // store holds in memory); the others run on a worker thread. It must answer at once.
    std::function<bool(const HttpRequest&)> quickIf;
};

// Routes requests by method and path to their handlers.
class Router {
  public:
    using Handler = std::function<HttpAnswer(const HttpRequest&)>;

    // A handler for one exact path. HEAD requests are served by the GET handler.
    void add(const std::string& method, const std::string& path, Handler handler,
             RouteOptions options = {});
    // A handler for the paths made of `prefix` and one more segment without '/', for paths that
    // have no exact handler; prefixes are tried in the order they were added.
    void addPrefix(const std::string& method, const std::string& prefix, Handler handler,
                   RouteOptions options = {});

    // The answer of the matching handler; 404 "Not found" when there is none.
    HttpAnswer route(const HttpRequest& request) const;
    // True when the request's handler may run on a network thread (see RouteOptions); a
    // request without a handler is quick (its 404 needs nothing).
    bool quick(const HttpRequest& request) const;

  private:
    struct Route {
        Handler handler;
        RouteOptions options;
    };
    const Route* find(const HttpRequest& request) const;

    // By path, then by method: a request's lookup copies nothing.
    std::unordered_map<std::string, std::vector<std::pair<std::string, Route>>> exact_;
    std::vector<std::pair<std::pair<std::string, std::string>, Route>> prefixes_;
};

} // namespace reflector
