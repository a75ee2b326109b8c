#pragma once

#include "stores/shared/PgPool.h"

#include <chrono>
#include <string>
#include <vector>

namespace reflector {

// One step of the schema: its version (1, 2, ...) and the SQL that brings the schema from the
// version before to it (several statements allowed, no parameters).
struct PgMigration {
    int version;
    std::string sql;
};

// Brings the database's schema to the last of `migrations` (ordered by version, each above
// the one before; throws PgError otherwise). The versions applied are kept in
// schema_migrations(version, applied_at). Each migration runs in a transaction of its own
// under a transaction-scoped advisory lock, so that of several relays starting together one
// migrates and the others wait for it, then find the schema in place. A database at a version
// above the last one given is refused (PgError) and left as it is. `lockWait` bounds both the
// wait for another relay's migration and each migration's statements. Returns the version
// the database is at.
int migrate(PgPool& pool, const std::vector<PgMigration>& migrations,
            std::chrono::milliseconds lockWait = std::chrono::minutes(2));

// The advisory lock's key: one fixed number for every relay of a database.
constexpr long long kMigrationLockKey = 0x4b657374726f7661; // "Kestrova"

} // namespace reflector
