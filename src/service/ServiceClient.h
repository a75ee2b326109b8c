// The station's side of the service: its exchanges with the directory and the relay, each on
// its own socket, made and closed with the station.
#pragma once

#include "service/Archive.h"
#include "service/Reflector.h"
#include "service/Sync.h"
#include "service/Upload.h"
#include "service/WebRequest.h"

namespace kestrova {

struct ServiceClient {
    WebClient web;
    Uploader uploader;
    SettingsSync sync;
    ArchiveUploader archive{sync};
    ReflectorClient reflector{web, uploader, sync};

    // Closes the sockets of the web requests, the archive and the option synchronisation
    // without running their handlers.
    void CloseServiceSockets() {
        web.CloseWebSocket();
        archive.CloseArchiveSocket();
        sync.CloseSyncSocket();
    }
};

} // namespace kestrova
