// Synchronising the viewer-facing options with the service.
#pragma once

namespace kestrova {

class SettingsSync {
  public:
    // Sends the viewer-facing options to the relay while the relay side runs (an option that
    // the service enforces changed).
    void Synchronize();

    // The first synchronisation after the relay has started.
    void ReflectorSynchronize();
};

} // namespace kestrova
