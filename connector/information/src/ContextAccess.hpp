// Typed access to the context entries of ContextKeys.hpp. Each key carries its value's type, so a
// value of another type can neither be written under it nor be mistaken for its value when read.
// The key is a template argument: its name is made a std::string once, not on every access.
// Threads and errors: those of the context state (safe from any thread).
#pragma once

#include <boost/any.hpp>
#include <boost/optional.hpp>
#include <boost/throw_exception.hpp>
#include <string>
#include <type_traits>
#include <utility>

#include "connector/framework/ContextState.hpp"
#include "connector/information/v1/ContextKeys.hpp"

namespace connector::information::v1 {

// Every entry this plug-in writes belongs to the client's session (scope value 1).
inline constexpr connector::common::ContextScope WRITE_SCOPE =
    connector::common::ContextScope::Session;

template <const auto& Key>
using ContextValue = typename std::decay_t<decltype(Key)>::Value;

template <const auto& Key>
const std::string& contextKeyName() {
    static const std::string name(Key.name);
    return name;
}

template <const auto& Key>
bool hasContextValue(const connector::common::ContextState& state) {
    return state.has(contextKeyName<Key>());
}

// getContextValue: the value under Key, moved out of the copy the state gives.
// REQUIRES: present (else std::out_of_range); boost::bad_any_cast for a value of another type.
template <const auto& Key>
ContextValue<Key> getContextValue(const connector::common::ContextState& state) {
    boost::any stored = state.get(contextKeyName<Key>());
    auto* value = boost::any_cast<ContextValue<Key>>(&stored);
    if (value == nullptr) boost::throw_exception(boost::bad_any_cast());
    return std::move(*value);
}

// findContextValue: the value under Key; none when absent or of another type.
template <const auto& Key>
boost::optional<ContextValue<Key>> findContextValue(const connector::common::ContextState& state) {
    if (!hasContextValue<Key>(state)) return boost::none;
    boost::any stored = state.get(contextKeyName<Key>());
    auto* value = boost::any_cast<ContextValue<Key>>(&stored);
    if (value == nullptr) return boost::none;
    return std::move(*value);
}

// setContextValue: stores `value` under Key with WRITE_SCOPE, replacing what was there.
template <const auto& Key>
void setContextValue(connector::common::ContextState& state, ContextValue<Key> value) {
    state.set(contextKeyName<Key>(), boost::any(std::move(value)), WRITE_SCOPE);
}

}  // namespace connector::information::v1
