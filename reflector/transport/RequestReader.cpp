#include "transport/RequestReader.h"

#include <algorithm>

namespace reflector::transport {

RequestParser::RequestParser(const TransportConfig& config, BodyBudget& budget,
                             HttpRequest& request)
    : config_(config), budget_(budget), request_(request) {
    request_.method.clear();
    request_.target.clear();
    request_.body.clear();
    header_limit(
        static_cast<std::uint32_t>(std::min<std::size_t>(config.maxHeaderBytes, UINT32_MAX)));
    // The announced length is checked by the transport itself, before the body is read.
    body_limit(boost::none);
}

std::size_t RequestParser::feed(net::const_buffer bytes, error_code& ec) {
    if (!headerEnded_ &&
        findFolding(std::string_view(static_cast<const char*>(bytes.data()), bytes.size()))) {
        folded_ = true;
        headerEnded_ = true; // one is enough
    }
    const std::size_t used = put(bytes, ec);
    consumed_ += used;
    return used;
}

bool RequestParser::findFolding(std::string_view bytes) {
    // Offsets count from the request's first byte; `bytes` starts after what the parser took.
    lineStart_ = std::max(lineStart_, consumed_);
    const std::size_t end = consumed_ + bytes.size();
    while (!headerEnded_ && lineStart_ < end) {
        const char first = bytes[lineStart_ - consumed_];
        if (lineStart_ > 0 && (first == ' ' || first == '\t')) {
            return true;
        }
        if (first == '\r' || first == '\n') {
            headerEnded_ = true; // the empty line: the body may begin with anything
            break;
        }
        const std::size_t from = std::max(searchFrom_, lineStart_);
        const std::size_t lineEnd = bytes.find('\n', from - consumed_);
        if (lineEnd == std::string_view::npos) {
            searchFrom_ = end;
            break;
        }
        lineStart_ = consumed_ + lineEnd + 1;
    }
    return false;
}

void RequestParser::refuse(error_code& ec, int status, std::string reason) {
    refusal = {status, std::move(reason)};
    ec = http::error::bad_value;
}

void RequestParser::on_request_impl(http::verb, beast::string_view methodText,
                                    beast::string_view targetText, int httpVersion,
                                    error_code& ec) {
    request_.method.assign(methodText.data(), methodText.size());
    request_.target.assign(targetText.data(), targetText.size());
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

void RequestParser::on_response_impl(int, beast::string_view, int, error_code& ec) {
    ec = http::error::bad_method;
}

void RequestParser::on_field_impl(http::field field, beast::string_view name,
                                  beast::string_view value, error_code& ec) {
    if (fields_ >= config_.maxHeaderLines) {
        refuse(ec, 431, "more than " + std::to_string(config_.maxHeaderLines) + " header lines");
        return;
    }
    if (name.size() + value.size() + 2 > config_.maxHeaderLineBytes) {
        refuse(ec, 431,
               "header line longer than " + std::to_string(config_.maxHeaderLineBytes) + " bytes");
        return;
    }
    hosts += field == http::field::host ? 1 : 0;
    // The strings of the connection's earlier requests are filled again before new ones are made.
    Fields& headers = request_.headers;
    if (fields_ < headers.size()) {
        headers[fields_].first.assign(name.data(), name.size());
        headers[fields_].second.assign(value.data(), value.size());
    } else {
        headers.emplace_back(std::string(name.data(), name.size()),
                             std::string(value.data(), value.size()));
    }
    ++fields_;
}

void RequestParser::on_header_impl(error_code&) {
    request_.headers.resize(fields_);
}

void RequestParser::on_body_init_impl(const boost::optional<std::uint64_t>& length, error_code&) {
    // Small bodies in one piece; large ones grow as they arrive, so that a client that
    // announces a large body holds no more memory than it has sent.
    if (length && *length <= 256 * 1024) {
        request_.body.reserve(static_cast<std::size_t>(*length));
    }
}

std::size_t RequestParser::on_body_impl(beast::string_view data, error_code& ec) {
    if (!budget_.charge(data.size())) {
        refuse(ec, 503, "the relay is receiving too many requests at once, try again shortly");
        return 0;
    }
    charged_ += data.size();
    request_.body.append(data.data(), data.size());
    return data.size();
}

void RequestParser::on_chunk_header_impl(std::uint64_t, beast::string_view, error_code& ec) {
    refuse(ec, 411, "request body without a Content-Length");
}

std::size_t RequestParser::on_chunk_body_impl(std::uint64_t, beast::string_view, error_code& ec) {
    refuse(ec, 411, "request body without a Content-Length");
    return 0;
}

} // namespace reflector::transport
