#pragma once

// The answers several route groups give, each worded in one place.

#include "core/Http.h"

#include <chrono>
#include <string>

namespace reflector {

// The answer to a request refused before its handler ran, or by it: texts in the style of the
// address, so that the station and the helper recognise them ("Reflector: false - ...",
// "Archive: false - ...", "Failed to synchronise settings. ...", "Listing: false - ..."); other
// addresses get `reason` as it is.
HttpAnswer refusalFor(const std::string& path, int status, const std::string& reason);

// The answer to a connection turned away for its address before its request was read. It holds
// the refusal phrases of every exchange the station and its helper wait on, so none of them
// takes it for success or waits on.
HttpAnswer busyAnswer();
// The same for a connection turned away because the relay has all the connections it takes.
HttpAnswer fullAnswer();

// A 303 to `location`.
HttpAnswer redirect(const std::string& location);
// An HTML page saying why a request cannot be served.
HttpAnswer pageMessage(int status, const std::string& title, const std::string& message);
// The pages' refusals of a camera identifier that is not one, and of an unknown camera.
HttpAnswer invalidCamera();
HttpAnswer unknownCamera(const std::string& id);
// The refusal of a change sent from a page of another site.
HttpAnswer otherSite();

// `answer` telling the client to wait `wait` before its next password.
HttpAnswer tooManyTries(std::chrono::seconds wait, HttpAnswer answer);
// "Too many wrong passwords from your address: try again in N seconds."
std::string waitText(std::chrono::seconds wait, const char* from = "from your address");

// What a password waits for the pool at most, and what it is told when the pool is full.
constexpr std::chrono::seconds kHashingLimit{10};
constexpr const char* kHashingBusy =
    "The relay is busy checking passwords: try again in a few seconds.";

} // namespace reflector
