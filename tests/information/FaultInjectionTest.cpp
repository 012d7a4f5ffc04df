// Faults of the engine's command distributor, as the information service meets them in an
// EnabledFeatures request: each surfaces out of the request as the error the evaluation bridge
// gives for it, the service then answers the next request as if nothing had happened, and no
// delegate of the bridge is left alive.
#include <gtest/gtest.h>

#include <boost/make_shared.hpp>
#include <boost/thread/future.hpp>
#include <thread>

#include "../support/Answers.hpp"
#include "../support/FaultyDistributor.hpp"
#include "connector/information/v1/EnabledFeatures.hpp"
#include "connector/information/v1/EnabledFeaturesResponse.hpp"
#include "connector/information/v1/InformationServiceProviderImpl.hpp"

namespace {

using namespace connector::information::v1;
using cmddistributor::inExecutionStatus;
using cmddistributor::RuntimeException;
using testsupport::CountingDelegate;
using testsupport::Fault;
using testsupport::FaultyDistributor;
namespace functions = qvm::functions;

class FaultInjectionTest : public ::testing::Test {
  protected:
    void SetUp() override {
        testsupport::registerServiceFunctions(*engine);
        service->setRunning(true);
    }

    void TearDown() override {
        distributor->waitUntilIdle();
        EXPECT_EQ(CountingDelegate::alive.load(), 0);
    }

    std::unique_ptr<EnabledFeaturesResponse> askQgg() {
        return testsupport::answerAs<EnabledFeaturesResponse>(
            service
                ->deliver(std::make_unique<EnabledFeatures>(
                              "u", std::vector<std::string>{"isQGGEnabled"}),
                          connector::Address(), std::make_shared<connector::Context>())
                .get());
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

// The service stopped while an evaluation waits: the evaluation is cancelled once and its
// interruption surfaces; started again, the service serves as before. (The engine turning
// invalid meanwhile is driven at the evaluation level, in HostEvaluationTest.)
TEST_F(FaultInjectionTest, AnEvaluationThatNeverCompletesEndsOnceTheServiceStops) {
    expectServing("first request");
    std::thread stopper([&] {
        distributor->waitUntilKept();
        service->setRunning(false);
    });
    const std::exception_ptr error = failureOf(Fault::NeverComplete);
    stopper.join();
    const auto* host = as<RuntimeException>(error);
    ASSERT_NE(host, nullptr);
    EXPECT_STREQ(host->what(), "evaluation cancelled");
    EXPECT_EQ(host->getExecutionStatus(), inExecutionStatus::Interrupted);
    EXPECT_EQ(distributor->cancelRequests.load(), 1);
    service->setRunning(true);
    expectServing("service started again");
}

}  // namespace
