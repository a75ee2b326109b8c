#pragma once

#include "core/Time.h"
#include "stores/Listing.h"
#include "stores/embedded/Database.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace reflector {

// The live listing in the relay's database (table `listings`).
class SqliteListingStore : public ListingStore {
  public:
    // An entry not refreshed for `timeToLive` is gone. At most `maxEntries` entries live at once.
    SqliteListingStore(Database& db, TimeSource now, std::chrono::milliseconds timeToLive,
                       std::size_t maxEntries);

    Result post(const ListingEntry& entry, const std::string& token) override;
    Result refresh(const std::string& camera, const std::string& token) override;
    Result remove(const std::string& camera, const std::string& token) override;
    bool isListed(const std::string& camera) override;
    void forget(const std::string& camera) override;
    std::vector<ListingEntry> current() override;

  private:
    // The oldest refresh time of a live entry, in milliseconds.
    std::int64_t liveSince();

    Database& db_;
    TimeSource now_;
    std::chrono::milliseconds timeToLive_;
    std::size_t maxEntries_;
};

} // namespace reflector
