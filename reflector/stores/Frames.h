#pragma once

#include "core/Notifier.h"

#include <functional>
#include <memory>
#include <string>

namespace reflector {

// One stored frame and its entity tag, which changes whenever the bytes do.
struct Frame {
    std::string jpeg;
    std::string etag; // quoted, as in an ETag header
};

// The entity tag of a frame's bytes.
std::string frameTag(const std::string& jpeg);

// The latest frame of each camera. Frames are handed out shared, never copied, so that every
// viewer of a camera is sent the same bytes. Identifiers must pass isValidCameraId; any other
// throws std::invalid_argument, so no file name or key is ever made from unchecked text.
// Failures to store throw StorageError.
class FrameStore {
  public:
    using Fetched = std::function<void(std::shared_ptr<const Frame> frame)>;

    virtual ~FrameStore() = default;

    // Stores `jpeg` as the camera's latest frame (the previous one stays when that fails),
    // then tells the camera's subscribers. May wait on a disk or the network.
    virtual void put(const std::string& id, std::string jpeg) = 0;
    // The camera's latest frame, or null when there is none. Waits on a disk or the network
    // unless inMemory(id).
    virtual std::shared_ptr<const Frame> frame(const std::string& id) = 0;
    // The same for a live stream, which runs on a network thread and must not wait: `done`
    // gets the frame at once when it is in memory, else later on a thread of the store's (a
    // failure to read it gives null). This one calls frame() at once.
    virtual void frameAsync(const std::string& id, Fetched done) { done(frame(id)); }
    // Its bytes only.
    std::shared_ptr<const std::string> latest(const std::string& id);
    // True when frame(id) answers from memory now. Never waits; any text may be asked.
    virtual bool inMemory(const std::string& id) = 0;
    // Removes the camera's frame.
    virtual void remove(const std::string& id) = 0;
    // `function` is called after every frame stored for the camera, on whatever relay it was
    // stored (see Notifier). A live stream asks for the new frame (frameAsync) as soon as it is
    // called: a store keeps the frame in memory before it tells its subscribers, so that it is
    // answered at once unless the frame has left memory meanwhile.
    virtual Subscription subscribe(const std::string& id, std::function<void()> function) = 0;
};

} // namespace reflector
