// The client context-state entries that the plug-in's services share, each declared once with the
// kind of value stored under it. The client-type service writes "clientType", "origClientType"
// and "clientProperties" when a client announces itself; the information service reads
// "clientType" (locality), "clientProperties" (GetCurrentClientProperties) and the two flags the
// framework writes. A host that writes entries for the plug-in can walk CONTEXT_KEYS to check the
// form of each value before it writes it.
//
// Constant data only, usable at compile time; nothing here is a symbol of the library.
#pragma once

#include <string>
#include <string_view>

#include "connector/information/v1/InformationTypes.hpp"

namespace connector::information::v1 {

// ContextValueKind: what an entry holds: a text (std::string), a flag (bool) or a table of texts
// (StringTable). No other type is read or written under these keys.
enum class ContextValueKind { Text, Flag, TextTable };

template <ContextValueKind Kind>
struct ContextValueOf;
template <>
struct ContextValueOf<ContextValueKind::Text> {
    using type = std::string;
};
template <>
struct ContextValueOf<ContextValueKind::Flag> {
    using type = bool;
};
template <>
struct ContextValueOf<ContextValueKind::TextTable> {
    using type = StringTable;
};

// ContextKeyInfo: a key's name and the kind of its value.
struct ContextKeyInfo {
    std::string_view name;
    ContextValueKind kind;
};

// ContextKey<Kind>: a key whose value has the C++ type Value.
template <ContextValueKind Kind>
struct ContextKey : ContextKeyInfo {
    using Value = typename ContextValueOf<Kind>::type;
    constexpr explicit ContextKey(std::string_view keyName) : ContextKeyInfo{keyName, Kind} {}
};

namespace contextkeys {

inline constexpr ContextKey<ContextValueKind::Text> CLIENT_TYPE{"clientType"};
inline constexpr ContextKey<ContextValueKind::Text> ORIG_CLIENT_TYPE{"origClientType"};
inline constexpr ContextKey<ContextValueKind::TextTable> CLIENT_PROPERTIES{"clientProperties"};
inline constexpr ContextKey<ContextValueKind::Flag> GDS_ENABLED{"gdsEnabled"};
inline constexpr ContextKey<ContextValueKind::Flag> LOGIN_REQUIRED{"loginRequired"};

}  // namespace contextkeys

// CONTEXT_KEYS: every key above, for a host to iterate over.
inline constexpr ContextKeyInfo CONTEXT_KEYS[] = {
    contextkeys::CLIENT_TYPE, contextkeys::ORIG_CLIENT_TYPE, contextkeys::CLIENT_PROPERTIES,
    contextkeys::GDS_ENABLED, contextkeys::LOGIN_REQUIRED,
};

}  // namespace connector::information::v1
