#include "app/OpenStorage.h"

#include "stores/embedded/EmbeddedStorage.h"

namespace reflector {

std::unique_ptr<Storage> openStorage(const RelayConfig& config) {
    return openEmbeddedStorage(config);
}

} // namespace reflector
