#include "app/OpenStorage.h"

#include "stores/embedded/EmbeddedStorage.h"
#include "stores/shared/SharedStorage.h"

namespace reflector {

std::unique_ptr<Storage> openStorage(const RelayConfig& config) {
    if (!config.database.empty() || !config.redis.empty()) {
        if (config.database.empty() || config.redis.empty()) {
            throw StorageError("the shared stores need both --database and --redis");
        }
        try {
            return std::make_unique<SharedStorage>(config);
        } catch (const PgError& e) {
            throw StorageError(std::string("PostgreSQL: ") + e.what());
        } catch (const RedisError& e) {
            throw StorageError(std::string("Redis: ") + e.what());
        }
    }
    return openEmbeddedStorage(config);
}

} // namespace reflector
