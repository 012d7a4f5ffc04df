// connectorhost::InputError: a request the host refuses because of what the client sent, with
// the error kind that its answer carries ("parse_error", "too_deep", "invalid_envelope", ...).
// Whatever a request does after it is refused, nothing of it has been written anywhere.
#pragma once

#include <stdexcept>
#include <string>

namespace connectorhost {

class InputError : public std::runtime_error {
  public:
    InputError(std::string kind, const std::string& message)
        : std::runtime_error(message), kind_(std::move(kind)) {}

    [[nodiscard]] const std::string& kind() const noexcept { return kind_; }

  private:
    std::string kind_;
};

}  // namespace connectorhost
