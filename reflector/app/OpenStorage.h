#pragma once

#include "core/Config.h"
#include "stores/Storage.h"

#include <memory>

namespace reflector {

// The storage the configuration asks for, chosen once at start: the shared one
// (stores/shared/SharedStorage.h) when the configuration names a database and Redis, else the
// embedded one (the data folder and this process's memory, stores/embedded/). Throws
// StorageError when it cannot be used; its message never holds a password.
std::unique_ptr<Storage> openStorage(const RelayConfig& config);

} // namespace reflector
