#include "stores/Frames.h"

#include <cstdio>
#include <functional>
#include <string_view>

namespace reflector {

std::string frameTag(const std::string& jpeg) {
    char tag[48];
    std::snprintf(tag, sizeof tag, "\"%016zx-%zx\"", std::hash<std::string_view>()(jpeg),
                  jpeg.size());
    return tag;
}

std::shared_ptr<const std::string> FrameStore::latest(const std::string& id) {
    std::shared_ptr<const Frame> stored = frame(id);
    if (!stored) {
        return nullptr;
    }
    const std::string* bytes = &stored->jpeg;
    return std::shared_ptr<const std::string>(std::move(stored), bytes);
}

} // namespace reflector
