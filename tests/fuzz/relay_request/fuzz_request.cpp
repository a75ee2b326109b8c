// libFuzzer entry for the relay's reading of a request: the bytes of a connection go through the
// transport's request parser in pieces, as a socket hands them over, under the relay's own
// limits; a request read whole becomes the handlers' HttpRequest, and everything the routes
// read out of it is read: the query string, the form and multipart bodies, the cookies, the
// entity tags, the origin, the station's option form and the helper's listing form. The same
// entry runs in the ordinary test suite over the seed corpus and generated inputs
// (../replay_test.cpp).
//
// Besides staying inside its input, the reading must keep these properties; a violation traps.
//  - A refused request says why with a status of 4xx or 5xx; a request read whole has a method,
//    at most the configured header lines and exactly the body its Content-Length announced.
//  - Decoding never makes text longer; a form's fields never hold more than its body.
//  - A multipart part's content and a cookie's value are pieces of what was sent.
#include "core/Http.h"
#include "routes/Forms.h"
#include "transport/RequestReader.h"

#include <boost/beast/core/string.hpp>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace {

using namespace reflector;

void Check(bool condition) {
    if (!condition)
        __builtin_trap();
}

TransportConfig SmallLimits() {
    TransportConfig config;
    // Small enough that inputs of a few kilobytes reach every limit.
    config.maxRequestLineBytes = 1024;
    config.maxHeaderLineBytes = 1024;
    config.maxHeaderLines = 32;
    config.maxHeaderBytes = 4096;
    return config;
}

// What the routes read out of a request.
void ReadAsTheRoutesDo(const HttpRequest& request) {
    Check(!request.method.empty());
    for (const auto& [name, value] : request.query)
        Check(name.size() + value.size() <= request.target.size());
    Check(request.path.size() <= request.target.size());

    const Fields form = parseForm(request.body);
    std::size_t formBytes = 0;
    for (const auto& [name, value] : form)
        formBytes += name.size() + value.size();
    Check(formBytes <= request.body.size());
    Check(percentDecode(request.body, true).size() <= request.body.size());

    const std::string contentType = request.header("Content-Type");
    (void)hasMediaType(contentType, "multipart/form-data");
    (void)isForm(request);
    if (const auto parts = parseMultipart(contentType, request.body)) {
        for (const FormPart& part : *parts)
            Check(request.body.find(part.content) != std::string::npos);
    }

    std::string cookies;
    for (const auto& [name, value] : request.headers)
        if (boost::beast::iequals(name, "Cookie"))
            cookies += value;
    for (const char* name : {"session", "kestrova_session_cam", ""}) {
        const std::string value = cookieValue(request, name);
        Check(value.empty() || cookies.find(value) != std::string::npos);
    }
    (void)matchesTag(request.header("If-None-Match"), "\"0-1\"");
    (void)sameOrigin(request);
    (void)isLocalTarget(request.target);
    (void)readId(request.param("frame"));
    (void)cleanName(request.param("name"), 64);

    (void)parseSyncForm(request.body);
    (void)parseListingPost(form);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const TransportConfig config = SmallLimits();
    transport::BodyBudget budget(64 * 1024);
    std::string_view input(reinterpret_cast<const char*>(data), size);

    // Blank lines before a request line are skipped, as the transport does.
    while (!input.empty() && (input.front() == '\r' || input.front() == '\n'))
        input.remove_prefix(1);
    // The first byte of what is left sets the size of the pieces the socket hands over.
    const std::size_t piece = input.empty() ? 1 : 1 + static_cast<unsigned char>(input[0]) % 64;

    HttpRequest request;
    transport::RequestParser parser(config, budget, request);
    parser.eager(true);
    std::string buffered;
    std::size_t given = 0;
    transport::error_code ec;
    while (!parser.is_done()) {
        const std::size_t more = std::min(piece, input.size() - given);
        buffered.append(input.substr(given, more));
        given += more;
        if (buffered.empty())
            break;
        ec = {};
        const std::size_t used =
            parser.feed(boost::asio::buffer(buffered.data(), buffered.size()), ec);
        buffered.erase(0, used);
        if (ec == transport::http::error::need_more) {
            if (given == input.size())
                break;
            continue;
        }
        if (ec)
            break;
        if (used == 0 && given == input.size())
            break;
    }
    if (parser.refusal.status != 0)
        Check(parser.refusal.status >= 400 && parser.refusal.status < 600 &&
              !parser.refusal.reason.empty());
    // The transport refuses a folded header and a request naming its host twice (or, on
    // HTTP/1.1, not at all) before the routes see it.
    const bool hostOnce = parser.hosts == 1 || (parser.hosts == 0 && parser.version == 10);
    if (!ec && parser.is_done() && !parser.folded() && hostOnce) {
        Check(request.headers.size() <= config.maxHeaderLines);
        Check(request.body.size() == parser.content_length().value_or(0));
        splitTarget(request.target, request.path, request.query);
        request.clientAddress = "192.0.2.7";
        ReadAsTheRoutesDo(request);
    }
    return 0;
}
