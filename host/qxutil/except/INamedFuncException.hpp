// qxutil::except::INamedFuncException: a host error that knows the host function in which it was
// raised ("" when it arose outside any function, e.g. in the distributor itself).
#pragma once

#include <string>

#include "host/Export.hpp"

namespace qxutil::except {

class QUORIX_HOST_API INamedFuncException {
  public:
    virtual ~INamedFuncException();

    [[nodiscard]] virtual const std::string& getFunctionName() const noexcept = 0;
};

}  // namespace qxutil::except
