// connector::Address: the opaque token of a message's sender. Services move it on unchanged.
#pragma once

#include <string>
#include <utility>

#include "connector/framework/Visibility.hpp"

namespace connector {

class CONNECTOR_FRAMEWORK_API Address {
  public:
    Address() = default;
    explicit Address(std::string sender) : token(std::move(sender)) {}

    const std::string& sender() const noexcept { return token; }

  private:
    std::string token;
};

}  // namespace connector
