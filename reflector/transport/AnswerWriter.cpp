#include "transport/AnswerWriter.h"

#include <ctime>

namespace reflector::transport {

namespace {

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

} // namespace

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

} // namespace reflector::transport
