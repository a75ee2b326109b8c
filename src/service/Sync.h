// Synchronising the viewer-facing options with the service.
#pragma once

namespace kestrova {

class SettingsSync {
  public:
    // The first synchronisation after the relay has started.
    void ReflectorSynchronize();
};

} // namespace kestrova
