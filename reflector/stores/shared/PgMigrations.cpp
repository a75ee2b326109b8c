#include "stores/shared/PgMigrations.h"

namespace reflector {

int migrate(PgPool& pool, const std::vector<PgMigration>& migrations,
            std::chrono::milliseconds lockWait) {
    int latest = 0;
    for (const PgMigration& migration : migrations) {
        if (migration.version <= latest) {
            throw PgError("schema migration " + std::to_string(migration.version) +
                          " is out of order (after " + std::to_string(latest) + ")");
        }
        latest = migration.version;
    }
    PgPool::Lease lease = pool.acquire();
    // Waiting for another relay's migration, and a migration itself, may take longer than the
    // relay's everyday statements.
    lease->setStatementTimeout(lockWait);
    for (;;) {
        const int reached = lease->transaction([&](PgConnection& db) {
            db.exec("SELECT pg_advisory_xact_lock($1)", {std::int64_t{kMigrationLockKey}});
            db.execScript("CREATE TABLE IF NOT EXISTS schema_migrations ("
                          "version integer PRIMARY KEY, "
                          "applied_at timestamptz NOT NULL DEFAULT now())");
            const int current = static_cast<int>(
                db.exec("SELECT coalesce(max(version), 0) FROM schema_migrations").integer(0, 0));
            if (current > latest) {
                throw PgError("the database " + pool.shownUrl() + " has schema version " +
                              std::to_string(current) + ", newer than this relay knows (" +
                              std::to_string(latest) +
                              "): run the relay's newer release against it");
            }
            for (const PgMigration& migration : migrations) {
                if (migration.version > current) {
                    try {
                        db.execScript(migration.sql);
                    } catch (const PgError& e) {
                        throw PgError("schema migration " + std::to_string(migration.version) +
                                          " failed: " + e.what(),
                                      e.sqlstate(), e.connectionLost());
                    }
                    db.exec("INSERT INTO schema_migrations (version, applied_at) "
                            "VALUES ($1, now())",
                            {migration.version});
                    return migration.version;
                }
            }
            return current;
        });
        if (reached == latest) {
            return reached;
        }
    }
}

} // namespace reflector
