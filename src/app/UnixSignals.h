#pragma once

#include <functional>

namespace kestrova {

// Turns SIGTERM, SIGINT and SIGHUP into calls of `onSignal` on the window thread.
void WatchTerminationSignals(std::function<void()> onSignal);

} // namespace kestrova
