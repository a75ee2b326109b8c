#include "Notifier.h"

#include <vector>

namespace reflector {

Notifier::Subscription& Notifier::Subscription::operator=(Subscription&& other) noexcept {
    if (this != &other) {
        reset();
        owner_ = other.owner_;
        key_ = std::move(other.key_);
        id_ = other.id_;
        other.owner_ = nullptr;
    }
    return *this;
}

void Notifier::Subscription::reset() {
    if (owner_ != nullptr) {
        owner_->unsubscribe(key_, id_);
        owner_ = nullptr;
    }
}

Notifier::Subscription Notifier::subscribe(const std::string& key, std::function<void()> function) {
    std::lock_guard lock(mutex_);
    const std::uint64_t id = ++next_;
    byKey_[key].emplace(id, std::make_shared<const std::function<void()>>(std::move(function)));
    return Subscription(this, key, id);
}

void Notifier::notify(const std::string& key) {
    std::vector<Function> functions;
    {
        std::lock_guard lock(mutex_);
        const auto it = byKey_.find(key);
        if (it == byKey_.end()) {
            return;
        }
        functions.reserve(it->second.size());
        for (const auto& [id, function] : it->second) {
            functions.push_back(function);
        }
    }
    for (const Function& function : functions) {
        (*function)();
    }
}

void Notifier::notifyAll() {
    std::vector<Function> functions;
    {
        std::lock_guard lock(mutex_);
        for (const auto& [key, subscribed] : byKey_) {
            for (const auto& [id, function] : subscribed) {
                functions.push_back(function);
            }
        }
    }
    for (const Function& function : functions) {
        (*function)();
    }
}

std::size_t Notifier::subscriptions() const {
    std::lock_guard lock(mutex_);
    std::size_t count = 0;
    for (const auto& [key, subscribed] : byKey_) {
        count += subscribed.size();
    }
    return count;
}

void Notifier::unsubscribe(const std::string& key, std::uint64_t id) {
    std::lock_guard lock(mutex_);
    const auto it = byKey_.find(key);
    if (it != byKey_.end()) {
        it->second.erase(id);
        if (it->second.empty()) {
            byKey_.erase(it);
        }
    }
}

} // namespace reflector
