#pragma once

// The relay's HTML pages: the templates of pages/web/ (built into the program) filled with values,
// every value HTML-escaped on its way in. Pages carry no inline script or style, so that the
// relay's Content-Security-Policy allows only its own files.

#include "core/Http.h"
#include "core/Text.h"
#include "stores/Archive.h"
#include "stores/CameraPages.h"
#include "stores/Chat.h"
#include "stores/Registry.h"

#include <string>
#include <string_view>
#include <vector>

namespace reflector {

// An HTML page with the relay's Content-Security-Policy: only the relay's own scripts, styles,
// images and forms, never inside another site's frame.
HttpAnswer htmlAnswer(int status, std::string html);

// A file of the relay's web folder built into the program ("camera.html", "style.css" ...);
// empty when there is no such file.
std::string_view webFile(std::string_view name);

// What the camera page shows.
struct CameraView {
    std::string camera;
    std::string name; // as shown
    std::string skin;
    std::string description;
    bool moves = false; // pan, tilt and home buttons
    bool zoom = false;
    std::vector<Preset> presets; // preset buttons; empty: none
    bool snapshot = false;
    bool archive = false;
    std::string chatRoom; // "Room:N"; empty: no chat link
};
std::string cameraPage(const CameraView& view);

// The password form of a camera; `next` is the address to go back to, `message` a line above
// the form (empty: none).
std::string loginPage(const std::string& camera, const std::string& name, const std::string& skin,
                      const std::string& next, const std::string& message);

struct ArchiveView {
    std::string camera;
    std::string name;
    std::string skin;
    std::string cameraAddress; // the camera page
    std::vector<ArchiveDay> days;
    std::string day; // the day shown
    std::vector<ArchivedFrame> frames;
};
std::string archivePage(const ArchiveView& view);

// The management page: presets and skins.
struct AdminView {
    std::string camera;
    std::string skin;
    std::vector<Preset> presets;
    std::string visitor;        // the visitor's address
    bool fromStation = false;   // the visitor's address is the station's
    bool adminPassword = false; // the relay has an administrator's password
    std::string message;        // after a change (empty: none)
    bool error = false;
    bool skinsFirst = false;
    std::string motorHint; // how this camera reads presets (empty: nothing to say)
};
std::string adminPage(const AdminView& view);

// One camera of the live list.
struct LiveItem {
    std::string camera;
    std::string name;
    std::string pageAddress;  // the camera page on its relay
    std::string thumbAddress; // empty: no thumbnail
    bool ptz = false;
    bool password = false;
    bool archive = false;
};
std::string liveListPage(const std::vector<LiveItem>& items);

struct ProfileView {
    std::string camera;
    std::string name;        // as shown
    std::string profileName; // as stored (the form's value)
    std::string description;
    bool listed = false;
    std::string pageAddress; // the camera page; empty when not live
    std::string visitor;
    bool fromStation = false;
    bool adminPassword = false;
    std::string message;
    bool error = false;
};
std::string profilePage(const ProfileView& view);

std::string chatPage(const std::string& room, const std::string& user,
                     const std::vector<ChatMessage>& messages);
// The messages as the chat page's script reads them: {"messages":[{"id":..,"name":..,
// "text":..,"at":..}]}.
std::string chatJson(const std::vector<ChatMessage>& messages);

// The list of registered cameras with links to their pages.
std::string cameraListPage(const std::vector<Camera>& cameras);
// A page telling why a request cannot be served.
std::string messagePage(const std::string& title, const std::string& message);

} // namespace reflector
