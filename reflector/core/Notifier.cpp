#include "core/Notifier.h"

#include <vector>

namespace reflector {

Subscription& Subscription::operator=(Subscription&& other) noexcept {
    if (this != &other) {
        reset();
        end_ = std::move(other.end_);
        other.end_ = nullptr;
    }
    return *this;
}

void Subscription::reset() {
    if (end_) {
        const std::function<void()> end = std::move(end_);
        end_ = nullptr;
        end();
    }
}

Subscription Notifier::subscribe(const std::string& key, std::function<void()> function) {
    std::lock_guard lock(mutex_);
    const std::uint64_t id = ++next_;
    byKey_[key].emplace(id, std::make_shared<const std::function<void()>>(std::move(function)));
    return Subscription([this, key, id] { unsubscribe(key, id); });
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
