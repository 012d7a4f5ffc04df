// The engine stand-in's distributor: tracking, submission, cancellation and continuations of
// requests. Their runs are CmdDistributorRun.cpp; the work of one run is FEvalRun.cpp.
#include <algorithm>
#include <boost/make_shared.hpp>
#include <new>
#include <stdexcept>
#include <utility>

#include "DistributorWorker.hpp"
#include "TrackedRequest.hpp"
#include "host/cmddistributor/CmdDistributor.hpp"

namespace cmddistributor {

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
    const RunOptions& /*options*/, const IDType& id, bool trackById,
    std::function<void()> onFinished) {
    if (!request) throw std::invalid_argument("trackRequest: the request is empty.");
    if (!delegate) throw std::invalid_argument("trackRequest: the delegate is empty.");
    auto entry = std::make_shared<detail::TrackedRequest>();
    entry->id = id;
    entry->request = request;
    // The options a request runs with are those it is submitted with (submitRequest).
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
    const bool waiterRuns = !runOnCallingThread && options_.waiting == WaitingThread::RunsTask;
    {
        std::lock_guard<std::mutex> lock(entry->mutex);
        if (entry->submitted)
            throw std::logic_error("submitRequest: the request was submitted before.");
        entry->submitted = true;
        entry->options = std::move(options);
        if (waiterRuns && entry->delegate)
            entry->delegate->setWaitCallback(
                [gate = gate_, this, weak = std::weak_ptr<detail::TrackedRequest>(entry)] {
                    runForWaiter(gate, this, weak);
                });
    }
    submitted_.fetch_add(1);
    if (runOnCallingThread) {
        claimAndRun(entry);
        return;
    }
    if (!waiterRuns) {
        worker_->post(*this, std::move(entry));
        return;
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
    detail::runQuietly(continuation);
}

std::shared_ptr<detail::TrackedRequest> CmdDistributor::findLive(const IDType& id) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const LiveRequest& request : live_)
        if (request.id == id) return request.entry.lock();
    return nullptr;
}

}  // namespace cmddistributor
