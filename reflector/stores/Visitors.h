#pragma once

#include "core/Notifier.h"
#include "core/Time.h"

#include <functional>
#include <string>

namespace reflector {

// Which cameras have visitors: a camera has them while a viewer watches its live stream, and
// for the visitor window after a viewer asked for its picture or page or left its stream.
// Kept for the time being only: after a restart every camera starts without.
class VisitorTracker {
  public:
    // The status, and while it is true, at least how long it stays so (zero otherwise).
    using Status = std::function<void(bool visited, WallClock::duration endsIn)>;

    virtual ~VisitorTracker() = default;

    // True when status() answers from memory, never waiting on a disk or the network.
    virtual bool inMemory() const = 0;

    // A viewer asked for the camera's picture or page just now. These three run on network
    // threads and never wait: a store that keeps visits elsewhere sends them on its own.
    virtual void noteVisit(const std::string& camera) = 0;
    // A viewer started or stopped watching the camera's live stream.
    virtual void startWatching(const std::string& camera) = 0;
    virtual void stopWatching(const std::string& camera) = 0;

    bool hasVisitors(const std::string& camera) { return status(camera, nullptr); }
    // The status, and while it is true, in `endsIn` at least how long it stays so (left
    // untouched otherwise).
    virtual bool status(const std::string& camera, WallClock::duration* endsIn) = 0;
    // The same for a held poll, which runs on a network thread and must not wait: `done` gets
    // it, at once or later on a thread of the store's. This one calls status() at once; a store
    // that is not in memory asks on a thread of its own.
    virtual void statusAsync(const std::string& camera, Status done);

    // `function` is called when the camera gets visitors after having none, on whatever relay
    // they came (see Notifier).
    virtual Subscription subscribe(const std::string& camera, std::function<void()> function) = 0;
};

} // namespace reflector
