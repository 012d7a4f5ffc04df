#include "host/qxutil/io/StringSink.hpp"
#include "host/qxutil/io/QXSink.hpp"

namespace qxutil::io {

QXSink::~QXSink() = default;

void StringSink::write(std::string_view text) {
    std::lock_guard<std::mutex> lock(mutex_);
    text_.append(text);
}

std::string StringSink::getText() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return text_;
}

}  // namespace qxutil::io
