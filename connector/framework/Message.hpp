// connector::Message: the polymorphic, non-copyable root of every message. Messages travel as
// std::unique_ptr<connector::Message>; whoever holds the pointer owns the message.
#pragma once

#include "connector/framework/Visibility.hpp"

namespace connector {

class CONNECTOR_FRAMEWORK_API Message {
  public:
    Message() = default;
    Message(const Message&) = delete;
    Message& operator=(const Message&) = delete;
    virtual ~Message() = default;
};

}  // namespace connector
