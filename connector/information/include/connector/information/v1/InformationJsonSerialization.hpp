// InformationJsonSerialization: teaches the framework's JSON serializer the twelve information
// messages. Constructing it registers, in a fixed order, each type name ("connector/v1/...")
// with its class's type identity and codecs; destroying it (or any copy of it) withdraws all
// twelve, in the same order, by type identity.
//
// Ownership: shares the serializer with the framework. Copies share it too and register nothing.
// Errors: an exception from registerType leaves the constructor (rows already registered stay);
// the destructor lets nothing out. REQUIRES: a non-empty serializer.
// Threads: no state of its own after construction; the serializer does its own locking.
#pragma once

#include <memory>

#include "connector/framework/DeferredService.hpp"
#include "connector/framework/JsonSerializer.hpp"
#include "connector/information/v1/Export.hpp"

namespace connector::information::v1 {

class CONNECTOR_INFORMATION_API InformationJsonSerialization
    : public connector::common::DeferredService {
  public:
    explicit InformationJsonSerialization(
        std::shared_ptr<connector::json::JsonSerializer> serializer);
    InformationJsonSerialization(const InformationJsonSerialization& other);
    InformationJsonSerialization& operator=(const InformationJsonSerialization& other);
    ~InformationJsonSerialization() override;

  private:
    std::shared_ptr<connector::json::JsonSerializer> serializer;
};

}  // namespace connector::information::v1
