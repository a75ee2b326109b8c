#include "transport/AddressLimit.h"

namespace reflector {

void AddressLimit::Slot::release() {
    if (owner_ != nullptr) {
        owner_->leave(address_);
        owner_ = nullptr;
    }
}

AddressLimit::Slot AddressLimit::enter(const std::string& address) {
    std::lock_guard lock(mutex_);
    std::size_t& count = active_[address];
    if (perAddress_ > 0 && count >= perAddress_) {
        return {};
    }
    ++count;
    return Slot(this, address);
}

void AddressLimit::leave(const std::string& address) {
    std::lock_guard lock(mutex_);
    const auto it = active_.find(address);
    if (it != active_.end() && --it->second == 0) {
        active_.erase(it);
    }
}

} // namespace reflector
