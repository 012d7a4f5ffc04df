// qxutil::except::QXException: the error raised by the host array library (type and size checks,
// malformed serialized arrays, invalid text) and by host functions that fail. what() and
// getMessage() give the same text. Copyable (a copy owns its text, see RuntimeException); raise it
// with boost::throw_exception so that it crosses threads through boost::exception_ptr with its
// type intact.
#pragma once

#include <boost/exception/exception.hpp>
#include <stdexcept>
#include <string>

#include "host/Export.hpp"
#include "host/qxutil/except/IQExceptionEnvelope.hpp"

namespace qxutil::except {

class QUORIX_HOST_API QXException : public std::runtime_error,
                                    public IQExceptionEnvelope,
                                    public virtual boost::exception {
  public:
    QXException(std::string identifier, const std::string& message);
    QXException(const QXException& other);
    QXException& operator=(const QXException&) = delete;
    ~QXException() override;

    [[nodiscard]] const std::string& getMessage() const noexcept override { return message_; }
    [[nodiscard]] const std::string& getIdentifier() const noexcept override { return identifier_; }

  private:
    std::string identifier_;
    std::string message_;
};

}  // namespace qxutil::except
