#pragma once

// Reading what clients send: the station's and the helper's forms, the forms of the relay's own
// pages, and the checks that a change comes from this site.

#include "core/Http.h"
#include "stores/CameraOptions.h"
#include "stores/Listing.h"
#include "stores/Registry.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace reflector {

// The first value of a form field; empty when absent.
std::string formField(const Fields& fields, const char* name);
// True when the request's body is a form (application/x-www-form-urlencoded).
bool isForm(const HttpRequest& req);
// The text without blanks and line ends around it.
std::string trimmed(std::string_view text);
// A name to show that came with an address or a form: UTF-8, control characters dropped,
// blanks around removed, cut to `maxBytes`.
std::string cleanName(std::string_view text, std::size_t maxBytes);
// An address on this relay to go back to after the password: a path with its query as the
// browser sent it; anything else (another site, "//host", control characters) is not.
bool isLocalTarget(std::string_view target);

// A whole number of at most 18 digits (a frame or message number); nullopt for anything else.
std::optional<std::int64_t> readId(const std::string& text);

// True unless the request names another site as its origin: a request without an Origin
// header (not sent by a browser's script or form of another site) passes; "null" does not.
// The origin's host and port are compared with the Host header's.
bool sameOrigin(const HttpRequest& request);

// The checks of a change that a page of this relay sends for a camera: from this site, a form
// (`formText` says what comes as one), naming a valid camera identifier, of a camera registered
// here unless `anyCamera`. The refusal when one fails; nothing, and `fields` and `id` filled,
// when all pass.
std::optional<HttpAnswer> readCameraForm(const HttpRequest& req, Registry& registry,
                                         const char* formText, Fields& fields, std::string& id,
                                         bool anyCamera = false);

// What the station's option form says: the options and the viewer password in plain text.
struct SyncForm {
    CameraOptions options;
    std::string password;
};

// The result of reading the form: `error` (a sentence) is empty on success.
struct ParsedSync {
    SyncForm form;
    std::string error;
};

// Reads the station's form body: the fields id, path, zoom, snapshot, chat, secure, password,
// ptz, presets, archive and chatID, each once, form-encoded (the password percent-encoded; the
// room name in chatID arrives percent-encoded too, so one decoding gives the name).
ParsedSync parseSyncForm(std::string_view body);

// The result of reading a posted listing entry: `error` (a few words) is empty on success.
struct ParsedListing {
    ListingEntry entry;
    std::string token; // empty: none given
    std::string error;
};

// Reads the fields of "POST /live/post" (already form-decoded).
ParsedListing parseListingPost(const Fields& fields);

} // namespace reflector
