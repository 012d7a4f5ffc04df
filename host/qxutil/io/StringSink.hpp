// qxutil::io::StringSink: a sink that keeps everything written to it, in order. Thread-safe:
// writes and reads take the sink's own mutex.
#pragma once

#include <mutex>
#include <string>
#include <string_view>

#include "host/Export.hpp"
#include "host/qxutil/io/QXSink.hpp"

namespace qxutil::io {

class QUORIX_HOST_API StringSink final : public QXSink {
  public:
    void write(std::string_view text) override;
    // getText: a copy of everything written so far.
    [[nodiscard]] std::string getText() const;

  private:
    mutable std::mutex mutex_;
    std::string text_;
};

}  // namespace qxutil::io
