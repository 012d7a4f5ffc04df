// Engine pieces shared by the evaluation and information suites: a running provider for
// fevalSync, the host functions the information service evaluates, host results and errors
// made by hand, as the engine's distributor would deliver them, and the outcome of an
// evaluation or conversion in one comparable line.
#pragma once

#include <boost/any.hpp>
#include <boost/exception_ptr.hpp>
#include <boost/thread/future.hpp>
#include <chrono>
#include <memory>
#include <sstream>
#include <string>

#include "connector/framework/ServiceProvider.hpp"
#include "host/cmddistributor/ArrayTransport.hpp"
#include "host/cmddistributor/FEvalResult.hpp"
#include "host/cmddistributor/RuntimeException.hpp"
#include "host/matrix/Array.hpp"
#include "host/qvm/HostFunctions.hpp"
#include "host/qvm/QVM.hpp"
#include "host/qxutil/except/QXException.hpp"

namespace testsupport {

class RunningProvider final : public connector::ServiceProvider {
  public:
    RunningProvider() { setRunning(true); }
    void onStart() override {}
    void onStop() override {}
};

// waiterFirst: `options` with the worker's start delay so long that a thread waiting for a
// request always starts it itself, however loaded the machine (the worker still starts what is
// left when the engine goes).
inline cmddistributor::DistributorOptions waiterFirst(
    cmddistributor::DistributorOptions options = {}) {
    options.startDelay = std::chrono::hours(1);
    return options;
}

// registerServiceFunctions: "version", "ver", "which" and "qls.internal.feature", answered for
// the arguments the information service passes, as an installed host answers them.
inline void registerServiceFunctions(qvm::QVM& engine) {
    namespace fn = qvm::functions;
    engine.registerFunction("version", fn::byArgument({{"", fn::answerText("4.2.0 build 1187")}}));
    engine.registerFunction(
        "ver", fn::byArgument({{"vantrell", fn::answerRecords({{{"Name", "Vantrell"}}})}}));
    engine.registerFunction(
        "which", fn::byArgument({{"vtr", fn::answerText("built-in (/opt/quorix/lib/vtr)")}}));
    engine.registerFunction("qls.internal.feature",
                            fn::byArgument({{"graphicsAndGuis", fn::answerText("on")}}));
}

inline matrix::UniqueArray textArray(const std::string& utf8) {
    return matrix::create(utf8.data(), utf8.size());
}

// serializedResult: an evaluation result holding `array` (may be null) in serialized form.
inline std::unique_ptr<cmddistributor::FEvalResult> serializedResult(matrix::qxArray* array) {
    return cmddistributor::FEvalResult::makeSerialized(
        cmddistributor::detail::serializeQxArrays({array}));
}

inline std::unique_ptr<cmddistributor::FEvalResult> textResult(const std::string& text) {
    return serializedResult(textArray(text).get());
}

// hostError: the engine's own error, with the identifier "Quorix:injected".
inline boost::exception_ptr hostError(cmddistributor::inExecutionStatus status,
                                      const std::string& text) {
    return boost::copy_exception(
        cmddistributor::RuntimeException(status, text, "Quorix:injected", "", {}, {}, false, {}));
}

// outcome: the text `action` returns, or the error it raises: "host <status> '<identifier>'
// '<function>': <text>" for the engine's errors, "array <identifier>" for the array library's,
// else the standard class it is caught as, with its text where the text is ours.
template <class Action>
std::string outcome(Action&& action) {
    try {
        return action();
    } catch (const cmddistributor::RuntimeException& error) {
        std::ostringstream text;
        text << "host " << error.getExecutionStatus() << " '" << error.getIdentifier() << "' '"
             << error.getFunctionName() << "': " << error.what();
        return text.str();
    } catch (const qxutil::except::QXException& error) {
        return "array " + error.getIdentifier();
    } catch (const boost::broken_promise&) {
        return "broken promise";
    } catch (const boost::bad_any_cast&) {
        return "bad_any_cast";
    } catch (const std::bad_cast&) {
        return "bad_cast";
    } catch (const std::logic_error& error) {
        return std::string("logic_error: ") + error.what();
    } catch (const std::runtime_error& error) {
        return std::string("runtime_error: ") + error.what();
    }
}

}  // namespace testsupport
