#include "posting/ChannelAnswer.h"

namespace kestrova {

namespace {

// "Start OK" turns the flag on, then "Stop OK" off: a piece with both leaves it off.
std::optional<bool> StartStop(const QByteArray& piece) {
    std::optional<bool> flag;
    if (piece.contains("Start OK"))
        flag = true;
    if (piece.contains("Stop OK"))
        flag = false;
    return flag;
}

} // namespace

ChannelAnswer ReadChannelAnswer(const QByteArray& piece) {
    ChannelAnswer answer;
    if (piece.contains("Posting;")) {
        answer.postingActive = StartStop(piece);
        if (piece.contains("Check OK"))
            answer.postingCheckOK = true;
        if (piece.contains("Check FAIL"))
            answer.postingCheckOK = false;
        answer.answered = true;
    }
    if (piece.contains("Polling;")) {
        answer.pollingActive = StartStop(piece);
        answer.answered = true;
    }
    if (piece.contains("Reflector;")) {
        answer.reflectorRunning = StartStop(piece);
        answer.answered = true;
    }
    if (piece.contains("Settings;"))
        answer.answered = true;
    for (const char* phrase : {"Dump OK", "Settings written successfully.",
                               "Failed to synchronise settings.", "Shutdown;"}) {
        if (piece.contains(phrase))
            answer.answered = true;
    }
    return answer;
}

} // namespace kestrova
