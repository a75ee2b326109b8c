// Synchronising the viewer-facing options with the service.
#pragma once

namespace kestrova {

// The first synchronisation after the relay has started.
void ReflectorSynchronize();

} // namespace kestrova
