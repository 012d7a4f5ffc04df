// Boost.Asio ends each handler with a release fence. ThreadSanitizer cannot model fences, and GCC
// says so at compile time; the hand-over to the worker also goes through the pool's mutex, which
// it does model, so the fence hides nothing from it.
#if defined(__GNUC__) && !defined(__clang__) && __GNUC__ >= 12
#pragma GCC diagnostic ignored "-Wtsan"
#endif

#include <algorithm>
#include <boost/asio/post.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/thread_pool.hpp>
#include <boost/make_shared.hpp>
#include <boost/pointer_cast.hpp>
#include <boost/throw_exception.hpp>
#include <chrono>
#include <condition_variable>
#include <new>
#include <stdexcept>
#include <utility>
#include <variant>

#include "host/cmddistributor/ArrayTransport.hpp"
#include "host/cmddistributor/CmdDistributor.hpp"
#include "host/cmddistributor/CmdRequest.hpp"
#include "host/cmddistributor/FEvalIIP.hpp"
#include "host/cmddistributor/FEvalResult.hpp"
#include "host/cmddistributor/IDType.hpp"
#include "host/cmddistributor/LockBFLHelper.hpp"
#include "host/cmddistributor/PromiseDelegate.hpp"
#include "host/cmddistributor/RuntimeException.hpp"
#include "host/qvm/CancellationToken.hpp"
#include "host/qvm/HostCall.hpp"
#include "host/qxutil/except/IQExceptionEnvelope.hpp"

namespace cmddistributor {

namespace detail {

// One request from trackRequest until its run has finished. Shared by the caller's handle, the
// queued run and (weakly) the table of live requests.
struct TrackedRequest {
    IDType id;
    boost::shared_ptr<CmdRequest> request;
    RunOptions options;
    qvm::CancellationToken cancellation;

    std::mutex mutex;  // guards everything below
    std::unique_ptr<PromiseDelegate> delegate;
    std::function<void()> onFinished;
    std::vector<std::function<void()>> continuations;
    bool submitted = false;
    bool finished = false;

    // Set by whichever thread starts the run (the worker or a waiting thread); the other one
    // leaves the request alone.
    std::atomic<bool> claimed{false};
    // Set once the request has been handed to the worker at once (see Worker).
    std::atomic<bool> posted{false};

    // The caller's handle lives here too, saving an allocation per request: built in place by
    // trackRequest, destroyed in place by RequestTrackingDeleter. It keeps this entry alive.
    alignas(CmdDistributor::RequestTracking) unsigned char handle[sizeof(
        CmdDistributor::RequestTracking)];
};

// What the distributor shares with the wait callbacks it installs, which may be called after it
// is gone. A waiting thread may run a request only between enter() and leave(), and only while
// the distributor is not closing; the distributor's destructor waits until none is.
struct RunGate {
    // Held while a request runs: the engine runs one at a time. Re-entrant, so that a host
    // function may wait for a nested evaluation, which its own thread then runs.
    std::recursive_mutex engine;

    std::mutex mutex;  // guards closing and waiterRuns
    std::condition_variable idle;
    bool closing = false;
    std::size_t waiterRuns = 0;

    bool enter() {
        std::lock_guard<std::mutex> lock(mutex);
        if (closing) return false;
        ++waiterRuns;
        return true;
    }
    void leave() {
        std::lock_guard<std::mutex> lock(mutex);
        if (--waiterRuns == 0) idle.notify_all();
    }
    void close() {
        std::lock_guard<std::mutex> lock(mutex);
        closing = true;
    }
    void waitTillIdle() {
        std::unique_lock<std::mutex> lock(mutex);
        idle.wait(lock, [this] { return waiterRuns == 0; });
    }
};

}  // namespace detail

namespace {

using Outcome = std::variant<std::unique_ptr<IIPResult>, boost::exception_ptr>;

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

void runQuietly(const std::function<void()>& function) noexcept {
    try {
        if (function) function();
    } catch (...) {
        // A continuation's failure is its own business; the others still run.
    }
}

}  // namespace

// The worker thread, and the requests it starts only if nobody has started them by then.
//
// A request that a thread may wait for is not handed to the worker at once: waking a sleeping
// thread costs more than most evaluations (a futex call, and on another CPU an interrupt), and
// the thread that waits runs the request itself on its first wait. The worker starts such
// requests startDelay after their submission, all that came within that time together: one
// timer, armed through the timer file descriptor, which wakes nobody. Whatever nobody waits for
// therefore starts within startDelay; a request whose waiter finds the engine busy is handed to
// the worker at once (post), to run as soon as the engine is free. Closing fires the timer at
// once, so that the worker starts what is left without waiting out the delay.
struct CmdDistributor::Worker {
    explicit Worker(std::chrono::microseconds delay) : startDelay(delay) {}

    const std::chrono::microseconds startDelay;
    boost::asio::thread_pool pool{1};
    std::mutex mutex;  // guards the timer's arming, sweepArmed and later
    boost::asio::steady_timer sweep{pool};
    bool sweepArmed = false;
    std::vector<std::shared_ptr<detail::TrackedRequest>> later;

    void post(CmdDistributor& distributor, std::shared_ptr<detail::TrackedRequest> entry) {
        entry->posted.store(true, std::memory_order_relaxed);
        boost::asio::post(
            pool, [&distributor, entry = std::move(entry)] { distributor.claimAndRun(entry); });
    }

    void startLater(CmdDistributor& distributor, std::shared_ptr<detail::TrackedRequest> entry) {
        std::lock_guard<std::mutex> lock(mutex);
        later.push_back(std::move(entry));
        if (sweepArmed) return;
        sweepArmed = true;
        sweep.expires_after(startDelay);
        sweep.async_wait([this, &distributor](const boost::system::error_code&) {
            std::vector<std::shared_ptr<detail::TrackedRequest>> due;
            {
                std::lock_guard<std::mutex> lock(mutex);
                due.swap(later);
                sweepArmed = false;
            }
            for (const auto& entry : due) distributor.claimAndRun(entry);
        });
    }

    void close() {
        std::lock_guard<std::mutex> lock(mutex);
        if (sweepArmed) sweep.cancel();  // the sweep runs now, with operation_aborted
    }
};

const IDType& CmdDistributor::RequestTracking::getID() const noexcept {
    return entry_->id;
}

const boost::shared_ptr<CmdRequest>& CmdDistributor::RequestTracking::getRequest() const noexcept {
    return entry_->request;
}

PromiseDelegate* CmdDistributor::RequestTracking::getDelegate() const noexcept {
    std::lock_guard<std::mutex> lock(entry_->mutex);
    return entry_->delegate.get();
}

std::unique_ptr<PromiseDelegate> CmdDistributor::RequestTracking::releaseDelegate() noexcept {
    std::lock_guard<std::mutex> lock(entry_->mutex);
    return std::move(entry_->delegate);
}

CmdDistributor::RequestTracking::RequestTracking(std::shared_ptr<detail::TrackedRequest> entry)
    : entry_(std::move(entry)) {}

void CmdDistributor::RequestTrackingDeleter::operator()(RequestTracking* handle) const noexcept {
    // The handle sits inside its entry: the entry may go only once the handle is gone.
    std::shared_ptr<detail::TrackedRequest> entry = std::move(handle->entry_);
    handle->~RequestTracking();
}

CmdDistributor::CmdDistributor(boost::shared_ptr<qvm::FunctionRegistry> functions, Options options)
    : functions_(functions ? std::move(functions) : boost::make_shared<qvm::FunctionRegistry>())
    , options_(options)
    , gate_(std::make_shared<detail::RunGate>())
    , worker_(std::make_unique<Worker>(options.startDelay)) {}

CmdDistributor::~CmdDistributor() {
    gate_->close();  // no waiting thread starts a run from now on
    (void)cancelAll();
    worker_->close();
    worker_->pool.join();   // queued runs see their cancellation and end quickly
    gate_->waitTillIdle();  // and so do runs on waiting threads
}

CmdDistributor::RequestTrackingPtr CmdDistributor::trackRequest(
    const boost::shared_ptr<CmdRequest>& request, std::unique_ptr<PromiseDelegate> delegate,
    const RunOptions& options, const IDType& id, bool trackById, std::function<void()> onFinished) {
    if (!request) throw std::invalid_argument("trackRequest: the request is empty.");
    if (!delegate) throw std::invalid_argument("trackRequest: the delegate is empty.");
    auto entry = std::make_shared<detail::TrackedRequest>();
    entry->id = id;
    entry->request = request;
    entry->options = options;
    entry->delegate = std::move(delegate);
    entry->onFinished = std::move(onFinished);
    if (trackById) {
        std::lock_guard<std::mutex> lock(mutex_);
        // Finished requests leave on their own; this sweeps those whose run never came.
        live_.erase(std::remove_if(live_.begin(), live_.end(),
                                   [&](const LiveRequest& live) {
                                       return live.id == id || live.entry.expired();
                                   }),
                    live_.end());
        live_.push_back({id, entry});
    }
    void* storage = entry->handle;
    return RequestTrackingPtr(new (storage) RequestTracking(std::move(entry)));
}

void CmdDistributor::submitRequest(const RequestTrackingPtr& handle, const IDType& id,
                                   RunOptions options, bool runOnCallingThread) {
    if (!handle) throw std::invalid_argument("submitRequest: no tracked request.");
    std::shared_ptr<detail::TrackedRequest> entry = handle->entry_;
    if (entry->id != id)
        throw std::invalid_argument("submitRequest: the id is not the tracked request's.");
    {
        std::lock_guard<std::mutex> lock(entry->mutex);
        if (entry->submitted)
            throw std::logic_error("submitRequest: the request was submitted before.");
        entry->submitted = true;
        entry->options = std::move(options);
    }
    submitted_.fetch_add(1);
    if (runOnCallingThread) {
        claimAndRun(entry);
        return;
    }
    if (options_.waiting == WaitingThread::OnlyWaits) {
        worker_->post(*this, std::move(entry));
        return;
    }
    {
        std::lock_guard<std::mutex> lock(entry->mutex);
        if (entry->delegate)
            entry->delegate->setWaitCallback(
                [gate = gate_, this, weak = std::weak_ptr<detail::TrackedRequest>(entry)] {
                    runForWaiter(gate, this, weak);
                });
    }
    worker_->startLater(*this, std::move(entry));
}

bool CmdDistributor::cancelRequest(const IDType& id) {
    std::shared_ptr<detail::TrackedRequest> entry = findLive(id);
    if (!entry) return false;
    entry->cancellation.signal();
    return true;
}

std::size_t CmdDistributor::cancelAll() {
    std::vector<std::shared_ptr<detail::TrackedRequest>> live;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        for (const LiveRequest& request : live_)
            if (auto entry = request.entry.lock()) live.push_back(std::move(entry));
    }
    // Signalled outside the table's lock: a token's callbacks may call back into the distributor.
    for (const auto& entry : live) entry->cancellation.signal();
    return live.size();
}

void CmdDistributor::addContinuation(const IDType& id, std::function<void()> continuation) {
    if (std::shared_ptr<detail::TrackedRequest> entry = findLive(id)) {
        std::lock_guard<std::mutex> lock(entry->mutex);
        if (!entry->finished) {
            entry->continuations.push_back(std::move(continuation));
            return;
        }
    }
    runQuietly(continuation);
}

std::shared_ptr<detail::TrackedRequest> CmdDistributor::findLive(const IDType& id) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const LiveRequest& request : live_)
        if (request.id == id) return request.entry.lock();
    return nullptr;
}

namespace {

// The outcome of one evaluation: the result, or the error to give the caller.
Outcome evaluate(const qvm::FunctionRegistry& functions, const CmdDistributor::Options& options,
                 detail::TrackedRequest& entry, const RunOptions& runOptions) {
    static const std::string kNoName;
    const std::string* name = &kNoName;  // the request's own, once known
    std::vector<matrix::UniqueArray> outputs;
    boost::shared_ptr<FEvalIIP::Data> data;
    // The inputs, destroyed once the function has returned; the list's storage then serves for
    // the outputs.
    std::vector<matrix::qxArray*> inputs;
    try {
        const auto iip = boost::dynamic_pointer_cast<FEvalIIP>(entry.request->getIIP());
        if (!iip)
            return hostError("This engine runs function evaluations only.",
                             "Quorix:unsupportedRequest", "");
        const std::string* byName = std::get_if<std::string>(&iip->getFunction());
        if (byName == nullptr)
            return hostError("This engine calls functions by name only.",
                             "Quorix:unsupportedFunction", "");
        name = byName;
        if (entry.cancellation.isSignalled())
            return boost::copy_exception(qvm::HostCall::cancelledError(*name));
        const std::shared_ptr<const qvm::HostFunction> function = functions.find(*name);
        if (!function || !*function)
            return hostError("Undefined function '" + *name + "'.", "Quorix:undefinedFunction",
                             *name);
        data = iip->getData();
        if (!data) return hostError("The evaluation has no payload.", "Quorix:noPayload", *name);

        struct Release {
            std::vector<matrix::qxArray*>& arrays;
            ~Release() { detail::nullSafeQxVecDestroy(arrays); }
        } release{inputs};
        {
            detail::LockBFLHelper lock;
            if (options.inputs == CmdDistributor::InputForm::SerializedArrays) {
                FEvalIIP::Data::SerializedInputs serialized = data->serializeInputs();
                const auto* bytes = std::get_if<detail::SerializedArrays>(&serialized);
                if (bytes == nullptr)
                    return hostError("Inputs as data arrays are not supported.",
                                     "Quorix:unsupportedInputs", *name);
                inputs = detail::deserializeQxArrays(*bytes);
            } else {
                FEvalIIP::Data::Inputs given = data->getInputs();
                auto* arrays = std::get_if<std::vector<matrix::qxArray*>>(&given);
                if (arrays == nullptr)
                    return hostError("Inputs as data arrays are not supported.",
                                     "Quorix:unsupportedInputs", *name);
                inputs = std::move(*arrays);
            }
        }
        NullSink discard;
        qvm::HostCall call(*name, inputs, iip->getOutputCount(),
                           runOptions.getOutSink() ? *runOptions.getOutSink() : discard,
                           runOptions.getErrSink() ? *runOptions.getErrSink() : discard,
                           entry.cancellation);
        outputs = (*function)(call);
    } catch (...) {
        return asHostError(*name);
    }

    // Making the result may run the caller's own conversion; its errors reach it unchanged.
    try {
        std::vector<matrix::qxArray*>& raw = inputs;
        raw.clear();
        raw.reserve(outputs.size());
        for (const matrix::UniqueArray& output : outputs) raw.push_back(output.get());
        detail::LockBFLHelper lock;
        if (options.result == CmdDistributor::ResultForm::TypedValue)
            return FEvalResult::makeTyped(data->completedEventFromQxArrays(raw));
        return FEvalResult::makeSerialized(detail::serializeQxArrays(raw));
    } catch (...) {
        return boost::current_exception();
    }
}

void markReadyQuietly(PromiseDelegate& delegate) noexcept {
    try {
        (void)delegate.markReady();
    } catch (...) {
        // markReady rethrows a held-back error that is not a RuntimeException once it has
        // delivered it; the caller has it already.
    }
}

void completeQuietly(PromiseDelegate& delegate, Outcome outcome) noexcept {
    try {
        if (auto* result = std::get_if<std::unique_ptr<IIPResult>>(&outcome))
            (void)delegate.completeWithResult(std::move(*result));
        else
            (void)delegate.completeWithError(std::get<boost::exception_ptr>(outcome));
    } catch (...) {
        // Only a delegate completed twice raises here, and nobody is left to tell.
    }
}

}  // namespace

// claimAndRun: runs the request on this thread unless another thread has started it, waiting for
// the engine if it is busy (the worker, and a caller that asked to run on its own thread).
void CmdDistributor::claimAndRun(const std::shared_ptr<detail::TrackedRequest>& entry) noexcept {
    if (entry->claimed.exchange(true, std::memory_order_acq_rel)) return;  // a waiter ran it
    {
        std::lock_guard<std::recursive_mutex> engine(gate_->engine);
        runDelegate(*entry);
    }
    finish(entry);
}

void CmdDistributor::runForWaiter(const std::shared_ptr<detail::RunGate>& gate,
                                  CmdDistributor* distributor,
                                  const std::weak_ptr<detail::TrackedRequest>& weak) noexcept {
    // Every wait on the future comes here first, the slices of a timed wait included: what is
    // started, finished or gone costs one atomic load.
    const std::shared_ptr<detail::TrackedRequest> entry = weak.lock();
    if (!entry || entry->claimed.load(std::memory_order_acquire)) return;
    if (!gate->enter()) return;  // the distributor is closing: its worker runs the rest
    struct Leave {
        detail::RunGate& gate;
        ~Leave() { gate.leave(); }
    } leave{*gate};
    // A busy engine is not waited for here: the worker gets the request at once, to run it as
    // soon as the engine is free, and the thread goes back to its timed wait (it tries again on
    // its next slice, should the request still not have started).
    std::unique_lock<std::recursive_mutex> engine(gate->engine, std::try_to_lock);
    if (!engine.owns_lock()) {
        if (!entry->posted.load(std::memory_order_relaxed)) {
            try {
                distributor->worker_->post(*distributor, entry);
            } catch (...) {
                // Out of memory: the worker still starts it with the others, startDelay later.
            }
        }
        return;
    }
    if (entry->claimed.exchange(true, std::memory_order_acq_rel)) return;
    distributor->runDelegate(*entry);
    engine.unlock();
    distributor->finish(entry);
}

void CmdDistributor::runDelegate(detail::TrackedRequest& entry) noexcept {
    std::unique_ptr<PromiseDelegate> delegate;
    RunOptions runOptions;
    {
        std::lock_guard<std::mutex> lock(entry.mutex);
        delegate = std::move(entry.delegate);
        runOptions = entry.options;
    }
    if (!delegate) return;
    const bool readyFirst = options_.order == CompletionOrder::ReadyThenComplete;
    if (readyFirst) markReadyQuietly(*delegate);
    Outcome outcome = [&]() -> Outcome {
        try {
            return evaluate(*functions_, options_, entry, runOptions);
        } catch (...) {
            return boost::current_exception();  // out of memory while reporting an error
        }
    }();
    completeQuietly(*delegate, std::move(outcome));
    if (!readyFirst) markReadyQuietly(*delegate);
}

void CmdDistributor::finish(const std::shared_ptr<detail::TrackedRequest>& entry) noexcept {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        const auto found =
            std::find_if(live_.begin(), live_.end(), [&](const LiveRequest& request) {
                return request.id == entry->id && !request.entry.owner_before(entry) &&
                       !entry.owner_before(request.entry);
            });
        if (found != live_.end()) {
            *found = std::move(live_.back());
            live_.pop_back();
        }
    }
    std::vector<std::function<void()>> continuations;
    std::function<void()> onFinished;
    {
        std::lock_guard<std::mutex> lock(entry->mutex);
        entry->finished = true;
        continuations.swap(entry->continuations);
        onFinished = std::move(entry->onFinished);
    }
    runQuietly(onFinished);
    for (const auto& continuation : continuations) runQuietly(continuation);
}

}  // namespace cmddistributor
