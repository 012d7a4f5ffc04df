#include "connector/framework/ContextState.hpp"

#include <mutex>
#include <stdexcept>
#include <unordered_map>

#include "connector/framework/StringTable.hpp"

namespace connector::common {

ContextState::~ContextState() = default;

bool ContextState::has(const std::string& key) const {
    std::shared_lock<std::shared_mutex> lock(mutex);
    return entries.count(key) != 0;
}

boost::any ContextState::get(const std::string& key) const {
    std::shared_lock<std::shared_mutex> lock(mutex);
    auto found = entries.find(key);
    if (found == entries.end()) throw std::out_of_range("No context entry named '" + key + "'");
    return found->second.value;
}

void ContextState::set(const std::string& key, boost::any value, ContextScope scope) {
    // The parameter is the copy, made outside the lock; the swap below cannot throw.
    std::unique_lock<std::shared_mutex> lock(mutex);
    Entry& entry = entries[key];
    entry.value.swap(value);
    entry.scope = scope;
}

boost::optional<ContextScope> ContextState::scopeOf(const std::string& key) const {
    std::shared_lock<std::shared_mutex> lock(mutex);
    auto found = entries.find(key);
    if (found == entries.end()) return boost::none;
    return found->second.scope;
}

std::vector<std::string> ContextState::keys() const {
    std::shared_lock<std::shared_mutex> lock(mutex);
    std::vector<std::string> names;
    names.reserve(entries.size());
    for (const auto& entry : entries) names.push_back(entry.first);
    return names;
}

namespace {

// What a hash-table node and its bookkeeping cost beside the key and the value themselves.
constexpr std::size_t ENTRY_OVERHEAD = 64;

std::size_t valueBytes(const boost::any& value) {
    if (const auto* text = boost::any_cast<std::string>(&value)) return text->capacity();
    if (const auto* wide = boost::any_cast<std::u16string>(&value))
        return wide->capacity() * sizeof(char16_t);
    if (const auto* table = boost::any_cast<StringTable>(&value)) {
        std::size_t bytes = 0;
        for (const auto& [name, text] : *table)
            bytes += ENTRY_OVERHEAD + name.capacity() + text.capacity();
        return bytes;
    }
    return sizeof(boost::any) + 16;
}

}  // namespace

std::size_t ContextState::approximateBytes() const {
    std::shared_lock<std::shared_mutex> lock(mutex);
    std::size_t bytes = sizeof(ContextState);
    for (const auto& [key, entry] : entries)
        bytes += ENTRY_OVERHEAD + key.capacity() + valueBytes(entry.value);
    return bytes;
}

}  // namespace connector::common
