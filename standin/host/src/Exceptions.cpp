#include "host/cmddistributor/RuntimeException.hpp"
#include "host/qxutil/except/INamedFuncException.hpp"
#include "host/qxutil/except/IQExceptionEnvelope.hpp"
#include "host/qxutil/except/QXException.hpp"

namespace qxutil::except {

IQExceptionEnvelope::~IQExceptionEnvelope() = default;

INamedFuncException::~INamedFuncException() = default;

QXException::QXException(std::string identifier, const std::string& message)
    : std::runtime_error(message), identifier_(std::move(identifier)), message_(message) {}

// The base is rebuilt from the text rather than copied: the standard library may share one
// reference-counted buffer between copies of an exception's message.
QXException::QXException(const QXException& other)
    : boost::exception(other)
    , std::runtime_error(other.message_)
    , IQExceptionEnvelope()
    , identifier_(other.identifier_)
    , message_(other.message_) {}

QXException::~QXException() = default;

}  // namespace qxutil::except

namespace cmddistributor {

RuntimeException::RuntimeException(inExecutionStatus status, const std::string& message,
                                   std::string identifier, std::string functionName,
                                   std::vector<StackFrame> stack,
                                   std::vector<boost::exception_ptr> causes, bool truncatedStack,
                                   std::vector<std::string> argumentValues)
    : std::runtime_error(message)
    , status_(status)
    , message_(message)
    , identifier_(std::move(identifier))
    , functionName_(std::move(functionName))
    , stack_(std::move(stack))
    , causes_(std::move(causes))
    , truncatedStack_(truncatedStack)
    , argumentValues_(std::move(argumentValues)) {}

RuntimeException::RuntimeException(const RuntimeException& other)
    : boost::exception(other)
    , std::runtime_error(other.message_)
    , IQExceptionEnvelope()
    , INamedFuncException()
    , status_(other.status_)
    , message_(other.message_)
    , identifier_(other.identifier_)
    , functionName_(other.functionName_)
    , stack_(other.stack_)
    , causes_(other.causes_)
    , truncatedStack_(other.truncatedStack_)
    , argumentValues_(other.argumentValues_) {}

RuntimeException::~RuntimeException() = default;

}  // namespace cmddistributor
