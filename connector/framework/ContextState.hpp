// connector::common::ContextState: the per-client key/value store shared by the services of a
// client. Values are boost::any; each entry remembers the scope it was written with.
//
// Threads: every operation is safe to call from any number of threads at once; a reader never
// sees a half-written value (get returns a copy made under the lock).
// Errors: get of an absent key throws std::out_of_range naming the key.
#pragma once

#include <boost/any.hpp>
#include <boost/optional.hpp>
#include <shared_mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "connector/framework/Visibility.hpp"

namespace connector::common {

// ContextScope: how long an entry lives for the framework. Services of this plug-in always
// write with Session (value 1): the entry belongs to the client's session.
enum class ContextScope : int { Request = 0, Session = 1 };

class CONNECTOR_FRAMEWORK_API ContextState {
  public:
    ContextState() = default;
    ContextState(const ContextState&) = delete;
    ContextState& operator=(const ContextState&) = delete;
    virtual ~ContextState();

    bool has(const std::string& key) const;
    // get: a copy of the value stored under `key`. REQUIRES: has(key), else std::out_of_range.
    boost::any get(const std::string& key) const;
    // set: stores `value` under `key`, replacing any earlier value and scope. By value, so that a
    // caller's temporary is moved in rather than copied again.
    void set(const std::string& key, boost::any value, ContextScope scope);

    // scopeOf: the scope `key` was last written with, or none when absent.
    boost::optional<ContextScope> scopeOf(const std::string& key) const;
    std::vector<std::string> keys() const;

    // approximateBytes: about how much memory the entries hold: keys and texts by their length,
    // string tables entry by entry, anything else by a fixed allowance. What a session store
    // counts against its memory budget.
    std::size_t approximateBytes() const;

  private:
    struct Entry {
        boost::any value;
        ContextScope scope;
    };

    mutable std::shared_mutex mutex;
    std::unordered_map<std::string, Entry> entries;
};

}  // namespace connector::common
