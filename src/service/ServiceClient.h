// The station's side of the service: its exchanges with the directory and the relay, each on
// its own socket, made and closed with the station.
#pragma once

#include "service/Reflector.h"
#include "service/Sync.h"
#include "service/Upload.h"
#include "service/WebRequest.h"

namespace kestrova {

struct ServiceClient {
    WebClient web;
    Uploader uploader;
    SettingsSync sync;
    ReflectorClient reflector{web, uploader, sync};

    // Closes the web request socket and the archive socket without running their handlers.
    void CloseServiceSockets() { web.CloseWebSocket(); }
};

} // namespace kestrova
