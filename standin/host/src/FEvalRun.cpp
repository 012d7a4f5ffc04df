#include "FEvalRun.hpp"

#include <boost/pointer_cast.hpp>
#include <string>
#include <utility>
#include <vector>

#include "host/cmddistributor/ArrayTransport.hpp"
#include "host/cmddistributor/FEvalIIP.hpp"
#include "host/cmddistributor/FEvalResult.hpp"
#include "host/cmddistributor/LockBFLHelper.hpp"
#include "host/cmddistributor/RuntimeException.hpp"
#include "host/qvm/HostCall.hpp"
#include "host/qxutil/except/IQExceptionEnvelope.hpp"

namespace cmddistributor::detail {

namespace {

class NullSink final : public qxutil::io::QXSink {
  public:
    void write(std::string_view) override {}
};

boost::exception_ptr hostError(const std::string& message, const std::string& identifier,
                               const std::string& function) {
    return boost::copy_exception(RuntimeException(inExecutionStatus::Error, message, identifier,
                                                  function, {}, {}, false, {}));
}

// The error in flight, as the caller must see it: a RuntimeException stays what it is, any other
// error becomes one with the same message. REQUIRES: called from a catch handler.
boost::exception_ptr asHostError(const std::string& function) noexcept {
    try {
        throw;
    } catch (const RuntimeException& error) {
        return boost::copy_exception(error);
    } catch (const qxutil::except::IQExceptionEnvelope& error) {
        return hostError(error.getMessage(), error.getIdentifier(), function);
    } catch (const std::exception& error) {
        return hostError(error.what(), "", function);
    } catch (...) {
        return hostError("The function '" + function + "' failed with an unknown error.", "",
                         function);
    }
}

// What a run needs of its request: the evaluation, the function it names and its payload.
struct Call {
    boost::shared_ptr<FEvalIIP> iip;
    const std::string* name = nullptr;  // the request's own
    std::shared_ptr<const qvm::HostFunction> function;
    boost::shared_ptr<FEvalIIP::Data> data;
};

// resolve: fills `call` from `request`, or gives the error that refuses it.
boost::exception_ptr resolve(const qvm::FunctionRegistry& functions, const CmdRequest& request,
                             const qvm::CancellationToken& cancellation, Call& call) {
    call.iip = boost::dynamic_pointer_cast<FEvalIIP>(request.getIIP());
    if (!call.iip)
        return hostError("This engine runs function evaluations only.", "Quorix:unsupportedRequest",
                         "");
    call.name = std::get_if<std::string>(&call.iip->getFunction());
    if (call.name == nullptr)
        return hostError("This engine calls functions by name only.", "Quorix:unsupportedFunction",
                         "");
    if (cancellation.isSignalled())
        return boost::copy_exception(qvm::HostCall::cancelledError(*call.name));
    call.function = functions.find(*call.name);
    if (!call.function || !*call.function)
        return hostError("Undefined function '" + *call.name + "'.", "Quorix:undefinedFunction",
                         *call.name);
    call.data = call.iip->getData();
    if (!call.data)
        return hostError("The evaluation has no payload.", "Quorix:noPayload", *call.name);
    return boost::exception_ptr();
}

// takeInputs: the payload's input arrays, in the form the engine takes them, into `inputs`; or
// the error that refuses a payload giving them in another form.
boost::exception_ptr takeInputs(const Call& call, InputForm form,
                                std::vector<matrix::qxArray*>& inputs) {
    LockBFLHelper lock;
    if (form == InputForm::SerializedArrays) {
        FEvalIIP::Data::SerializedInputs serialized = call.data->serializeInputs();
        if (const auto* bytes = std::get_if<SerializedArrays>(&serialized)) {
            inputs = deserializeQxArrays(*bytes);
            return boost::exception_ptr();
        }
    } else {
        FEvalIIP::Data::Inputs given = call.data->getInputs();
        if (auto* arrays = std::get_if<std::vector<matrix::qxArray*>>(&given)) {
            inputs = std::move(*arrays);
            return boost::exception_ptr();
        }
    }
    return hostError("Inputs as data arrays are not supported.", "Quorix:unsupportedInputs",
                     *call.name);
}

// callFunction: the function's outputs; its errors pass on.
std::vector<matrix::UniqueArray> callFunction(const Call& call,
                                              const std::vector<matrix::qxArray*>& inputs,
                                              const qvm::CancellationToken& cancellation,
                                              const RunOptions& runOptions) {
    NullSink discard;
    qvm::HostCall hostCall(*call.name, inputs, call.iip->getOutputCount(),
                           runOptions.getOutSink() ? *runOptions.getOutSink() : discard,
                           runOptions.getErrSink() ? *runOptions.getErrSink() : discard,
                           cancellation);
    return (*call.function)(hostCall);
}

// makeResult: the outputs in the form the engine gives them (`raw`: a list to borrow them
// into). Making it may run the payload's own conversion, whose errors reach the caller unchanged.
Outcome makeResult(const Call& call, ResultForm form,
                   const std::vector<matrix::UniqueArray>& outputs,
                   std::vector<matrix::qxArray*>& raw) {
    try {
        raw.clear();
        raw.reserve(outputs.size());
        for (const matrix::UniqueArray& output : outputs) raw.push_back(output.get());
        LockBFLHelper lock;
        if (form == ResultForm::TypedValue)
            return FEvalResult::makeTyped(call.data->completedEventFromQxArrays(raw));
        return FEvalResult::makeSerialized(serializeQxArrays(raw));
    } catch (...) {
        return boost::current_exception();
    }
}

}  // namespace

Outcome evaluate(const qvm::FunctionRegistry& functions, const DistributorOptions& options,
                 const CmdRequest& request, const qvm::CancellationToken& cancellation,
                 const RunOptions& runOptions) {
    static const std::string NO_NAME;
    Call call;
    std::vector<matrix::UniqueArray> outputs;
    // The inputs, destroyed once the function has returned; the list's storage then serves for
    // the outputs.
    std::vector<matrix::qxArray*> arrays;
    try {
        if (boost::exception_ptr refused = resolve(functions, request, cancellation, call))
            return refused;
        struct Release {
            std::vector<matrix::qxArray*>& arrays;
            ~Release() { nullSafeQxVecDestroy(arrays); }
        } release{arrays};
        if (boost::exception_ptr refused = takeInputs(call, options.inputs, arrays)) return refused;
        outputs = callFunction(call, arrays, cancellation, runOptions);
    } catch (...) {
        return asHostError(call.name != nullptr ? *call.name : NO_NAME);
    }
    return makeResult(call, options.result, outputs, arrays);
}

}  // namespace cmddistributor::detail
