#include "stores/MoveQueue.h"

namespace reflector {

namespace {

constexpr std::string_view kCommandWords[] = {
    "tilt_up",          "tilt_down",      "pan_left", "pan_right", "pan_double_left",
    "pan_double_right", "set_motor_home", "pre_up",   "pre_down",  "pre_left",
    "pre_right",        "ZOOM_IN",        "ZOOM_OUT", "RESTORE"};

// An optional sign and 1 to 7 decimal digits.
bool isPresetNumber(std::string_view text) {
    if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
        text.remove_prefix(1);
    }
    if (text.empty() || text.size() > 7) {
        return false;
    }
    for (char c : text) {
        if (c < '0' || c > '9') {
            return false;
        }
    }
    return true;
}

} // namespace

bool isStationCommand(std::string_view command) {
    for (std::string_view word : kCommandWords) {
        if (command == word) {
            return true;
        }
    }
    constexpr std::string_view preset = "Preset_";
    if (command.substr(0, preset.size()) != preset) {
        return false;
    }
    std::string_view rest = command.substr(preset.size());
    for (int piece = 0; piece < 3; ++piece) {
        const std::size_t colon = rest.find(':');
        if ((colon == std::string_view::npos) != (piece == 2)) {
            return false;
        }
        if (!isPresetNumber(rest.substr(0, colon))) {
            return false;
        }
        rest = colon == std::string_view::npos ? std::string_view() : rest.substr(colon + 1);
    }
    return true;
}

} // namespace reflector
