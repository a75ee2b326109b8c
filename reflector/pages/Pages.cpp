#include "pages/Pages.h"

namespace reflector {

namespace {

constexpr const char* kHtml = "text/html; charset=utf-8";
constexpr const char* kPagePolicy =
    "default-src 'self'; img-src 'self' blob:; object-src 'none'; base-uri 'none'; "
    "form-action 'self'; frame-ancestors 'none'";

// Replaces every "{{NAME}}" of a template by its field's HTML in one pass, so that text
// inserted from a field is never read as a template again.
std::string fillAll(std::string_view page,
                    std::initializer_list<std::pair<std::string_view, std::string>> fields) {
    std::string out;
    out.reserve(page.size() * 2);
    std::size_t from = 0;
    for (std::size_t at; (at = page.find("{{", from)) != std::string_view::npos;) {
        const std::size_t end = page.find("}}", at + 2);
        if (end == std::string_view::npos) {
            break;
        }
        const std::string_view name = page.substr(at + 2, end - at - 2);
        const std::string* html = nullptr;
        for (const auto& field : fields) {
            if (field.first == name) {
                html = &field.second;
            }
        }
        out.append(page.substr(from, at - from));
        if (html != nullptr) {
            out.append(*html);
        } else {
            out.append(page.substr(at, end + 2 - at));
        }
        from = end + 2;
    }
    out.append(page.substr(from));
    return out;
}

std::string fill(std::string_view page, std::string_view name, const std::string& html) {
    return fillAll(page, {{name, html}});
}

std::string messageLine(const std::string& message, bool error) {
    if (message.empty()) {
        return {};
    }
    return std::string("<p class=\"message") + (error ? " error" : "") + "\" role=\"status\">" +
           htmlEscape(message) + "</p>";
}

std::string button(const char* command, const char* css, const char* label, const char* title,
                   const char* glyph) {
    return std::string("<button type=\"submit\" name=\"cmd\" value=\"") + command + "\" class=\"" +
           css + "\" aria-label=\"" + label + "\" title=\"" + title + "\">" + glyph + "</button>\n";
}

std::string controls(const CameraView& v) {
    if (!v.moves && !v.zoom && v.presets.empty()) {
        return {};
    }
    std::string html = "<form class=\"controls\" method=\"post\" action=\"/webcams/command\">\n"
                       "<input type=\"hidden\" name=\"id\" value=\"" +
                       htmlEscape(v.camera) + "\">\n";
    if (v.moves) {
        html += "<div class=\"pad\">\n";
        html += button("pan_double_left", "far-left", "Pan far left", "Move far left", "&#171;");
        html += button("tilt_up", "up", "Tilt up", "Move up", "&#9650;");
        html +=
            button("pan_double_right", "far-right", "Pan far right", "Move far right", "&#187;");
        html += button("pan_left", "left", "Pan left", "Move left", "&#9664;");
        html += button("set_motor_home", "home", "Home", "Move home", "&#8962;");
        html += button("pan_right", "right", "Pan right", "Move right", "&#9654;");
        html += button("tilt_down", "down", "Tilt down", "Move down", "&#9660;");
        html += "</div>\n";
    }
    if (v.zoom) {
        html += "<div class=\"zoom\"><span>Zoom</span>\n";
        html += button("ZOOM_IN", "zoom-in", "Zoom in", "Zoom in", "+");
        html += button("ZOOM_OUT", "zoom-out", "Zoom out", "Zoom out", "&#8722;");
        html += button("RESTORE", "zoom-restore", "Zoom out fully", "Zoom out fully", "1:1");
        html += "</div>\n";
    }
    if (!v.presets.empty()) {
        html += "<div class=\"presets\"><span>Presets</span>\n";
        for (const Preset& p : v.presets) {
            html += "<button type=\"submit\" name=\"cmd\" value=\"" + htmlEscape(p.command) +
                    "\">" + htmlEscape(p.name) + "</button>\n";
        }
        html += "</div>\n";
    }
    return html + "</form>";
}

std::string links(const CameraView& v) {
    const std::string id = htmlEscape(urlEncode(v.camera));
    std::string html;
    if (v.snapshot) {
        html += "<a href=\"/webcams/snapshot?id=" + id + "\" download>Snapshot</a>\n";
    }
    if (v.archive) {
        html += "<a href=\"/webcams/PassRequiredArchive?id=" + id +
                "&amp;name=" + htmlEscape(urlEncode(v.name)) + "\">Archive</a>\n";
    }
    if (!v.chatRoom.empty()) {
        html += "<a href=\"/fchat/chat2.php?path=1&amp;room=" + htmlEscape(urlEncode(v.chatRoom)) +
                "\">Chat room</a>\n";
    }
    html += "<a href=\"/webcams/stream?id=" + id + "\">Live stream (MJPEG)</a>\n";
    html += "<a href=\"/description.php?id=" + id + "\">Profile</a>\n";
    return html;
}

std::string adminPasswordField(bool fromStation) {
    if (fromStation) {
        return {};
    }
    return "<label>Relay administrator's password <input type=\"password\" name=\"adminpw\" "
           "autocomplete=\"off\"></label>\n";
}

std::string whoMayChange(const std::string& visitor, bool fromStation, bool adminPassword) {
    if (fromStation) {
        return "You are on the station's network (" + htmlEscape(visitor) +
               "): your changes are accepted.";
    }
    return "Your address (" + htmlEscape(visitor) + ") is not the station's: " +
           (adminPassword ? std::string("give the relay administrator's password with a change.")
                          : std::string("this relay has no administrator's password, so changes "
                                        "are only possible from the station's network."));
}

// "10:40:55" of "2026-12-07T10:40:55Z".
std::string timeOfDay(const std::string& iso) {
    return iso.size() >= 19 ? iso.substr(11, 8) : iso;
}

} // namespace

HttpAnswer htmlAnswer(int status, std::string html) {
    HttpAnswer answer;
    answer.status = status;
    answer.contentType = kHtml;
    answer.body = std::move(html);
    answer.headers.emplace_back("Content-Security-Policy", kPagePolicy);
    answer.headers.emplace_back("Referrer-Policy", "same-origin");
    return answer;
}

std::string cameraPage(const CameraView& v) {
    const std::string description =
        v.description.empty() ? std::string()
                              : "<p class=\"description\">" + htmlEscape(v.description) + "</p>";
    return fillAll(webFile("camera.html"), {{"CONTROLS", controls(v)},
                                            {"LINKS", links(v)},
                                            {"DESCRIPTION", description},
                                            {"ID", htmlEscape(v.camera)},
                                            {"NAME", htmlEscape(v.name)},
                                            {"SKIN", htmlEscape(v.skin)}});
}

std::string loginPage(const std::string& camera, const std::string& name, const std::string& skin,
                      const std::string& next, const std::string& message) {
    return fillAll(webFile("login.html"), {{"MESSAGE", messageLine(message, true)},
                                           {"ID", htmlEscape(camera)},
                                           {"NEXT", htmlEscape(next)},
                                           {"NAME", htmlEscape(name)},
                                           {"SKIN", htmlEscape(skin)}});
}

std::string archivePage(const ArchiveView& v) {
    const std::string base =
        "/webcams/PassRequiredArchive?id=" + urlEncode(v.camera) + "&name=" + urlEncode(v.name);
    std::string days;
    std::string frames;
    if (v.days.empty()) {
        days = "<p>No archived pictures yet.</p>";
    } else {
        days = "<ul class=\"days\">\n";
        for (const ArchiveDay& d : v.days) {
            const bool chosen = d.day == v.day;
            days += std::string("<li") + (chosen ? " class=\"chosen\"" : "") + "><a href=\"" +
                    htmlEscape(base + "&day=" + d.day) + "\">" + htmlEscape(d.day) + "</a> (" +
                    std::to_string(d.frames) + ")</li>\n";
        }
        days += "</ul>";
        frames = "<h2>" + htmlEscape(v.day) + " (UTC)</h2>\n<ul class=\"frames\">\n";
        for (const ArchivedFrame& f : v.frames) {
            const std::string address = "/webcams/archive/frame?id=" + urlEncode(v.camera) +
                                        "&frame=" + std::to_string(f.id);
            const std::string when = htmlEscape(timeOfDay(f.takenAt));
            frames += "<li><a href=\"" + htmlEscape(address) + "\"><img src=\"" +
                      htmlEscape(address) +
                      "\" loading=\"lazy\" width=\"160\" height=\"120\" "
                      "alt=\"Picture of " +
                      when + " UTC\"></a><span>" + when + " UTC</span></li>\n";
        }
        frames += "</ul>";
    }
    return fillAll(webFile("archive.html"), {{"DAYS", days},
                                             {"FRAMES", frames},
                                             {"CAMERA", htmlEscape(v.cameraAddress)},
                                             {"NAME", htmlEscape(v.name)},
                                             {"SKIN", htmlEscape(v.skin)}});
}

std::string adminPage(const AdminView& v) {
    const std::string id = htmlEscape(v.camera);
    const std::string password = adminPasswordField(v.fromStation);
    std::string presets = "<section id=\"presets\">\n<h2>Presets</h2>\n";
    if (!v.motorHint.empty()) {
        presets += "<p>" + htmlEscape(v.motorHint) + "</p>\n";
    }
    if (v.presets.empty()) {
        presets += "<p>No presets yet.</p>\n";
    } else {
        presets += "<table>\n<tr><th>Name</th><th>Position</th></tr>\n";
        for (const Preset& p : v.presets) {
            presets += "<tr><td>" + htmlEscape(p.name) + "</td><td>" + htmlEscape(p.command) +
                       "</td></tr>\n";
        }
        presets += "</table>\n<form method=\"post\" action=\"/webcams/admin/index.jsp\">\n"
                   "<input type=\"hidden\" name=\"id\" value=\"" +
                   id + "\">\n<label>Preset <select name=\"name\">\n";
        for (const Preset& p : v.presets) {
            presets += "<option>" + htmlEscape(p.name) + "</option>\n";
        }
        presets += "</select></label>\n" + password +
                   "<button type=\"submit\" name=\"action\" value=\"delete-preset\">Delete "
                   "preset</button>\n</form>\n";
    }
    presets += "<h3>Add or change a preset</h3>\n"
               "<form method=\"post\" action=\"/webcams/admin/index.jsp\">\n"
               "<input type=\"hidden\" name=\"id\" value=\"" +
               id +
               "\">\n<label>Name <input name=\"name\" maxlength=\"40\" required></label>\n"
               "<div class=\"numbers\">"
               "<label>Pan <input name=\"pan\" inputmode=\"numeric\" value=\"0\" required></label>"
               "<label>Tilt <input name=\"tilt\" inputmode=\"numeric\" value=\"0\" "
               "required></label>"
               "<label>Zoom <input name=\"zoom\" inputmode=\"numeric\" value=\"0\" "
               "required></label></div>\n" +
               password +
               "<button type=\"submit\" name=\"action\" value=\"save-preset\">Save "
               "preset</button>\n</form>\n</section>\n";

    std::string skins = "<section id=\"skins\">\n<h2>Skin</h2>\n"
                        "<form method=\"post\" action=\"/webcams/admin/index.jsp\">\n"
                        "<input type=\"hidden\" name=\"id\" value=\"" +
                        id + "\">\n";
    for (const std::string& skin : skinNames()) {
        skins += "<label><input type=\"radio\" name=\"skin\" value=\"" + skin + "\"" +
                 (skin == v.skin ? " checked" : "") + "> " + skin + "</label>\n";
    }
    skins += password +
             "<button type=\"submit\" name=\"action\" value=\"skin\">Use this skin</button>\n"
             "</form>\n</section>\n";

    // Only where an administrator's password exists: releasing needs it, wherever it comes from.
    std::string release;
    if (v.adminPassword) {
        release = "<section id=\"station-key\">\n<h2>Station key</h2>\n"
                  "<p>The camera is bound to the key of the station that registered it. When that "
                  "station has lost its key (a new computer, a lost data folder), release the "
                  "camera: the next station that registers it with a key claims it.</p>\n"
                  "<form method=\"post\" action=\"/webcams/admin/index.jsp\">\n"
                  "<input type=\"hidden\" name=\"id\" value=\"" +
                  id + "\">\n" + adminPasswordField(false) +
                  "<button type=\"submit\" name=\"action\" value=\"release-key\">Release the "
                  "camera</button>\n</form>\n</section>\n";
    }

    return fillAll(webFile("admin.html"),
                   {{"SECTIONS", (v.skinsFirst ? skins + presets : presets + skins) + release},
                    {"WHO", whoMayChange(v.visitor, v.fromStation, v.adminPassword)},
                    {"MESSAGE", messageLine(v.message, v.error)},
                    {"ID", id},
                    {"SKIN", htmlEscape(v.skin)}});
}

std::string liveListPage(const std::vector<LiveItem>& items) {
    std::string html;
    if (items.empty()) {
        html = "<p>No camera is live right now.</p>";
    } else {
        html = "<ul class=\"cameras\">\n";
        for (const LiveItem& item : items) {
            const std::string page = htmlEscape(item.pageAddress);
            const std::string name = htmlEscape(item.name);
            html += "<li><a href=\"" + page + "\">";
            if (item.thumbAddress.empty()) {
                html += std::string("<span class=\"nothumb\">") +
                        (item.password ? "Password" : "No thumbnail") + "</span>";
            } else {
                html += "<img src=\"" + htmlEscape(item.thumbAddress) +
                        "\" loading=\"lazy\" width=\"160\" height=\"120\" alt=\"" + name + "\">";
            }
            html += "</a><a href=\"" + page + "\" class=\"name\">" + name + "</a>";
            std::string badges;
            for (const auto& [on, text] : {std::pair<bool, const char*>{item.ptz, "moves"},
                                           {item.password, "password"},
                                           {item.archive, "archive"}}) {
                if (on) {
                    badges += std::string(badges.empty() ? "" : " &#183; ") + text;
                }
            }
            if (!badges.empty()) {
                html += "<span class=\"badges\">" + badges + "</span>";
            }
            html += "<a href=\"/description.php?id=" + htmlEscape(urlEncode(item.camera)) +
                    "\" class=\"badges\">Profile</a></li>\n";
        }
        html += "</ul>";
    }
    return fill(webFile("livelist.html"), "CAMERAS", html);
}

std::string profilePage(const ProfileView& v) {
    std::string status = v.listed ? "<p>Live now: <a href=\"" + htmlEscape(v.pageAddress) +
                                        "\">watch the camera</a>.</p>"
                                  : std::string("<p>Not live at the moment.</p>");
    const std::string description =
        v.description.empty() ? std::string("<p class=\"description\">No description yet.</p>")
                              : "<p class=\"description\">" + htmlEscape(v.description) + "</p>";
    return fillAll(webFile("profile.html"),
                   {{"STATUS", status},
                    {"DESCRIPTION", description},
                    {"MESSAGE", messageLine(v.message, v.error)},
                    {"WHO", whoMayChange(v.visitor, v.fromStation, v.adminPassword)},
                    {"ADMINPASSWORD", adminPasswordField(v.fromStation)},
                    {"NAMEVALUE", htmlEscape(v.profileName)},
                    {"DESCRIPTIONVALUE", htmlEscape(v.description)},
                    {"ID", htmlEscape(v.camera)},
                    {"NAME", htmlEscape(v.name)}});
}

std::string chatPage(const std::string& room, const std::string& user,
                     const std::vector<ChatMessage>& messages) {
    std::string list;
    std::int64_t last = 0;
    for (const ChatMessage& m : messages) {
        list += "<li><time datetime=\"" + htmlEscape(m.at) + "\">" +
                htmlEscape(timeOfDay(m.at).substr(0, 5)) + "</time> <b>" + htmlEscape(m.name) +
                "</b> " + htmlEscape(m.text) + "</li>\n";
        last = m.id;
    }
    const std::size_t colon = room.rfind(':');
    const std::string roomName = colon == std::string::npos ? room : room.substr(0, colon);
    return fillAll(webFile("chat.html"), {{"MESSAGES", list},
                                          {"LAST", std::to_string(last)},
                                          {"ROOMNAME", htmlEscape(roomName)},
                                          {"ROOM", htmlEscape(room)},
                                          {"USER", htmlEscape(user)}});
}

std::string chatJson(const std::vector<ChatMessage>& messages) {
    std::string json = "{\"messages\":[";
    for (std::size_t i = 0; i < messages.size(); ++i) {
        const ChatMessage& m = messages[i];
        json += std::string(i == 0 ? "" : ",") + "{\"id\":" + std::to_string(m.id) +
                ",\"name\":" + jsonString(m.name) + ",\"text\":" + jsonString(m.text) +
                ",\"at\":" + jsonString(m.at) + "}";
    }
    return json + "]}";
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
            list += "<tr><td><a href=\"/webcams/index.jsp?id=" + htmlEscape(urlEncode(c.id)) +
                    "\">" + id + "</a></td><td>" + (c.ptz ? "yes" : "no") + "</td><td>" +
                    htmlEscape(c.registeredAt) + "</td><td>" +
                    (c.lastFrameAt.empty() ? std::string("none yet") : htmlEscape(c.lastFrameAt)) +
                    "</td></tr>\n";
        }
        list += "</table>";
    }
    return fill(webFile("index.html"), "CAMERAS", list);
}

std::string messagePage(const std::string& title, const std::string& message) {
    return fillAll(webFile("message.html"),
                   {{"TITLE", htmlEscape(title)}, {"MESSAGE", htmlEscape(message)}});
}

} // namespace reflector
