// cmddistributor::RuntimeException: the error in which the engine reports a failed run to its
// caller: an execution status and the host error's message, identifier and function name (what()
// is the message, unchanged), plus the stack frames, the errors that caused it, whether the stack
// was cut short and the text of the arguments. Immutable and copyable; it travels between
// threads in a boost::exception_ptr with its type kept. A copy owns all of its text, so the copy
// a caller reads never shares storage with the original that the engine releases on its own
// thread.
#pragma once

#include <boost/exception/exception.hpp>
#include <boost/exception_ptr.hpp>
#include <stdexcept>
#include <string>
#include <vector>

#include "host/Export.hpp"
#include "host/cmddistributor/ExecutionStatus.hpp"
#include "host/qxutil/except/INamedFuncException.hpp"
#include "host/qxutil/except/IQExceptionEnvelope.hpp"

namespace cmddistributor {

struct StackFrame {
    std::string function;
    std::string file;
    int line = 0;
};

class QUORIX_HOST_API RuntimeException : public std::runtime_error,
                                         public qxutil::except::IQExceptionEnvelope,
                                         public qxutil::except::INamedFuncException,
                                         public virtual boost::exception {
  public:
    RuntimeException(inExecutionStatus status, const std::string& message, std::string identifier,
                     std::string functionName, std::vector<StackFrame> stack,
                     std::vector<boost::exception_ptr> causes, bool truncatedStack,
                     std::vector<std::string> argumentValues);
    RuntimeException(const RuntimeException& other);
    RuntimeException& operator=(const RuntimeException&) = delete;
    ~RuntimeException() override;

    [[nodiscard]] inExecutionStatus getExecutionStatus() const noexcept { return status_; }
    [[nodiscard]] const std::string& getMessage() const noexcept override { return message_; }
    [[nodiscard]] const std::string& getIdentifier() const noexcept override { return identifier_; }
    [[nodiscard]] const std::string& getFunctionName() const noexcept override {
        return functionName_;
    }
    [[nodiscard]] const std::vector<StackFrame>& getStack() const noexcept { return stack_; }
    [[nodiscard]] const std::vector<boost::exception_ptr>& getCauses() const noexcept {
        return causes_;
    }
    [[nodiscard]] bool isStackTruncated() const noexcept { return truncatedStack_; }
    [[nodiscard]] const std::vector<std::string>& getArgumentValues() const noexcept {
        return argumentValues_;
    }

  private:
    inExecutionStatus status_;
    std::string message_;
    std::string identifier_;
    std::string functionName_;
    std::vector<StackFrame> stack_;
    std::vector<boost::exception_ptr> causes_;
    bool truncatedStack_;
    std::vector<std::string> argumentValues_;
};

}  // namespace cmddistributor
