#include "routes/OwnerRoutes.h"

#include "core/CameraId.h"
#include "core/PasswordHash.h"
#include "core/Text.h"
#include "pages/Pages.h"
#include "routes/Answers.h"
#include "routes/Forms.h"

#include <algorithm>
#include <iostream>
#include <optional>
#include <tuple>

namespace reflector {

OwnerRoutes::OwnerRoutes(const RelayConfig& config, Registry& registry, PageStore& pages,
                         ListingStore& listing, LoginThrottle& loginsByAddress, StationKeys& keys,
                         const Clients& clients, PasswordPool& passwords)
    : adminPasswordHash_(config.adminPasswordHash), registry_(registry), pages_(pages),
      listing_(listing), logins_(loginsByAddress), keys_(keys), clients_(clients),
      passwords_(passwords) {}

void OwnerRoutes::addRoutes(Router& r) {
    r.add("GET", "/webcams/admin/index.jsp",
          [this](const HttpRequest& req) { return adminPage(req); });
    r.add("POST", "/webcams/admin/index.jsp",
          [this](const HttpRequest& req) { return adminChange(req); });
    r.add("GET", "/description.php", [this](const HttpRequest& req) { return profilePage(req); });
    r.add("POST", "/description.php",
          [this](const HttpRequest& req) { return profileChange(req); });
}

HttpAnswer OwnerRoutes::manage(const HttpRequest& req, const std::string& id,
                               const std::string& adminPassword,
                               std::function<HttpAnswer(int, std::string)> page,
                               std::function<HttpAnswer()> change, bool adminOnly) {
    if (!adminOnly && keys_.fromKeyHolder(req, id)) {
        return change();
    }
    if (adminPassword.empty() || adminPasswordHash_.empty()) {
        return page(403, adminOnly ? "Not changed: only the relay administrator's password "
                                     "allows this."
                                   : "Not changed: changes are accepted only from the network "
                                     "the camera's station uploads from, or with the relay "
                                     "administrator's password.");
    }
    const std::string client = clients_.of(req);
    if (const auto wait = logins_.waitFor(client)) {
        return tooManyTries(*wait, page(429, "Not changed. " + waitText(*wait)));
    }
    return passwords_.answer(
        [this, id, adminPassword, page, change = std::move(change), client] {
            if (!verifyPassword(adminPasswordHash_, adminPassword)) {
                logins_.failed(client);
                std::cerr << "reflector: wrong administrator's password from " << loggable(client)
                          << " for camera " << id << std::endl;
                return page(403, "Not changed: wrong administrator's password.");
            }
            logins_.succeeded(client);
            return change();
        },
        hashingBusy(page(503, kHashingBusy)), kHashingLimit);
}

HttpAnswer OwnerRoutes::adminPage(const HttpRequest& req) {
    const std::string id = req.param("id");
    if (!isValidCameraId(id)) {
        return invalidCamera();
    }
    if (!registry_.isRegistered(id)) {
        return unknownCamera(id);
    }
    AdminView v;
    v.camera = id;
    v.skin = pages_.skin(id);
    v.presets = pages_.presets(id);
    v.visitor = clients_.of(req);
    v.fromStation = keys_.fromKeyHolder(req, id);
    v.adminPassword = !adminPasswordHash_.empty();
    v.skinsFirst = req.param("skins") == "true";
    if (req.param("sphere") == "True") {
        v.motorHint = "This camera takes a preset's pan and tilt as steps away from its home "
                      "position.";
    } else if (req.param("opticam") == "True") {
        v.motorHint = "This camera's pan-tilt base reads only a preset's pan and tilt.";
    }
    const std::string done = req.param("done");
    v.message = done == "saved"      ? "The preset is saved."
                : done == "deleted"  ? "The preset is deleted."
                : done == "skin"     ? "The skin is chosen."
                : done == "released" ? "The camera is released from its station key: the next "
                                       "station that registers it with a key claims it."
                                     : "";
    return htmlAnswer(200, reflector::adminPage(v));
}

HttpAnswer OwnerRoutes::adminChange(const HttpRequest& req) {
    Fields fields;
    std::string id;
    if (auto refused = readCameraForm(req, registry_, "Changes come as a form.", fields, id)) {
        return std::move(*refused);
    }
    AdminView v;
    v.camera = id;
    v.visitor = clients_.of(req);
    v.adminPassword = !adminPasswordHash_.empty();
    v.fromStation = keys_.fromKeyHolder(req, id);
    const auto page = [this, v](int status, std::string message) {
        AdminView shown = v;
        shown.skin = pages_.skin(v.camera);
        shown.presets = pages_.presets(v.camera);
        shown.message = std::move(message);
        shown.error = true;
        return htmlAnswer(status, reflector::adminPage(shown));
    };
    const std::string action = formField(fields, "action");
    const std::string back = "/webcams/admin/index.jsp?id=" + id;
    std::function<HttpAnswer()> change;
    if (action == "save-preset" || action == "delete-preset") {
        const std::string name = trimmed(formField(fields, "name"));
        if (name.empty()) {
            return page(400, "Not saved: give the preset a name.");
        }
        if (const std::string why = checkOwnerText(name, kMaxPresetNameBytes, false, "The name");
            !why.empty()) {
            return page(400, "Not saved: " + why + ".");
        }
        if (action == "delete-preset") {
            change = [this, page, id, name, back] {
                if (!pages_.deletePreset(id, name)) {
                    return page(404, "There is no preset " + name + ".");
                }
                return redirect(back + "&done=deleted");
            };
        } else {
            const auto command =
                presetCommand(trimmed(formField(fields, "pan")), trimmed(formField(fields, "tilt")),
                              trimmed(formField(fields, "zoom")));
            if (!command) {
                return page(400, "Not saved: pan, tilt and zoom are whole numbers of at most 7 "
                                 "digits.");
            }
            change = [this, page, id, preset = Preset{name, *command}, back] {
                if (!pages_.savePreset(id, preset)) {
                    return page(409, "Not saved: a camera keeps at most " +
                                         std::to_string(kMaxPresets) + " presets.");
                }
                return redirect(back + "&done=saved");
            };
        }
    } else if (action == "skin") {
        const std::string skin = formField(fields, "skin");
        if (!isSkin(skin)) {
            return page(400, "Not changed: choose one of the skins.");
        }
        change = [this, id, skin, back] {
            pages_.setSkin(id, skin);
            return redirect(back + "&skins=true&done=skin");
        };
    } else if (action == "release-key") {
        change = [this, page, id, back, client = v.visitor] {
            if (!registry_.release(id)) {
                return page(404, "No camera " + id + " is registered here.");
            }
            std::cerr << "reflector: camera " << id << " released from its station key by the "
                      << "administrator at " << loggable(client) << std::endl;
            return redirect(back + "&done=released");
        };
        return manage(req, id, formField(fields, "adminpw"), page, std::move(change), true);
    } else {
        return page(400, "Not changed: unknown action.");
    }
    return manage(req, id, formField(fields, "adminpw"), page, std::move(change));
}

HttpAnswer OwnerRoutes::profilePage(const HttpRequest& req) {
    const std::string id = req.param("id");
    if (!isValidCameraId(id)) {
        return invalidCamera();
    }
    std::optional<ListingEntry> entry;
    for (ListingEntry& e : listing_.current()) {
        if (e.camera == id) {
            entry = std::move(e);
        }
    }
    const auto profile = pages_.profile(id);
    if (!entry && !profile && !registry_.isRegistered(id)) {
        return pageMessage(404, "Unknown camera", "No camera " + id + " is known here.");
    }
    ProfileView v;
    v.camera = id;
    v.profileName = profile ? profile->name : std::string();
    v.name = !v.profileName.empty()          ? v.profileName
             : entry && !entry->name.empty() ? entry->name
                                             : id;
    v.description = profile ? profile->description : std::string();
    v.listed = entry && entry->listed;
    if (entry) {
        v.pageAddress = listedCameraPage(relayBase(*entry, req.header("Host")), *entry, v.name);
    }
    v.visitor = clients_.of(req);
    v.fromStation = keys_.fromKeyHolder(req, id);
    v.adminPassword = !adminPasswordHash_.empty();
    if (req.param("done") == "saved") {
        v.message = "The profile is saved.";
    }
    return htmlAnswer(200, reflector::profilePage(v));
}

HttpAnswer OwnerRoutes::profileChange(const HttpRequest& req) {
    Fields fields;
    std::string id;
    if (auto refused =
            readCameraForm(req, registry_, "Changes come as a form.", fields, id, true)) {
        return std::move(*refused);
    }
    if (!registry_.isRegistered(id) && !listing_.isListed(id) && !pages_.profile(id)) {
        return pageMessage(404, "Unknown camera", "No camera " + id + " is known here.");
    }
    Profile profile{trimmed(formField(fields, "name")), formField(fields, "description")};
    // Line ends as the browser sends them (CR LF) are kept as LF.
    profile.description.erase(
        std::remove(profile.description.begin(), profile.description.end(), '\r'),
        profile.description.end());
    profile.description = trimmed(profile.description);
    ProfileView v;
    v.camera = id;
    v.name = profile.name.empty() ? id : profile.name;
    v.profileName = profile.name;
    v.description = profile.description;
    v.visitor = clients_.of(req);
    v.fromStation = keys_.fromKeyHolder(req, id);
    v.adminPassword = !adminPasswordHash_.empty();
    const auto page = [v](int status, std::string message) {
        ProfileView shown = v;
        shown.message = std::move(message);
        shown.error = true;
        return htmlAnswer(status, reflector::profilePage(shown));
    };
    for (const auto& [text, max, lines, what] :
         {std::tuple<const std::string&, std::size_t, bool, const char*>{
              profile.name, kMaxProfileNameBytes, false, "The name"},
          {profile.description, kMaxDescriptionBytes, true, "The description"}}) {
        if (const std::string why = checkOwnerText(text, max, lines, what); !why.empty()) {
            return page(400, "Not saved: " + why + ".");
        }
    }
    return manage(req, id, formField(fields, "adminpw"), page, [this, id, profile] {
        pages_.setProfile(id, profile);
        return redirect("/description.php?id=" + id + "&done=saved");
    });
}

} // namespace reflector
