// connector::common::DeferredService: the base through which the framework holds services it
// creates on behalf of a plug-in (for example a JSON registration) and destroys when done.
#pragma once

#include "connector/framework/Visibility.hpp"

namespace connector::common {

class CONNECTOR_FRAMEWORK_API DeferredService {
  public:
    DeferredService() = default;
    virtual ~DeferredService() = default;
};

}  // namespace connector::common
