// cmddistributor::IIP: one item of work that a request carries to the engine (an evaluation,
// for instance). Concrete items derive from it; the distributor finds out what it got with
// boost::dynamic_pointer_cast. Shared by boost::shared_ptr between the request and the run.
#pragma once

#include "host/Export.hpp"

namespace cmddistributor {

class QUORIX_HOST_API IIP {
  public:
    virtual ~IIP();
};

}  // namespace cmddistributor
