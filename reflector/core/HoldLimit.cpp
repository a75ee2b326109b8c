#include "core/HoldLimit.h"

namespace reflector {

HoldLimit::Permit::~Permit() {
    if (owner_ != nullptr) {
        owner_->release(address_);
    }
}

HoldLimit::Permit HoldLimit::tryHold(const std::string& address) {
    std::lock_guard lock(mutex_);
    if (held_ >= total_) {
        return {};
    }
    const auto it = byAddress_.find(address);
    if (perAddress_ > 0 && it != byAddress_.end() && it->second >= perAddress_) {
        return {};
    }
    ++byAddress_[address];
    ++held_;
    return Permit(this, address);
}

std::size_t HoldLimit::held() const {
    std::lock_guard lock(mutex_);
    return held_;
}

void HoldLimit::release(const std::string& address) {
    std::lock_guard lock(mutex_);
    --held_;
    const auto it = byAddress_.find(address);
    if (it != byAddress_.end() && --it->second == 0) {
        byAddress_.erase(it);
    }
}

} // namespace reflector
