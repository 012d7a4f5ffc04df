// qxutil::except::IQExceptionEnvelope: what every host error carries across the engine, whatever
// its concrete type: a message for people and an identifier for programs ("Quorix:..."; may be
// empty). Implementations are immutable after construction and safe to read from any thread.
#pragma once

#include <string>

#include "host/Export.hpp"

namespace qxutil::except {

class QUORIX_HOST_API IQExceptionEnvelope {
  public:
    virtual ~IQExceptionEnvelope();

    // getMessage: the UTF-8 text shown to the user, exactly as raised.
    [[nodiscard]] virtual const std::string& getMessage() const noexcept = 0;
    // getIdentifier: the machine-readable error id, "" when the error has none.
    [[nodiscard]] virtual const std::string& getIdentifier() const noexcept = 0;
};

}  // namespace qxutil::except
