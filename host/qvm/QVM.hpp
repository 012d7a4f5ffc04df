// qvm::QVM: the engine object. It owns the table of host functions and (usually) the command
// distributor that runs evaluations of them, and says whether it still takes evaluations.
//
//   auto engine = qvm::QVM::create();                   // valid, with its own distributor
//   engine->registerFunction("version", qvm::functions::answerText("4.2.0"));
//   engine->setValid(false);        // from now on it takes no evaluations; running ones stop
//
// An engine may also be built around any distributor (a derived one, say) sharing its function
// table, or without a distributor at all (createWithoutDistributor).
//
// Sinks: wrapSink gives the sink a run writes to: the caller's own, or, when the caller has none,
// the engine's collector for that stream (getOutputText / getErrorText).
//
// Threads: every operation may be called from any thread; validity is an atomic flag.
// NOTE: destroying the engine destroys its distributor, which waits for the worker: never let a
// host function own the engine.
#pragma once

#include <atomic>
#include <boost/shared_ptr.hpp>
#include <memory>
#include <string>

#include "host/Export.hpp"
#include "host/cmddistributor/CmdDistributor.hpp"
#include "host/qvm/FunctionRegistry.hpp"
#include "host/qxutil/io/QXSink.hpp"
#include "host/qxutil/io/StringSink.hpp"

namespace qvm {

class QUORIX_HOST_API QVM {
  public:
    // `distributor` may be empty; when not, it should share `functions`.
    QVM(boost::shared_ptr<FunctionRegistry> functions,
        boost::shared_ptr<cmddistributor::CmdDistributor> distributor);
    ~QVM();
    QVM(const QVM&) = delete;
    QVM& operator=(const QVM&) = delete;

    // create: a valid engine with its own distributor.
    [[nodiscard]] static std::shared_ptr<QVM> create(
        cmddistributor::CmdDistributor::Options options = {});
    // createWithoutDistributor: a valid engine that cannot run anything.
    [[nodiscard]] static std::shared_ptr<QVM> createWithoutDistributor();

    // isValid: false once the engine takes no more evaluations.
    [[nodiscard]] bool isValid() const noexcept { return valid_.load(std::memory_order_acquire); }
    // setValid: false also cancels every evaluation in flight on the distributor, those running
    // on a thread that waits for them included (nothing else can reach those).
    void setValid(bool valid) noexcept;

    // getCmdDistributor: the distributor; empty if the engine has none.
    [[nodiscard]] boost::shared_ptr<cmddistributor::CmdDistributor> getCmdDistributor() const {
        return distributor_;
    }
    // wrapSink: the sink for a run's output (`isError` false) or error (`isError` true) stream.
    [[nodiscard]] boost::shared_ptr<qxutil::io::QXSink> wrapSink(
        const boost::shared_ptr<qxutil::io::QXSink>& sink, bool isError) const;

    void registerFunction(const std::string& name, HostFunction function);
    [[nodiscard]] FunctionRegistry& getFunctions() const noexcept { return *functions_; }

    // getOutputText / getErrorText: what runs without sinks of their own have written.
    [[nodiscard]] std::string getOutputText() const { return output_->getText(); }
    [[nodiscard]] std::string getErrorText() const { return errors_->getText(); }

  private:
    boost::shared_ptr<FunctionRegistry> functions_;
    boost::shared_ptr<cmddistributor::CmdDistributor> distributor_;
    boost::shared_ptr<qxutil::io::StringSink> output_;
    boost::shared_ptr<qxutil::io::StringSink> errors_;
    std::atomic<bool> valid_{true};
};

}  // namespace qvm
