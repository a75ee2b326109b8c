// What one piece of text from the posting helper's channel says. The station looks for fixed
// phrases anywhere in each piece it receives, case-sensitively; a phrase split across two
// pieces is not seen.
#pragma once

#include <QByteArray>

#include <optional>

namespace kestrova {

struct ChannelAnswer {
    // The flags the piece sets; nullopt leaves a flag as it is.
    std::optional<bool> postingActive;
    std::optional<bool> postingCheckOK;
    std::optional<bool> pollingActive;
    std::optional<bool> reflectorRunning;
    // The piece answers the request that waits on the channel.
    bool answered = false;
};

// The tests, in their order: the "Posting;" family ("Start OK", then "Stop OK", then
// "Check OK", then "Check FAIL", so a piece with both phrases of a pair leaves the flag false),
// the "Polling;" and "Reflector;" families ("Start OK", then "Stop OK"), the settings answers
// ("Settings;", "Settings written successfully.", "Failed to synchronise settings."), "Dump OK"
// and "Shutdown;". Each family is tested on its own.
ChannelAnswer ReadChannelAnswer(const QByteArray& piece);

} // namespace kestrova
