// Faults of the engine's command distributor, as the information service meets them in an
// EnabledFeatures request: each surfaces out of the request as the error the evaluation bridge
// gives for it, the service then answers the next request as if nothing had happened, and no
// delegate of the bridge is left alive.
#include <gtest/gtest.h>

#include <atomic>
#include <boost/make_shared.hpp>
#include <boost/thread/future.hpp>
#include <condition_variable>
#include <future>
#include <mutex>
#include <thread>

#include "connector/information/v1/EnabledFeatures.hpp"
#include "connector/information/v1/EnabledFeaturesResponse.hpp"
#include "connector/information/v1/InformationServiceProviderImpl.hpp"
#include "host/cmddistributor/ArrayTransport.hpp"
#include "host/cmddistributor/CmdDistributor.hpp"
#include "host/cmddistributor/FEvalResult.hpp"
#include "host/cmddistributor/RuntimeException.hpp"
#include "host/qvm/HostFunctions.hpp"
#include "host/qvm/QVM.hpp"

namespace {

using namespace connector::information::v1;
using cmddistributor::CmdDistributor;
using cmddistributor::inExecutionStatus;
using cmddistributor::PromiseDelegate;
using cmddistributor::RuntimeException;
namespace functions = qvm::functions;

// CountingDelegate: wraps the bridge's delegate on its way into the distributor and counts the
// wrapped delegates alive, so a test sees whether every one was released.
class CountingDelegate final : public PromiseDelegate {
  public:
    explicit CountingDelegate(std::unique_ptr<PromiseDelegate> inner) : inner_(std::move(inner)) {
        ++alive;
    }
    ~CountingDelegate() override { --alive; }

    bool completeWithResult(std::unique_ptr<cmddistributor::IIPResult> result) override {
        return inner_->completeWithResult(std::move(result));
    }
    bool completeWithError(boost::exception_ptr error) override {
        return inner_->completeWithError(std::move(error));
    }
    void setWaitCallback(std::function<void()> callback) override {
        inner_->setWaitCallback(std::move(callback));
    }
    void waitTillReady() override { inner_->waitTillReady(); }
    bool isPromiseDone() const override { return inner_->isPromiseDone(); }
    boost::optional<inExecutionStatus> markReady() override { return inner_->markReady(); }
    void detach() override { inner_->detach(); }

    static inline std::atomic<int> alive{0};

  private:
    std::unique_ptr<PromiseDelegate> inner_;
};

enum class Fault {
    None,
    ThrowOnTrack,       // trackRequest raises; the delegate is never taken
    ThrowOnSubmit,      // submitRequest raises after tracking
    CompleteWithError,  // marked ready, then completed with a host error
    ErrorBeforeReady,   // completed with a host error, then marked ready
    ResultBeforeReady,  // completed with a result ("off"), then marked ready
    NeverComplete,      // kept until the caller cancels, then completed as interrupted
    DropDelegate,       // destroyed without completion
};

boost::exception_ptr hostError(inExecutionStatus status, const std::string& text) {
    return boost::copy_exception(
        RuntimeException(status, text, "Quorix:injected", "", {}, {}, false, {}));
}

// FaultyDistributor: runs requests as the engine's own distributor does, except the next one
// after arm(fault), which meets that fault.
class FaultyDistributor final : public CmdDistributor {
  public:
    explicit FaultyDistributor(boost::shared_ptr<qvm::FunctionRegistry> functions)
        : CmdDistributor(std::move(functions)) {}

    void arm(Fault fault) {
        std::lock_guard<std::mutex> lock(mutex_);
        armed_ = fault;
    }

    // waitUntilIdle: blocks until every request run by the worker has finished, delegate
    // released (the caller's future is fulfilled a moment before that).
    void waitUntilIdle() {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [this] { return finished_ == run_; });
    }

    // waitUntilKept: blocks until a NeverComplete request has been taken.
    void waitUntilKept() {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [this] { return kept_ != nullptr; });
    }

    RequestTrackingPtr trackRequest(const boost::shared_ptr<cmddistributor::CmdRequest>& request,
                                    std::unique_ptr<PromiseDelegate> delegate,
                                    const cmddistributor::RunOptions& options,
                                    const cmddistributor::IDType& id, bool trackById,
                                    std::function<void()> onFinished) override {
        auto counted = std::make_unique<CountingDelegate>(std::move(delegate));
        {
            std::lock_guard<std::mutex> lock(mutex_);
            fault_ = std::exchange(armed_, Fault::None);
        }
        if (fault_ == Fault::ThrowOnTrack) throw std::runtime_error("distributor cannot track");
        auto finished = [this, inner = std::move(onFinished)] {
            if (inner) inner();
            std::lock_guard<std::mutex> lock(mutex_);
            ++finished_;
            changed_.notify_all();
        };
        return CmdDistributor::trackRequest(request, std::move(counted), options, id, trackById,
                                            std::move(finished));
    }

    void submitRequest(const RequestTrackingPtr& handle, const cmddistributor::IDType& id,
                       cmddistributor::RunOptions options, bool runOnCallingThread) override {
        if (fault_ == Fault::None) {
            {
                std::lock_guard<std::mutex> lock(mutex_);
                ++run_;
            }
            CmdDistributor::submitRequest(handle, id, std::move(options), runOnCallingThread);
            return;
        }
        if (fault_ == Fault::ThrowOnSubmit) throw std::runtime_error("distributor is stopping");
        std::unique_ptr<PromiseDelegate> delegate = handle->releaseDelegate();
        switch (fault_) {
            case Fault::CompleteWithError:
                (void)delegate->markReady();
                delegate->completeWithError(
                    hostError(inExecutionStatus::Error, "license server unreachable"));
                break;
            case Fault::ErrorBeforeReady:
                delegate->completeWithError(
                    hostError(inExecutionStatus::Error, "engine refused the request"));
                (void)delegate->markReady();
                break;
            case Fault::ResultBeforeReady: {
                const std::string text = "off";
                matrix::UniqueArray array = matrix::create(text.data(), text.size());
                delegate->completeWithResult(cmddistributor::FEvalResult::makeSerialized(
                    cmddistributor::detail::serializeQxArrays({array.get()})));
                (void)delegate->markReady();
                break;
            }
            case Fault::NeverComplete: {
                std::lock_guard<std::mutex> lock(mutex_);
                kept_ = std::move(delegate);
                keptId_ = id.getValue();
                changed_.notify_all();
                break;
            }
            default:  // DropDelegate: destroyed here
                break;
        }
    }

    bool cancelRequest(const cmddistributor::IDType& id) override {
        std::unique_ptr<PromiseDelegate> kept;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (!kept_ || id.getValue() != keptId_) return CmdDistributor::cancelRequest(id);
            kept = std::move(kept_);
            ++cancellations;
        }
        (void)kept->markReady();
        kept->completeWithError(hostError(inExecutionStatus::Interrupted, "evaluation cancelled"));
        return true;
    }

    std::atomic<int> cancellations{0};

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
    Fault armed_ = Fault::None;
    Fault fault_ = Fault::None;  // of the request being tracked and submitted (one at a time)
    std::unique_ptr<PromiseDelegate> kept_;
    std::uint64_t keptId_ = 0;
    int run_ = 0;       // requests handed to the worker
    int finished_ = 0;  // ... whose run has ended
};

class FaultInjectionTest : public ::testing::Test {
  protected:
    void SetUp() override {
        engine->registerFunction(
            "version", functions::byArgument({{"", functions::answerText("4.2.0 build 1187")}}));
        engine->registerFunction(
            "qls.internal.feature",
            functions::byArgument({{"graphicsAndGuis", functions::answerText("on")}}));
        service->setRunning(true);
    }

    void TearDown() override {
        distributor->waitUntilIdle();
        EXPECT_EQ(CountingDelegate::alive.load(), 0);
    }

    std::unique_ptr<EnabledFeaturesResponse> askQgg() {
        std::unique_ptr<connector::Message> answer =
            service
                ->deliver(std::make_unique<EnabledFeatures>(
                              "u", std::vector<std::string>{"isQGGEnabled"}),
                          connector::Address(), std::make_shared<connector::Context>())
                .get();
        auto* typed = dynamic_cast<EnabledFeaturesResponse*>(answer.get());
        if (typed == nullptr) throw std::logic_error("not an EnabledFeaturesResponse");
        answer.release();
        return std::unique_ptr<EnabledFeaturesResponse>(typed);
    }

    std::exception_ptr failureOf(Fault fault) {
        distributor->arm(fault);
        try {
            (void)askQgg();
        } catch (...) {
            return std::current_exception();
        }
        return nullptr;
    }

    // The service answers a plain request in full, and no delegate is left alive.
    void expectServing(const char* after) {
        SCOPED_TRACE(after);
        std::unique_ptr<EnabledFeaturesResponse> answer;
        ASSERT_NO_THROW(answer = askQgg());
        EXPECT_EQ(answer->features, (FlagTable{{"isQGGEnabled", true}}));
        EXPECT_EQ(answer->quorixVersion, u"4.2.0 build 1187");
        distributor->waitUntilIdle();
        EXPECT_EQ(CountingDelegate::alive.load(), 0);
    }

    boost::shared_ptr<qvm::FunctionRegistry> registry = boost::make_shared<qvm::FunctionRegistry>();
    boost::shared_ptr<FaultyDistributor> distributor =
        boost::make_shared<FaultyDistributor>(registry);
    std::shared_ptr<qvm::QVM> engine = std::make_shared<qvm::QVM>(registry, distributor);
    std::shared_ptr<InformationServiceProviderImpl> service =
        std::make_shared<InformationServiceProviderImpl>(nullptr, engine);
};

// as<E>: the error as an E, or null. The object lives as long as the caller's `error`.
template <class E>
const E* as(const std::exception_ptr& error) {
    try {
        if (error) std::rethrow_exception(error);
    } catch (const E& typed) {
        return &typed;
    } catch (...) {
    }
    return nullptr;
}

TEST_F(FaultInjectionTest, DistributorErrorsSurfaceUnchangedAndTheServiceGoesOn) {
    expectServing("first request");  // the version is cached from here on

    struct Case {
        Fault fault;
        const char* text;
        bool hostError;  // a RuntimeException with status Error, else std::runtime_error
    };
    for (const Case& c : {Case{Fault::ThrowOnTrack, "distributor cannot track", false},
                          Case{Fault::ThrowOnSubmit, "distributor is stopping", false},
                          Case{Fault::CompleteWithError, "license server unreachable", true},
                          Case{Fault::ErrorBeforeReady, "engine refused the request", true}}) {
        SCOPED_TRACE(c.text);
        const std::exception_ptr error = failureOf(c.fault);
        if (c.hostError) {
            const auto* host = as<RuntimeException>(error);
            ASSERT_NE(host, nullptr);
            EXPECT_STREQ(host->what(), c.text);
            EXPECT_EQ(host->getExecutionStatus(), inExecutionStatus::Error);
            EXPECT_EQ(host->getIdentifier(), "Quorix:injected");
        } else {
            const auto* plain = as<std::runtime_error>(error);
            ASSERT_NE(plain, nullptr);
            EXPECT_EQ(typeid(*plain), typeid(std::runtime_error));
            EXPECT_STREQ(plain->what(), c.text);
        }
        expectServing(c.text);
    }
}

TEST_F(FaultInjectionTest, AResultBeforeMarkReadyIsDeliveredAndADroppedDelegateBreaksThePromise) {
    expectServing("first request");

    distributor->arm(Fault::ResultBeforeReady);
    EXPECT_EQ(askQgg()->features, (FlagTable{{"isQGGEnabled", false}}));  // the early "off"
    expectServing("result before markReady");

    EXPECT_NE(as<boost::broken_promise>(failureOf(Fault::DropDelegate)), nullptr);
    expectServing("dropped delegate");
}

TEST_F(FaultInjectionTest, AFailedVersionEvaluationIsAskedAgainByTheNextRequest) {
    for (Fault fault : {Fault::ThrowOnSubmit, Fault::DropDelegate, Fault::CompleteWithError}) {
        // The first evaluation of the request is "qls.internal.feature": let it pass, and fail
        // the "version" evaluation after it.
        distributor->arm(Fault::None);
        engine->registerFunction("qls.internal.feature", [this, fault](qvm::HostCall& call) {
            distributor->arm(fault);
            return functions::answerText("on")(call);
        });
        EXPECT_NE(failureOf(Fault::None), nullptr);
        engine->registerFunction("qls.internal.feature", functions::answerText("on"));
        expectServing("after a failed version evaluation");
        // A fresh service for the next round, whose version is not cached yet.
        service = std::make_shared<InformationServiceProviderImpl>(nullptr, engine);
        service->setRunning(true);
    }
}

TEST_F(FaultInjectionTest, AnEvaluationThatNeverCompletesEndsOnceTheEngineOrServiceGoesAway) {
    expectServing("first request");

    struct Case {
        const char* what;
        std::function<void()> breakIt, repair;
    };
    for (const Case& c : {Case{"engine turns invalid", [&] { engine->setValid(false); },
                               [&] { engine->setValid(true); }},
                          Case{"service stops", [&] { service->setRunning(false); },
                               [&] { service->setRunning(true); }}}) {
        SCOPED_TRACE(c.what);
        const int cancelledBefore = distributor->cancellations.load();
        std::thread breaker([&] {
            distributor->waitUntilKept();
            c.breakIt();
        });
        const std::exception_ptr error = failureOf(Fault::NeverComplete);
        breaker.join();
        const auto* host = as<RuntimeException>(error);
        ASSERT_NE(host, nullptr);
        EXPECT_STREQ(host->what(), "evaluation cancelled");
        EXPECT_EQ(host->getExecutionStatus(), inExecutionStatus::Interrupted);
        EXPECT_EQ(distributor->cancellations.load(), cancelledBefore + 1);
        c.repair();
        expectServing(c.what);
    }
}

}  // namespace
