#pragma once

// Reading a request: Beast's parser fills the relay's own request fields under the transport's
// named limits, refusing a request as soon as it passes one (no more of it is kept), and the
// bodies being received are charged to one budget over all connections.

#include "core/Config.h"
#include "core/Http.h"
#include "transport/Beast.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

namespace reflector::transport {

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

// Reads one request into the relay's types, refusing it as soon as it passes a limit or is
// malformed. A connection's requests are read one after the other into the same HttpRequest, so
// that its strings keep their room from one request to the next.
class RequestParser : public http::basic_parser<true> {
  public:
    // Reads into the method, target, header lines and body of `request` (emptied first); its
    // other fields are left as they are.
    RequestParser(const TransportConfig& config, BodyBudget& budget, HttpRequest& request);
    ~RequestParser() override { budget_.release(charged_); }

    // Feeds what has arrived of the request, from its first byte on, to the parser (as put()),
    // looking first for a header line that continues the line before it (obsolete line
    // folding: it begins with a blank), which some servers read as a line of its own and others
    // do not. Beast joins such a line to the one before; the transport refuses the request once
    // its header has been read (see folded()).
    std::size_t feed(net::const_buffer bytes, error_code& ec);
    // True when a header line continues the line before it.
    bool folded() const { return folded_; }

    // The body's bytes, charged to the budget until the charge goes.
    BodyCharge takeCharge() {
        BodyCharge charge(&budget_, charged_);
        charged_ = 0;
        return charge;
    }

    int version = 11;
    // Host header lines.
    std::size_t hosts = 0;
    Refusal refusal;

  private:
    void refuse(error_code& ec, int status, std::string reason);
    // True when a header line among `bytes` (the request from its first byte) begins with a
    // blank; looks at each byte once, however the request arrives.
    bool findFolding(std::string_view bytes);

    void on_request_impl(http::verb, beast::string_view methodText, beast::string_view targetText,
                         int httpVersion, error_code& ec) override;
    void on_response_impl(int, beast::string_view, int, error_code& ec) override;
    void on_field_impl(http::field, beast::string_view name, beast::string_view value,
                       error_code& ec) override;
    void on_header_impl(error_code&) override;
    void on_body_init_impl(const boost::optional<std::uint64_t>& length, error_code&) override;
    std::size_t on_body_impl(beast::string_view data, error_code& ec) override;
    void on_chunk_header_impl(std::uint64_t, beast::string_view, error_code& ec) override;
    std::size_t on_chunk_body_impl(std::uint64_t, beast::string_view, error_code& ec) override;
    void on_finish_impl(error_code&) override {}

    const TransportConfig& config_;
    BodyBudget& budget_;
    HttpRequest& request_;
    std::size_t fields_ = 0; // header lines read
    std::size_t charged_ = 0;
    std::size_t consumed_ = 0; // bytes the parser took
    // The folding check, in bytes from the request's first one: the start of the first line
    // not yet looked at in full, where to look on for its end, and whether the empty line that
    // ends the header has been seen.
    std::size_t lineStart_ = 0;
    std::size_t searchFrom_ = 0;
    bool headerEnded_ = false;
    bool folded_ = false;
};

} // namespace reflector::transport
