#include "routes/Answers.h"

#include "core/Text.h"
#include "pages/Pages.h"

namespace reflector {

HttpAnswer refusalFor(const std::string& path, int status, const std::string& reason) {
    if (path == "/webcams/Reflector") {
        return textAnswer(status, "Reflector: false - " + reason);
    }
    if (path == "/webcams/Archive") {
        return textAnswer(status, "Archive: false - " + reason);
    }
    if (path == "/webcams/SyncWebcams") {
        return textAnswer(status, "Failed to synchronise settings. " + sentence(reason));
    }
    if (path == "/live/post" || path == "/live/refresh" || path == "/live/remove") {
        return textAnswer(status, "Listing: false - " + reason);
    }
    if (path == "/live/check") {
        return textAnswer(status, "Listed: false - " + reason);
    }
    if (path == "/webcams/command") {
        return textAnswer(status, "Command refused: " + reason);
    }
    return textAnswer(status, reason);
}

HttpAnswer busyAnswer() {
    return textAnswer(503, "Reflector: false - Exists: false - Listing: false - too many "
                           "connections from your address at once, try again shortly. "
                           "Failed to synchronise settings.");
}

HttpAnswer fullAnswer() {
    return textAnswer(503, "Reflector: false - Exists: false - Listing: false - the relay has "
                           "as many connections as it takes, try again shortly. "
                           "Failed to synchronise settings.");
}

HttpAnswer redirect(const std::string& location) {
    HttpAnswer answer;
    answer.status = 303;
    answer.headers.emplace_back("Location", location);
    return answer;
}

HttpAnswer pageMessage(int status, const std::string& title, const std::string& message) {
    return htmlAnswer(status, messagePage(title, message));
}

HttpAnswer invalidCamera() {
    return pageMessage(400, "Not a camera", "A camera id has 1 to 50 letters, digits, '-' or '_'.");
}

HttpAnswer unknownCamera(const std::string& id) {
    return pageMessage(404, "Unknown camera", "No camera " + id + " is registered here.");
}

HttpAnswer otherSite() {
    return textAnswer(403, "Refused: sent from a page of another site");
}

HttpAnswer tooManyTries(std::chrono::seconds wait, HttpAnswer answer) {
    answer.headers.emplace_back("Retry-After", std::to_string(wait.count()));
    return answer;
}

std::string waitText(std::chrono::seconds wait, const char* from) {
    return std::string("Too many wrong passwords ") + from + ": try again in " +
           std::to_string(wait.count()) + (wait.count() == 1 ? " second." : " seconds.");
}

} // namespace reflector
