#include "core/Http.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <condition_variable>
#include <mutex>

namespace reflector {

namespace {

const std::string kGet = "GET";

char lower(char c) {
    return static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
}

bool equalNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (lower(a[i]) != lower(b[i])) {
            return false;
        }
    }
    return true;
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

std::string_view trim(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) {
        text.remove_prefix(1);
    }
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) {
        text.remove_suffix(1);
    }
    return text;
}

const std::string* findField(const Fields& fields, std::string_view name, bool anyCase) {
    for (const auto& [key, value] : fields) {
        if (anyCase ? equalNoCase(key, name) : key == name) {
            return &value;
        }
    }
    return nullptr;
}

// The value of a parameter of a header value ("multipart/form-data; boundary=xyz",
// `form-data; name="frame"`), unquoted; nullopt when absent.
std::optional<std::string> headerParameter(std::string_view value, std::string_view name) {
    std::size_t at = value.find(';');
    while (at != std::string_view::npos && at < value.size()) {
        ++at;
        const std::size_t eq = value.find('=', at);
        if (eq == std::string_view::npos) {
            return std::nullopt;
        }
        const std::string_view key = trim(value.substr(at, eq - at));
        at = eq + 1;
        while (at < value.size() && value[at] == ' ') {
            ++at;
        }
        std::string parsed;
        if (at < value.size() && value[at] == '"') {
            for (++at; at < value.size() && value[at] != '"'; ++at) {
                if (value[at] == '\\' && at + 1 < value.size()) {
                    ++at;
                }
                parsed += value[at];
            }
            at = value.find(';', at);
        } else {
            const std::size_t end = value.find(';', at);
            parsed =
                std::string(trim(value.substr(at, end == std::string_view::npos ? end : end - at)));
            at = end;
        }
        if (equalNoCase(key, name)) {
            return parsed;
        }
    }
    return std::nullopt;
}

// Percent-decodes `text` into `out`, in place of what it held (see percentDecode).
void decodeInto(std::string& out, std::string_view text, bool plusIsSpace) {
    std::size_t plain = 0;
    while (plain < text.size() && text[plain] != '%' && (text[plain] != '+' || !plusIsSpace)) {
        ++plain;
    }
    out.assign(text.data(), plain);
    for (std::size_t i = plain; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '%' && i + 2 < text.size() && hexValue(text[i + 1]) >= 0 &&
            hexValue(text[i + 2]) >= 0) {
            out += static_cast<char>(hexValue(text[i + 1]) * 16 + hexValue(text[i + 2]));
            i += 2;
        } else if (c == '+' && plusIsSpace) {
            out += ' ';
        } else {
            out += c;
        }
    }
}

// Calls `field(name, value)` with the still encoded pieces of a form or query string, in
// order; a piece without '=' has an empty value, and empty pieces are skipped.
template <class Field> void forEachField(std::string_view form, Field field) {
    while (!form.empty()) {
        const std::size_t amp = form.find('&');
        const std::string_view piece = form.substr(0, amp);
        form = amp == std::string_view::npos ? std::string_view() : form.substr(amp + 1);
        if (piece.empty()) {
            continue;
        }
        const std::size_t eq = piece.find('=');
        field(piece.substr(0, eq),
              eq == std::string_view::npos ? std::string_view() : piece.substr(eq + 1));
    }
}

} // namespace

std::string HttpRequest::header(std::string_view name) const {
    const std::string* value = findField(headers, name, true);
    return value != nullptr ? *value : std::string();
}

bool HttpRequest::hasHeader(std::string_view name) const {
    return findField(headers, name, true) != nullptr;
}

std::string HttpRequest::param(std::string_view name) const {
    const std::string* value = findField(query, name, false);
    return value != nullptr ? *value : std::string();
}

bool HttpRequest::hasParam(std::string_view name) const {
    return findField(query, name, false) != nullptr;
}

HttpRequest makeRequest(std::string method, const std::string& target, std::string body,
                        Fields headers, std::string clientAddress) {
    HttpRequest request;
    request.method = std::move(method);
    request.target = target;
    splitTarget(target, request.path, request.query);
    request.body = std::move(body);
    request.headers = std::move(headers);
    request.clientAddress = std::move(clientAddress);
    return request;
}

HttpAnswer textAnswer(int status, std::string text) {
    HttpAnswer answer;
    answer.status = status;
    answer.contentType = kTextType;
    answer.body = std::move(text);
    return answer;
}

std::string statusText(int status) {
    switch (status) {
    case 400:
        return "Bad request";
    case 404:
        return "Not found";
    case 411:
        return "Length required";
    case 413:
        return "Request too large";
    case 414:
        return "Address too long";
    case 415:
        return "Unsupported media type";
    case 500:
        return "Internal error";
    case 503:
        return "Service unavailable";
    default:
        return "Error " + std::to_string(status);
    }
}

std::string loggable(std::string_view text) {
    std::string out;
    appendLoggable(out, text);
    return out;
}

void appendLoggable(std::string& line, std::string_view text) {
    static const char* digits = "0123456789ABCDEF";
    text = text.substr(0, 200);
    const auto plain = [](unsigned char c) { return c >= 0x21 && c <= 0x7E && c != '%'; };
    std::size_t clean = 0;
    while (clean < text.size() && plain(static_cast<unsigned char>(text[clean]))) {
        ++clean;
    }
    line.append(text.data(), clean);
    for (unsigned char c : text.substr(clean)) {
        if (plain(c)) {
            line += static_cast<char>(c);
        } else {
            line += '%';
            line += digits[c >> 4];
            line += digits[c & 0xF];
        }
    }
}

std::string percentDecode(std::string_view text, bool plusIsSpace) {
    std::string out;
    decodeInto(out, text, plusIsSpace);
    return out;
}

void splitTarget(std::string_view target, std::string& path, Fields& query) {
    const std::size_t mark = target.find('?');
    decodeInto(path, target.substr(0, mark), false);
    // The fields' room is kept (a transport splits each request of a connection into the same
    // fields).
    std::size_t count = 0;
    if (mark != std::string_view::npos) {
        forEachField(target.substr(mark + 1), [&](std::string_view name, std::string_view value) {
            if (count == query.size()) {
                query.emplace_back();
            }
            decodeInto(query[count].first, name, true);
            decodeInto(query[count].second, value, true);
            ++count;
        });
    }
    query.resize(count);
}

Fields parseForm(std::string_view body) {
    Fields fields;
    forEachField(body, [&fields](std::string_view name, std::string_view value) {
        fields.emplace_back(percentDecode(name, true), percentDecode(value, true));
    });
    return fields;
}

bool hasMediaType(std::string_view contentType, std::string_view mediaType) {
    return equalNoCase(trim(contentType.substr(0, contentType.find(';'))), mediaType);
}

std::optional<std::vector<FormPart>> parseMultipart(std::string_view contentType,
                                                    std::string_view body) {
    if (!hasMediaType(contentType, "multipart/form-data")) {
        return std::nullopt;
    }
    const auto boundary = headerParameter(contentType, "boundary");
    if (!boundary || boundary->empty() || boundary->size() > 200) {
        return std::nullopt;
    }
    const std::string delimiter = "--" + *boundary;
    // The first delimiter opens the body or follows a preamble line.
    std::size_t at = 0;
    if (body.substr(0, delimiter.size()) != delimiter) {
        at = body.find("\r\n" + delimiter);
        if (at == std::string_view::npos) {
            return std::nullopt;
        }
        at += 2;
    }
    const std::string next = "\r\n" + delimiter;
    std::vector<FormPart> parts;
    for (;;) {
        at += delimiter.size();
        if (body.substr(at, 2) == "--") {
            return parts; // the closing delimiter; an epilogue after it is ignored
        }
        // Blanks may follow a delimiter before its line ends.
        while (at < body.size() && (body[at] == ' ' || body[at] == '\t')) {
            ++at;
        }
        if (body.substr(at, 2) != "\r\n") {
            return std::nullopt;
        }
        at += 2;
        const std::size_t headEnd = body.find("\r\n\r\n", at);
        const std::size_t contentEnd =
            headEnd == std::string_view::npos ? headEnd : body.find(next, headEnd + 4);
        if (contentEnd == std::string_view::npos) {
            return std::nullopt;
        }
        FormPart part;
        std::string_view head = body.substr(at, headEnd - at);
        bool disposed = false;
        while (!head.empty()) {
            const std::size_t lineEnd = head.find("\r\n");
            const std::string_view line = head.substr(0, lineEnd);
            head =
                lineEnd == std::string_view::npos ? std::string_view() : head.substr(lineEnd + 2);
            const std::size_t colon = line.find(':');
            if (colon == std::string_view::npos) {
                return std::nullopt;
            }
            const std::string_view name = trim(line.substr(0, colon));
            const std::string_view value = trim(line.substr(colon + 1));
            if (equalNoCase(name, "Content-Disposition")) {
                if (!hasMediaType(value, "form-data")) {
                    return std::nullopt;
                }
                const auto fieldName = headerParameter(value, "name");
                if (!fieldName) {
                    return std::nullopt;
                }
                part.name = *fieldName;
                part.fileName = headerParameter(value, "filename").value_or(std::string());
                disposed = true;
            } else if (equalNoCase(name, "Content-Type")) {
                part.contentType = std::string(value);
            }
        }
        if (!disposed) {
            return std::nullopt;
        }
        part.content = std::string(body.substr(headEnd + 4, contentEnd - headEnd - 4));
        parts.push_back(std::move(part));
        at = contentEnd + 2;
    }
}

namespace {

// Looks for the cookie `name` in a Cookie header: counts how often it is named, and keeps the
// first value.
void findCookie(std::string_view header, std::string_view name, std::size_t& found,
                std::string_view& value) {
    while (!header.empty()) {
        const std::size_t end = header.find(';');
        std::string_view pair = header.substr(0, end);
        header = end == std::string_view::npos ? std::string_view() : header.substr(end + 1);
        while (!pair.empty() && (pair.front() == ' ' || pair.front() == '\t')) {
            pair.remove_prefix(1);
        }
        const std::size_t eq = pair.find('=');
        if (eq == std::string_view::npos || pair.substr(0, eq) != name) {
            continue;
        }
        if (found++ > 0) {
            continue;
        }
        value = pair.substr(eq + 1);
        while (!value.empty() && (value.back() == ' ' || value.back() == '\t')) {
            value.remove_suffix(1);
        }
        if (value.size() >= 2 && value.front() == '"' && value.back() == '"') {
            value = value.substr(1, value.size() - 2);
        }
    }
}

} // namespace

std::string cookieValue(std::string_view header, std::string_view name) {
    std::size_t found = 0;
    std::string_view value;
    findCookie(header, name, found, value);
    return found == 1 ? std::string(value) : std::string();
}

std::string cookieValue(const HttpRequest& request, std::string_view name) {
    std::size_t found = 0;
    std::string_view value;
    for (const auto& [key, text] : request.headers) {
        if (equalNoCase(key, "Cookie")) {
            findCookie(text, name, found, value);
        }
    }
    return found == 1 ? std::string(value) : std::string();
}

bool matchesTag(std::string_view ifNoneMatch, std::string_view tag) {
    while (!ifNoneMatch.empty()) {
        const std::size_t comma = ifNoneMatch.find(',');
        std::string_view candidate = ifNoneMatch.substr(0, comma);
        ifNoneMatch =
            comma == std::string_view::npos ? std::string_view() : ifNoneMatch.substr(comma + 1);
        while (!candidate.empty() && (candidate.front() == ' ' || candidate.front() == '\t')) {
            candidate.remove_prefix(1);
        }
        while (!candidate.empty() && (candidate.back() == ' ' || candidate.back() == '\t')) {
            candidate.remove_suffix(1);
        }
        if (candidate.substr(0, 2) == "W/") {
            candidate.remove_prefix(2);
        }
        if (candidate == "*" || (!candidate.empty() && candidate == tag)) {
            return true;
        }
    }
    return false;
}

void Router::add(const std::string& method, const std::string& path, Handler handler,
                 RouteOptions options) {
    auto& methods = exact_[path];
    for (auto& [known, route] : methods) {
        if (known == method) {
            route = Route{std::move(handler), std::move(options)};
            return;
        }
    }
    methods.emplace_back(method, Route{std::move(handler), std::move(options)});
}

void Router::addPrefix(const std::string& method, const std::string& prefix, Handler handler,
                       RouteOptions options) {
    prefixes_.push_back({{method, prefix}, Route{std::move(handler), std::move(options)}});
}

const Router::Route* Router::find(const HttpRequest& request) const {
    const std::string& method = request.method == "HEAD" ? kGet : request.method;
    if (const auto it = exact_.find(request.path); it != exact_.end()) {
        for (const auto& [known, route] : it->second) {
            if (known == method) {
                return &route;
            }
        }
    }
    for (const auto& [key, route] : prefixes_) {
        const auto& [prefixMethod, prefix] = key;
        if (prefixMethod == method && request.path.size() > prefix.size() &&
            request.path.compare(0, prefix.size(), prefix) == 0 &&
            request.path.find('/', prefix.size()) == std::string::npos) {
            return &route;
        }
    }
    return nullptr;
}

HttpAnswer Router::route(const HttpRequest& request) const {
    const Route* route = find(request);
    if (route == nullptr) {
        return textAnswer(404, statusText(404));
    }
    HttpAnswer answer = route->handler(request);
    answer.closeConnection = answer.closeConnection || route->options.closes;
    return answer;
}

bool Router::quick(const HttpRequest& request) const {
    const Route* route = find(request);
    if (route == nullptr) {
        return true;
    }
    return route->options.quick && (!route->options.quickIf || route->options.quickIf(request));
}

HttpAnswer settle(HttpAnswer answer) {
    if (!answer.pending) {
        return answer;
    }
    struct Shared {
        std::mutex mutex;
        std::condition_variable woken;
        bool wake = false;
    };
    const auto shared = std::make_shared<Shared>();
    PendingAnswer& pending = *answer.pending;
    pending.start([shared] {
        {
            std::lock_guard lock(shared->mutex);
            shared->wake = true;
        }
        shared->woken.notify_all();
    });
    for (;;) {
        const bool last = SteadyClock::now() >= pending.deadline();
        SteadyClock::time_point recheck = pending.deadline();
        if (auto ready = pending.poll(last, recheck)) {
            return std::move(*ready);
        }
        std::unique_lock lock(shared->mutex);
        shared->woken.wait_until(lock, std::min(recheck, pending.deadline()),
                                 [&shared] { return shared->wake; });
        shared->wake = false;
    }
}

struct AnswerBudget::Account {
    explicit Account(std::size_t most) : limit(most) {}
    const std::size_t limit;
    std::atomic<std::size_t> used{0};
};

AnswerBudget::AnswerBudget(std::size_t limit) : account_(std::make_shared<Account>(limit)) {}

std::shared_ptr<const std::string> AnswerBudget::charge(std::string bytes) {
    const std::size_t size = bytes.size();
    std::size_t used = account_->used.load();
    do {
        if (size > account_->limit - used) {
            return nullptr;
        }
    } while (!account_->used.compare_exchange_weak(used, used + size));
    return std::shared_ptr<const std::string>(new std::string(std::move(bytes)),
                                              [account = account_, size](const std::string* body) {
                                                  account->used -= size;
                                                  delete body;
                                              });
}

} // namespace reflector
