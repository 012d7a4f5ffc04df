#include "connector/framework/TypeName.hpp"

#include <boost/core/demangle.hpp>

namespace connector {

std::string typeName(const std::type_info& type) {
    return boost::core::demangle(type.name());
}

}  // namespace connector
