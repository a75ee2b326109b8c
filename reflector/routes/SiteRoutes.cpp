#include "routes/SiteRoutes.h"

#include "pages/Pages.h"
#include "routes/Shared.h"

#include <algorithm>
#include <cctype>
#include <set>

namespace reflector {

namespace {

constexpr std::size_t kMaxImageSources = 16;

} // namespace

void SiteRoutes::addRoutes(Router& r) {
    RouteOptions quick;
    quick.quick = true;
    r.add("GET", "/", [this](const HttpRequest&) { return cameraList(); });
    // The pages of the listing host (in a local setup, this relay).
    r.add("GET", "/livelist.php", [this](const HttpRequest& req) { return liveList(req); });
    r.add("GET", "/livelist.asp", [this](const HttpRequest& req) { return liveList(req); });
    const auto help = [](const HttpRequest&) {
        return htmlAnswer(200, std::string(webFile("help.html")));
    };
    r.add("GET", "/help/webcams/index.htm", help, quick);
    r.add("GET", "/help/webcams/", help, quick);
    // The pages' scripts and style sheet, by name; nothing else of the web folder.
    r.addPrefix(
        "GET", "/static/",
        [](const HttpRequest& req) {
            const std::string name = req.path.substr(std::string("/static/").size());
            const char* type = nullptr;
            if (name == "camera.js" || name == "chat.js") {
                type = "text/javascript; charset=utf-8";
            } else if (name == "style.css") {
                type = "text/css; charset=utf-8";
            }
            if (type == nullptr) {
                return textAnswer(404, statusText(404));
            }
            HttpAnswer answer = textAnswer(200, std::string(webFile(name)));
            answer.contentType = type;
            return answer;
        },
        quick);
    // The stores answer it on a worker: the database and the disk are tried each time.
    r.add("GET", "/healthz", [this](const HttpRequest&) { return healthCheck(); });
}

HttpAnswer SiteRoutes::cameraList() {
    return htmlAnswer(200, cameraListPage(registry_.list()));
}

HttpAnswer SiteRoutes::healthCheck() {
    const Health health = health_();
    HttpAnswer answer = textAnswer(health.ok ? 200 : 503, health.ok ? "ok" : health.reason);
    answer.unlogged = true;
    return answer;
}

HttpAnswer SiteRoutes::liveList(const HttpRequest& req) {
    const std::string host = req.header("Host");
    std::vector<LiveItem> items;
    std::set<std::string> sources;
    for (const ListingEntry& e : listing_.current()) {
        if (!e.listed) {
            continue;
        }
        LiveItem item;
        item.camera = e.camera;
        const auto profile = pages_.profile(e.camera);
        item.name = profile && !profile->name.empty() ? profile->name
                    : !e.name.empty()                 ? e.name
                                                      : e.camera;
        const std::string base = relayBase(e, host);
        item.pageAddress = listedCameraPage(base, e, item.name);
        item.ptz = e.ptz;
        item.password = e.password;
        item.archive = e.archive;
        // Pictures from other relays need their origin in the page's policy, and only a few
        // are named there.
        const bool sourceOk =
            base.empty() || sources.count(base) != 0 || sources.size() < kMaxImageSources;
        if (!e.hideThumbnail && !e.password && sourceOk) {
            item.thumbAddress = base + "/webcams/thumb?id=" + e.camera;
            if (!base.empty()) {
                sources.insert(base);
            }
        }
        items.push_back(std::move(item));
    }
    std::sort(items.begin(), items.end(), [](const LiveItem& a, const LiveItem& b) {
        const auto lower = [](std::string s) {
            std::transform(s.begin(), s.end(), s.begin(),
                           [](unsigned char c) { return std::tolower(c); });
            return s;
        };
        return lower(a.name) < lower(b.name);
    });
    std::string extra;
    for (const std::string& source : sources) {
        extra += " " + source;
    }
    HttpAnswer answer = htmlAnswer(200, liveListPage(items));
    if (!extra.empty()) {
        for (auto& [name, value] : answer.headers) {
            if (name == "Content-Security-Policy") {
                const std::string images = "img-src 'self' blob:";
                value.replace(value.find(images), images.size(), images + extra);
            }
        }
    }
    return answer;
}

} // namespace reflector
