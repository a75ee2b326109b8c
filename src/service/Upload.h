// The live frame upload to the relay.
#pragma once

namespace kestrova {

void UploadImage(bool override);
void WatchdogTick();

void CloseReflectorSocket();

// Closes the web request and archive sockets.
void CloseServiceSockets();

} // namespace kestrova
