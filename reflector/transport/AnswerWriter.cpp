#include "transport/AnswerWriter.h"

#include <algorithm>
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

// Writes into a string's room, growing it only when the text does not fit: a connection's
// head string keeps its room from one answer to the next, and a piece costs a copy.
class HeadWriter {
  public:
    explicit HeadWriter(std::string& head) : head_(head) {
        head_.reserve(512); // most heads fit
        head_.resize(head_.capacity());
    }
    ~HeadWriter() { head_.resize(at_); }
    HeadWriter(const HeadWriter&) = delete;
    HeadWriter& operator=(const HeadWriter&) = delete;

    HeadWriter& operator<<(std::string_view text) {
        if (at_ + text.size() > head_.size()) {
            head_.resize(std::max(2 * head_.size(), at_ + text.size()));
        }
        std::memcpy(&head_[at_], text.data(), text.size());
        at_ += text.size();
        return *this;
    }
    HeadWriter& operator<<(std::size_t number) {
        char digits[24];
        const auto end = std::to_chars(digits, digits + sizeof digits, number).ptr;
        return *this << std::string_view(digits, static_cast<std::size_t>(end - digits));
    }

  private:
    std::string& head_;
    std::size_t at_ = 0;
};

} // namespace

void answerHead(std::string& head, const HttpAnswer& answer, bool close, bool keepAliveSaid,
                bool stream) {
    HeadWriter out(head);
    const auto reason = http::obsolete_reason(http::int_to_status(answer.status));
    out << "HTTP/1.1 " << static_cast<std::size_t>(answer.status) << " "
        << std::string_view(reason.data(), reason.size()) << "\r\nDate: " << httpDate() << "\r\n";
    if (!answer.contentType.empty() && isSafeHeaderText(answer.contentType)) {
        out << "Content-Type: " << answer.contentType << "\r\n";
    }
    const bool hasBody = answer.status >= 200 && answer.status != 304;
    if (!stream && hasBody) {
        out << "Content-Length: " << answer.content().size() << "\r\n";
    }
    bool cacheControl = false;
    for (const auto& field : answer.headers) {
        cacheControl = cacheControl || sameName(field.first, "Cache-Control");
    }
    if (!cacheControl) {
        out << "Cache-Control: no-store\r\n";
    }
    out << "X-Content-Type-Options: nosniff\r\n";
    if (close) {
        out << "Connection: close\r\n";
    } else if (keepAliveSaid) {
        out << "Connection: keep-alive\r\n";
    }
    for (const auto& [name, value] : answer.headers) {
        if (!name.empty() && isSafeHeaderText(name) && isSafeHeaderText(value) &&
            !sameName(name, "Content-Length") && !sameName(name, "Connection") &&
            !sameName(name, "Transfer-Encoding")) {
            out << name << ": " << value << "\r\n";
        }
    }
    out << "\r\n";
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
