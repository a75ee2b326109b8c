#include "Pages.h"

namespace reflector {

namespace {

// Replaces every "{{NAME}}" of a template by the given text.
std::string fill(std::string_view page, std::string_view name, const std::string& text) {
    const std::string marker = "{{" + std::string(name) + "}}";
    std::string out;
    out.reserve(page.size() + text.size());
    std::size_t from = 0;
    for (std::size_t at; (at = page.find(marker, from)) != std::string_view::npos;) {
        out.append(page.substr(from, at - from));
        out.append(text);
        from = at + marker.size();
    }
    out.append(page.substr(from));
    return out;
}

} // namespace

std::string htmlEscape(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        case '\'':
            out += "&#39;";
            break;
        default:
            out += c;
        }
    }
    return out;
}

std::string viewerPage(const std::string& cameraId) {
    return fill(webFile("viewer.html"), "ID", htmlEscape(cameraId));
}

std::string cameraListPage(const std::vector<Camera>& cameras) {
    std::string list;
    if (cameras.empty()) {
        list = "<p>No camera is registered yet.</p>";
    } else {
        list = "<table>\n<tr><th>Camera</th><th>Motorised</th><th>Registered (UTC)</th>"
               "<th>Latest picture (UTC)</th></tr>\n";
        for (const Camera& c : cameras) {
            const std::string id = htmlEscape(c.id);
            list += "<tr><td><a href=\"/webcams/view?id=" + id + "\">" + id + "</a></td><td>" +
                    (c.ptz ? "yes" : "no") + "</td><td>" + htmlEscape(c.registeredAt) +
                    "</td><td>" +
                    (c.lastFrameAt.empty() ? std::string("none yet") : htmlEscape(c.lastFrameAt)) +
                    "</td></tr>\n";
        }
        list += "</table>";
    }
    return fill(webFile("index.html"), "CAMERAS", list);
}

std::string messagePage(const std::string& title, const std::string& message) {
    return fill(fill(webFile("message.html"), "TITLE", htmlEscape(title)), "MESSAGE",
                htmlEscape(message));
}

} // namespace reflector
