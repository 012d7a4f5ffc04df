// cmddistributor::FEvalIIP: the work item "evaluate a function": which function (a name, or a
// data array holding a function handle), how many outputs it must give, and the payload (Data)
// that supplies the inputs and turns the outputs into the caller's result. Immutable after
// construction; shared by boost::shared_ptr.
//
// FEvalIIP::Data is implemented by the caller. The distributor calls it on its worker thread,
// holding LockBFLHelper; one run uses either serializeInputs or getInputs, and one of the two
// completedEvent operations.
#pragma once

#include <boost/any.hpp>
#include <boost/shared_ptr.hpp>
#include <cstddef>
#include <functional>
#include <string>
#include <variant>
#include <vector>

#include "host/Export.hpp"
#include "host/cmddistributor/ArrayTransport.hpp"
#include "host/cmddistributor/CmdRequest.hpp"
#include "host/cmddistributor/EDIDataWrapper.hpp"
#include "host/cmddistributor/IIP.hpp"
#include "host/foundation/quorixdata/Array.hpp"
#include "host/matrix/Array.hpp"
#include "host/qvm/QvmID.hpp"

namespace cmddistributor {

class QUORIX_HOST_API FEvalIIP final : public IIP {
  public:
    class QUORIX_HOST_API Data {
      public:
        using SerializedInputs = std::variant<detail::SerializedArrays, EDIDataWrapper>;
        using Inputs = std::variant<std::vector<matrix::qxArray*>, EDIDataWrapper>;
        using ArrayDeleter = std::function<void(matrix::qxArray*)>;

        Data() = default;
        Data(const Data&) = delete;
        Data& operator=(const Data&) = delete;
        virtual ~Data();

        // serializeInputs: the input arrays, serialized (or as data arrays).
        [[nodiscard]] virtual SerializedInputs serializeInputs() const = 0;
        // getInputs: fresh input arrays, owned by the caller (or data arrays).
        [[nodiscard]] virtual Inputs getInputs() const = 0;
        // setDeleters: how the engine frees the arrays it hands over, for payloads that keep them.
        virtual void setDeleters(ArrayDeleter inputDeleter, ArrayDeleter outputDeleter) = 0;
        // completedEventFromDataArrays / completedEventFromQxArrays: the caller's typed result
        // made from the outputs (which stay the engine's). May raise; the engine then reports
        // that error to the caller.
        [[nodiscard]] virtual boost::any completedEventFromDataArrays(
            std::vector<foundation::quorixdata::Array>& outputs) = 0;
        [[nodiscard]] virtual boost::any completedEventFromQxArrays(
            std::vector<matrix::qxArray*>& outputs) = 0;
        // prefersDataArrays: true if the payload wants its outputs as data arrays.
        [[nodiscard]] virtual bool prefersDataArrays() const = 0;
    };

    using Function = std::variant<std::string, foundation::quorixdata::Array>;

    // userVisible: whether the call belongs in the user's command history (this engine keeps
    // none). sourceTag names the code that made the request, for diagnostics.
    FEvalIIP(Function function, std::size_t outputCount, boost::shared_ptr<Data> data,
             IqmStreamID streamID, boost::shared_ptr<qxutil::io::QXSink> outputSink,
             boost::shared_ptr<qxutil::io::QXSink> errorSink, qvm::QvmID sourceQvm,
             qvm::QvmID targetQvm, bool userVisible, std::string sourceTag);
    ~FEvalIIP() override;

    [[nodiscard]] const Function& getFunction() const noexcept { return function_; }
    [[nodiscard]] std::size_t getOutputCount() const noexcept { return outputCount_; }
    [[nodiscard]] const boost::shared_ptr<Data>& getData() const noexcept { return data_; }
    [[nodiscard]] IqmStreamID getStreamID() const noexcept { return streamID_; }
    [[nodiscard]] const boost::shared_ptr<qxutil::io::QXSink>& getOutputSink() const noexcept {
        return outputSink_;
    }
    [[nodiscard]] const boost::shared_ptr<qxutil::io::QXSink>& getErrorSink() const noexcept {
        return errorSink_;
    }
    [[nodiscard]] qvm::QvmID getSourceQvm() const noexcept { return sourceQvm_; }
    [[nodiscard]] qvm::QvmID getTargetQvm() const noexcept { return targetQvm_; }
    [[nodiscard]] bool isUserVisible() const noexcept { return userVisible_; }
    [[nodiscard]] const std::string& getSourceTag() const noexcept { return sourceTag_; }

  private:
    Function function_;
    std::size_t outputCount_;
    boost::shared_ptr<Data> data_;
    IqmStreamID streamID_;
    boost::shared_ptr<qxutil::io::QXSink> outputSink_;
    boost::shared_ptr<qxutil::io::QXSink> errorSink_;
    qvm::QvmID sourceQvm_;
    qvm::QvmID targetQvm_;
    bool userVisible_;
    std::string sourceTag_;
};

}  // namespace cmddistributor
