#include "stores/CameraPages.h"

#include "core/Text.h"
#include "stores/MoveQueue.h"

namespace reflector {

const std::vector<std::string>& skinNames() {
    static const std::vector<std::string> names = {"classic", "night", "meadow", "contrast"};
    return names;
}

bool isSkin(std::string_view name) {
    for (const std::string& skin : skinNames()) {
        if (skin == name) {
            return true;
        }
    }
    return false;
}

std::optional<std::string> presetCommand(std::string_view pan, std::string_view tilt,
                                         std::string_view zoom) {
    std::string command = "Preset_";
    command.append(pan).append(":").append(tilt).append(":").append(zoom);
    if (!isStationCommand(command)) {
        return std::nullopt;
    }
    return command;
}

std::string checkOwnerText(std::string_view text, std::size_t maxBytes, bool lines,
                           const char* what) {
    if (text.size() > maxBytes) {
        return std::string(what) + " is longer than " + std::to_string(maxBytes) + " bytes";
    }
    for (unsigned char c : text) {
        const bool lineBreak = c == '\n' || c == '\r';
        if ((c < 0x20 && !(lines && lineBreak)) || c == 0x7F) {
            return std::string(what) + " holds control characters";
        }
    }
    if (validUtf8(text) != text) {
        return std::string(what) + " is not UTF-8 text";
    }
    return {};
}

} // namespace reflector
