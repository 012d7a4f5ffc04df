#include "connector/framework/ContextState.hpp"

#include <mutex>
#include <stdexcept>

namespace connector::common {

ContextState::~ContextState() = default;

bool ContextState::has(const std::string& key) const {
    std::shared_lock<std::shared_mutex> lock(mutex_);
    return entries_.count(key) != 0;
}

boost::any ContextState::get(const std::string& key) const {
    std::shared_lock<std::shared_mutex> lock(mutex_);
    auto found = entries_.find(key);
    if (found == entries_.end()) throw std::out_of_range("No context entry named '" + key + "'");
    return found->second.value;
}

void ContextState::set(const std::string& key, boost::any value, ContextScope scope) {
    // The parameter is the copy, made outside the lock; the swap below cannot throw.
    std::unique_lock<std::shared_mutex> lock(mutex_);
    Entry& entry = entries_[key];
    entry.value.swap(value);
    entry.scope = scope;
}

boost::optional<ContextScope> ContextState::scopeOf(const std::string& key) const {
    std::shared_lock<std::shared_mutex> lock(mutex_);
    auto found = entries_.find(key);
    if (found == entries_.end()) return boost::none;
    return found->second.scope;
}

std::vector<std::string> ContextState::keys() const {
    std::shared_lock<std::shared_mutex> lock(mutex_);
    std::vector<std::string> names;
    names.reserve(entries_.size());
    for (const auto& entry : entries_) names.push_back(entry.first);
    return names;
}

}  // namespace connector::common
