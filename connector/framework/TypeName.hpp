// Readable run-time type names (namespaces and template arguments included) for error texts.
// Thread-safe; never throws for a valid type_info.
#pragma once

#include <string>
#include <typeinfo>

#include "connector/framework/Visibility.hpp"

namespace connector {

// typeName: the demangled name of `type`, e.g. "connector::ServiceMessage<my::Provider>".
CONNECTOR_FRAMEWORK_API std::string typeName(const std::type_info& type);

}  // namespace connector
