#include "transport/AnswerWriter.h"

#include <charconv>
#include <cstring>
#include <ctime>

namespace reflector::transport {

namespace {

// The Date header's value, made once a second per thread.
std::string_view httpDate() {
    thread_local std::time_t made = 0;
    thread_local char text[40];
    thread_local std::size_t length = 0;
    const std::time_t now = std::time(nullptr);
    if (now != made || length == 0) {
        std::tm parts{};
        gmtime_r(&now, &parts);
        length = std::strftime(text, sizeof text, "%a, %d %b %Y %H:%M:%S GMT", &parts);
        made = now;
    }
    return {text, length};
}

bool isSafeHeaderText(std::string_view text) {
    return text.empty() || (std::memchr(text.data(), '\r', text.size()) == nullptr &&
                            std::memchr(text.data(), '\n', text.size()) == nullptr &&
                            std::memchr(text.data(), '\0', text.size()) == nullptr);
}

bool sameName(std::string_view a, std::string_view b) {
    return a.size() == b.size() && beast::iequals(a, b);
}

void appendNumber(std::string& head, std::size_t number) {
    char digits[24];
    const auto end = std::to_chars(digits, digits + sizeof digits, number).ptr;
    head.append(digits, static_cast<std::size_t>(end - digits));
}

} // namespace

void answerHead(std::string& head, const HttpAnswer& answer, bool close, bool keepAliveSaid,
                bool stream) {
    head.clear();
    head += "HTTP/1.1 ";
    appendNumber(head, static_cast<std::size_t>(answer.status));
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
        appendNumber(head, answer.content().size());
        head += "\r\n";
    }
    bool cacheControl = false;
    for (const auto& field : answer.headers) {
        cacheControl = cacheControl || sameName(field.first, "Cache-Control");
    }
    if (!cacheControl) {
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
            !sameName(name, "Content-Length") && !sameName(name, "Connection") &&
            !sameName(name, "Transfer-Encoding")) {
            head += name;
            head += ": ";
            head += value;
            head += "\r\n";
        }
    }
    head += "\r\n";
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
