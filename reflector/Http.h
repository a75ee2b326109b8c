#pragma once

// The relay's own view of an HTTP exchange: a request in, an answer out. Route handlers see only
// these types, so they run the same under any HTTP server library and can be tested without a
// socket. The transport (Transport.h) turns the bytes of a connection into an HttpRequest and an
// HttpAnswer back into bytes.

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
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
    // Called by a handler just before it holds the request to wait for an event (a long poll):
    // the transport then stops counting the connection against its client address's limit.
    // May be empty.
    std::function<void()> beforeWaiting;

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

struct HttpAnswer {
    int status = 200;
    std::string contentType; // empty: no body
    std::string body;
    Fields headers; // further headers (Content-Type and Content-Length are the transport's)
};

constexpr const char* kTextType = "text/plain; charset=utf-8";

// A text/plain answer.
HttpAnswer textAnswer(int status, std::string text);

// The short English name of an error status ("Bad request", "Not found" ...).
std::string statusText(int status);

// Text as it may appear in a log line: at most 200 bytes, every byte outside printable ASCII
// (and '%') escaped as %XX.
std::string loggable(std::string_view text);

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

// Routes requests by method and path to their handlers.
class Router {
  public:
    using Handler = std::function<HttpAnswer(const HttpRequest&)>;

    // A handler for one exact path. HEAD requests are served by the GET handler.
    void add(const std::string& method, const std::string& path, Handler handler);
    // A handler for the paths made of `prefix` and one more segment without '/', for paths that
    // have no exact handler; prefixes are tried in the order they were added.
    void addPrefix(const std::string& method, const std::string& prefix, Handler handler);

    // The answer of the matching handler; 404 "Not found" when there is none.
    HttpAnswer route(const HttpRequest& request) const;

  private:
    std::map<std::pair<std::string, std::string>, Handler> exact_;
    std::vector<std::pair<std::pair<std::string, std::string>, Handler>> prefixes_;
};

} // namespace reflector
