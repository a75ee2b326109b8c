#pragma once

#include "Registry.h"

#include <string>
#include <string_view>
#include <vector>

namespace reflector {

// A file of the relay's web folder built into the program ("viewer.html", "style.css" ...);
// empty when there is no such file.
std::string_view webFile(std::string_view name);

// Text made safe for HTML element content and quoted attribute values.
std::string htmlEscape(std::string_view text);

// The live viewer of one camera.
std::string viewerPage(const std::string& cameraId);
// The list of registered cameras with links to their viewers.
std::string cameraListPage(const std::vector<Camera>& cameras);
// A page telling why a request cannot be served.
std::string messagePage(const std::string& title, const std::string& message);

} // namespace reflector
