#include <boost/make_shared.hpp>
#include <boost/throw_exception.hpp>

#include "host/cmddistributor/CmdDistributor.hpp"
#include "host/qvm/CancellationToken.hpp"
#include "host/qvm/CmdDistributorTaskReference.hpp"
#include "host/qvm/FunctionRegistry.hpp"
#include "host/qvm/HostCall.hpp"
#include "host/qvm/NullCmdDistributorTaskReference.hpp"
#include "host/qvm/QVM.hpp"
#include "host/qvm/TaskReference.hpp"

namespace qvm {

// ---- CancellationToken ---------------------------------------------------------------------

bool CancellationToken::signal() {
    std::unique_lock<std::mutex> lock(mutex_);
    if (signalled_.load(std::memory_order_relaxed)) return false;
    signallingThread_ = std::this_thread::get_id();
    signalled_.store(true, std::memory_order_release);
    auto run = [](const std::function<void()>& callback) {
        try {
            if (callback) callback();
        } catch (...) {
            // One failing callback must not keep the others from running.
        }
    };
    run(firstCallback_);
    for (const auto& callback : callbacks_) run(callback);
    firstCallback_ = nullptr;
    callbacks_.clear();
    callbacksDone_ = true;
    lock.unlock();
    condition_.notify_all();
    return true;
}

void CancellationToken::registerCallback(std::function<void()> callback) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (callbacksDone_) {
        callback();
        return;
    }
    if (!firstCallback_ && callbacks_.empty())
        firstCallback_ = std::move(callback);
    else
        callbacks_.push_back(std::move(callback));
}

bool CancellationToken::waitFor(std::chrono::nanoseconds timeout) const {
    std::unique_lock<std::mutex> lock(mutex_);
    return condition_.wait_for(lock, timeout, [this] { return callbacksDone_; });
}

std::thread::id CancellationToken::getSignallingThread() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return signallingThread_;
}

// ---- Task references -----------------------------------------------------------------------

TaskReference::~TaskReference() = default;

namespace detail {

CmdDistributorTaskReference::CmdDistributorTaskReference(
    const boost::shared_ptr<cmddistributor::CmdDistributor>& distributor, cmddistributor::IDType id)
    : distributor_(distributor), id_(id) {
    getCancellationToken().registerCallback([this] { cancel_callback(false); });
}

CmdDistributorTaskReference::~CmdDistributorTaskReference() = default;

void CmdDistributorTaskReference::addContinuation(std::function<void()> continuation) {
    if (auto distributor = distributor_.lock())
        distributor->addContinuation(id_, std::move(continuation));
    else if (continuation)
        continuation();
}

void CmdDistributorTaskReference::setReadyToExecute() {
    // Requests start when they are submitted; the flag only records the caller's consent.
    readyToExecute_.store(true);
}

void CmdDistributorTaskReference::cancel_callback(bool /*tokenAlreadySignalled*/) {
    // Asking twice is harmless: the distributor's own token takes the first request only.
    if (auto distributor = distributor_.lock()) (void)distributor->cancelRequest(id_);
}

NullCmdDistributorTaskReference::~NullCmdDistributorTaskReference() = default;

void NullCmdDistributorTaskReference::addContinuation(std::function<void()> continuation) {
    if (continuation) continuation();
}

}  // namespace detail

// ---- Host functions ------------------------------------------------------------------------

HostCall::HostCall(const std::string& functionName, const std::vector<matrix::qxArray*>& inputs,
                   std::size_t outputCount, qxutil::io::QXSink& output, qxutil::io::QXSink& errors,
                   const CancellationToken& cancellation)
    : functionName_(functionName)
    , inputs_(inputs)
    , outputCount_(outputCount)
    , output_(output)
    , errors_(errors)
    , cancellation_(cancellation) {}

void HostCall::throwIfCancelled() const {
    if (isCancelled()) boost::throw_exception(cancelledError(functionName_));
}

cmddistributor::RuntimeException HostCall::cancelledError(const std::string& functionName) {
    return cmddistributor::RuntimeException(cmddistributor::inExecutionStatus::Interrupted,
                                            "Evaluation of '" + functionName + "' was cancelled.",
                                            "Quorix:cancelled", functionName, {}, {}, false, {});
}

void FunctionRegistry::add(const std::string& name, HostFunction function) {
    auto shared = std::make_shared<const HostFunction>(std::move(function));
    std::lock_guard<std::mutex> lock(mutex_);
    functions_[name] = std::move(shared);
}

bool FunctionRegistry::remove(const std::string& name) {
    std::lock_guard<std::mutex> lock(mutex_);
    return functions_.erase(name) != 0;
}

std::shared_ptr<const HostFunction> FunctionRegistry::find(const std::string& name) const {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto found = functions_.find(name);
    return found == functions_.end() ? nullptr : found->second;
}

// ---- QVM -----------------------------------------------------------------------------------

QVM::QVM(boost::shared_ptr<FunctionRegistry> functions,
         boost::shared_ptr<cmddistributor::CmdDistributor> distributor)
    : functions_(functions ? std::move(functions) : boost::make_shared<FunctionRegistry>())
    , distributor_(std::move(distributor))
    , output_(boost::make_shared<qxutil::io::StringSink>())
    , errors_(boost::make_shared<qxutil::io::StringSink>()) {}

QVM::~QVM() = default;

std::shared_ptr<QVM> QVM::create(cmddistributor::CmdDistributor::Options options) {
    auto functions = boost::make_shared<FunctionRegistry>();
    auto distributor = boost::make_shared<cmddistributor::CmdDistributor>(functions, options);
    return std::make_shared<QVM>(std::move(functions), std::move(distributor));
}

std::shared_ptr<QVM> QVM::createWithoutDistributor() {
    return std::make_shared<QVM>(boost::make_shared<FunctionRegistry>(), nullptr);
}

boost::shared_ptr<qxutil::io::QXSink> QVM::wrapSink(
    const boost::shared_ptr<qxutil::io::QXSink>& sink, bool isError) const {
    if (sink) return sink;
    if (isError) return errors_;
    return output_;
}

void QVM::setValid(bool valid) noexcept {
    valid_.store(valid, std::memory_order_release);
    if (valid || !distributor_) return;
    try {
        (void)distributor_->cancelAll();
    } catch (...) {
        // Out of memory listing the live requests: the callers' own checks still cancel theirs.
    }
}

void QVM::registerFunction(const std::string& name, HostFunction function) {
    functions_->add(name, std::move(function));
}

}  // namespace qvm
