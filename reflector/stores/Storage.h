#pragma once

// The relay's storage: an interface per store, and the Storage that hands them out. The routes
// see the stores only through these classes; which implementation stands behind them is chosen
// once at start (app/OpenStorage.h): the embedded one (SQLite and files in the data folder, the
// hot state in this process's memory), or one that relays share.
//
// Threads. Every store is safe to use from several threads. A call may wait on a disk, a
// database or the network, so the routes make it on a worker thread; only the calls a store
// says it answers from memory (its inMemory(), documented per store) may run on the network
// threads that serve the connections, where the quick routes run: the latest frame, the live
// stream, snapshots and thumbnails, viewers' commands, and the polls of the move queue and the
// visitor status. A route is quick only while every store it asks answers from memory (a
// latest frame: while that frame is in memory). A held poll asks its store again on a network
// thread, so it asks through the calls that may answer later (MoveQueue::takeAsync,
// VisitorTracker::statusAsync), and so does a live stream for its frames
// (FrameStore::frameAsync); each is woken by the answer.
//
// Events. A new frame, a queued command and a visit reach the requests waiting for them through
// subscriptions (core/Notifier.h); a store that relays share feeds them from where it learns of
// them, so that a frame stored on one relay wakes the viewers on every relay.

#include "stores/Archive.h"
#include "stores/CameraOptions.h"
#include "stores/CameraPages.h"
#include "stores/Chat.h"
#include "stores/Frames.h"
#include "stores/Listing.h"
#include "stores/MoveQueue.h"
#include "stores/Registry.h"
#include "stores/ViewerGuard.h"
#include "stores/Visitors.h"

#include <stdexcept>
#include <string>

namespace reflector {

// A store could not do what it was asked (a disk full or read-only, a database that cannot
// be reached ...). The routes answer the request with its address's "could not store" refusal
// and log the cause.
class StorageError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// Whether the relay reaches its stores.
struct Health {
    bool ok = true;
    std::string reason; // why not, in a few words
};

class Storage {
  public:
    virtual ~Storage() = default;

    virtual Registry& registry() = 0;
    virtual FrameStore& frames() = 0;
    virtual OptionStore& options() = 0;
    virtual ArchiveStore& archive() = 0;
    virtual ListingStore& listing() = 0;
    virtual PageStore& pages() = 0;
    virtual ChatStore& chat() = 0;
    virtual MoveQueue& moves() = 0;
    virtual VisitorTracker& visitors() = 0;
    virtual ViewerSessions& sessions() = 0;
    // The counters behind the limits on clients: viewers' commands, chat messages and new
    // cameras per client address; wrong passwords per client address (viewers' and the
    // administrator's) and per camera.
    virtual RateLimiter& commandRate() = 0;
    virtual RateLimiter& chatRate() = 0;
    virtual RateLimiter& registrationRate() = 0;
    virtual LoginThrottle& loginsByAddress() = 0;
    virtual LoginThrottle& loginsByCamera() = 0;

    // True when nothing can be stored (a data folder the relay could not write at start): the
    // relay serves what the stores hold and refuses every change.
    virtual bool readOnly() const = 0;
    // Whether the relay reaches its stores now, and why not. Waits on them.
    virtual Health health() = 0;
    // Forgets a camera with all its data in every store; the camera goes first, so that
    // nothing is stored for it again meanwhile.
    virtual void forgetCamera(const std::string& id) = 0;
    // True when this relay is to forget the silent cameras now. Relays that share their stores
    // take turns, so that one of them at a time does it.
    virtual bool upkeepTurn() { return true; }
};

} // namespace reflector
