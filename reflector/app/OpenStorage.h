#pragma once

#include "core/Config.h"
#include "stores/Storage.h"

#include <memory>

namespace reflector {

// The storage the configuration asks for, chosen once at start: the embedded one (the data
// folder and this process's memory, stores/embedded/) unless the configuration names shared
// stores. Throws when it cannot be used.
std::unique_ptr<Storage> openStorage(const RelayConfig& config);

} // namespace reflector
