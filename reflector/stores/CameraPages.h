#pragma once

// What a camera's owner sets for its pages: named presets, the skin (colour scheme), the live
// profile (a name and a description), and the address the camera's station last spoke from,
// which decides who may change them. Lasting: they survive a restart.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace reflector {

// A named preset: the command that moves the camera there ("Preset_-640:192:20").
struct Preset {
    std::string name;
    std::string command;
};

// The skins a camera page can wear, the first one the default.
const std::vector<std::string>& skinNames();
bool isSkin(std::string_view name);

struct Profile {
    std::string name;        // empty: the listing's name
    std::string description; // plain text
};

// Limits of what an owner may store.
constexpr std::size_t kMaxPresets = 20;
constexpr std::size_t kMaxPresetNameBytes = 40;
constexpr std::size_t kMaxProfileNameBytes = 80;
constexpr std::size_t kMaxDescriptionBytes = 1000;

// Reads the pan, tilt and zoom of a preset as typed ("-640", "+12") into its command; nullopt
// when one of them is not a whole number of at most 7 digits with an optional sign.
std::optional<std::string> presetCommand(std::string_view pan, std::string_view tilt,
                                         std::string_view zoom);

// Checks a text an owner typed for a name or description: UTF-8, no control characters (line
// breaks allowed when `lines`), at most `maxBytes`. Returns the reason it is refused, or empty.
std::string checkOwnerText(std::string_view text, std::size_t maxBytes, bool lines,
                           const char* what);

// Identifiers must be valid camera identifiers (the callers check them). Failures throw
// StorageError.
class PageStore {
  public:
    virtual ~PageStore() = default;

    // The camera's presets in the order they were added.
    virtual std::vector<Preset> presets(const std::string& camera) = 0;
    // Adds a preset, or replaces the command of the one with the same name. False when the
    // camera has kMaxPresets already (and this is a new name).
    virtual bool savePreset(const std::string& camera, const Preset& preset) = 0;
    // False when there was no such preset.
    virtual bool deletePreset(const std::string& camera, const std::string& name) = 0;

    // The default skin when none was chosen.
    virtual std::string skin(const std::string& camera) = 0;
    virtual void setSkin(const std::string& camera, const std::string& skin) = 0;

    virtual std::optional<Profile> profile(const std::string& camera) = 0;
    virtual void setProfile(const std::string& camera, const Profile& profile) = 0;

    // The station of the camera spoke from `address` just now (registration, uploads, option
    // sync, listing). Written only when it changed.
    virtual void noteStation(const std::string& camera, const std::string& address) = 0;
    // The address the camera's station last spoke from; empty when unknown.
    virtual std::string stationAddress(const std::string& camera) = 0;

    // Forgets everything kept for the camera.
    virtual void forget(const std::string& camera) = 0;
};

} // namespace reflector
