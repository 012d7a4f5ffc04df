// qxutil::io::QXSink: where a run writes its output or error text (UTF-8). An engine hands each
// run one sink per stream (see qvm::QVM::wrapSink). Implementations must accept writes from any
// thread.
#pragma once

#include <string_view>

#include "host/Export.hpp"

namespace qxutil::io {

class QUORIX_HOST_API QXSink {
  public:
    virtual ~QXSink();
    virtual void write(std::string_view text) = 0;
};

}  // namespace qxutil::io
