#include <gtest/gtest.h>

#include "../support/ErrorText.hpp"

#include <chrono>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "host/cmddistributor/FEvalResult.hpp"
#include "host/qvm/CancellationToken.hpp"
#include "host/qvm/HostFunctions.hpp"
#include "host/qvm/NullCmdDistributorTaskReference.hpp"
#include "host/qvm/QVM.hpp"
#include "host/qxutil/except/QXException.hpp"
#include "host/qxutil/io/StringSink.hpp"
#include "v1/HostEvaluation.hpp"

namespace {

using namespace std::chrono_literals;
using cmddistributor::RuntimeException;
using matrix::UniqueArray;

TEST(HostEngineTest, CancellationTokenTakesEffectOnce) {
    qvm::CancellationToken token;
    std::vector<int> order;
    std::thread::id callbackThread;
    token.registerCallback([&] {
        order.push_back(1);
        callbackThread = std::this_thread::get_id();
    });
    token.registerCallback([&] { throw std::runtime_error("ignored"); });
    token.registerCallback([&] { order.push_back(2); });
    EXPECT_FALSE(token.isSignalled());
    EXPECT_FALSE(token.waitFor(0ns));
    EXPECT_EQ(token.getSignallingThread(), std::thread::id());

    bool waited = false, first = false, second = true;
    std::thread::id signaller;
    std::thread waiter([&] { waited = token.waitFor(1h); });
    std::thread signalling([&] {
        signaller = std::this_thread::get_id();
        first = token.signal();
        second = token.signal();
    });
    signalling.join();
    waiter.join();
    EXPECT_TRUE(waited);
    EXPECT_TRUE(first);
    EXPECT_FALSE(second);
    EXPECT_EQ(order, (std::vector<int>{1, 2}));
    EXPECT_EQ(callbackThread, signaller);
    EXPECT_EQ(token.getSignallingThread(), signaller);
    token.registerCallback([&] { order.push_back(3); });  // late: runs at once
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
}

// Calls a host function the way the engine does, with `token` as the task's cancellation.
std::vector<UniqueArray> invoke(const qvm::HostFunction& function,
                                const std::vector<matrix::qxArray*>& inputs,
                                const qvm::CancellationToken& token) {
    qxutil::io::StringSink output, errors;
    qvm::HostCall call("which", inputs, 1, output, errors, token);
    return function(call);
}

using testsupport::errorText;

TEST(HostEngineTest, ReadyMadeFunctionsAnswerAsConfigured) {
    namespace fn = qvm::functions;
    qvm::CancellationToken token;
    auto version = invoke(fn::answerText("4.2.0"), {}, token);
    ASSERT_EQ(version.size(), 1u);
    EXPECT_EQ(matrix::get_string(version[0].get()), "4.2.0");
    EXPECT_NE(invoke(fn::answerText("4.2.0"), {}, token)[0].get(), version[0].get());

    auto records =
        invoke(fn::answerRecords({{{"Name", "Vantrell"}}, {{"Name", "Base"}, {"Version", "2"}}}),
               {}, token);
    const matrix::qxArray* list = records.at(0).get();
    EXPECT_EQ(matrix::getClassID(list), matrix::ClassID::Struct);
    EXPECT_EQ(matrix::getFieldNames(list), (std::vector<std::string>{"Name", "Version"}));
    EXPECT_EQ(matrix::get_string(matrix::qxGetField(list, 1, "Name")), "Base");
    EXPECT_EQ(matrix::qxGetField(list, 0, "Version"), nullptr);
    EXPECT_EQ(matrix::getNumberOfElements(invoke(fn::answerEmpty(), {}, token).at(0).get()), 0u);

    try {
        (void)invoke(fn::failWith("Undefined variable.", "Quorix:undefined"), {}, token);
        ADD_FAILURE() << "no error";
    } catch (const qxutil::except::QXException& error) {
        EXPECT_EQ(error.getMessage(), "Undefined variable.");
        EXPECT_EQ(error.getIdentifier(), "Quorix:undefined");
    }

    const qvm::HostFunction which =
        fn::byArgument({{"", fn::answerText("none")}, {"vtr", fn::answerText("built-in")}});
    UniqueArray vtr = matrix::create("vtr", 3), other = matrix::create("zzz", 3);
    UniqueArray number = matrix::createDoubleScalar(1);
    EXPECT_EQ(matrix::get_string(invoke(which, {}, token).at(0).get()), "none");
    EXPECT_EQ(matrix::get_string(invoke(which, {vtr.get()}, token).at(0).get()), "built-in");
    EXPECT_EQ(errorText([&] { (void)invoke(which, {other.get()}, token); }),
              "Function 'which' has no answer for the argument 'zzz'.");
    EXPECT_EQ(errorText([&] { (void)invoke(which, {number.get()}, token); }),
              "Function 'which' expects a text argument.");

    // A delayed answer gives up as soon as its task is cancelled, whenever that happens.
    EXPECT_EQ(matrix::get_string(
                  invoke(fn::answerAfter(0ns, fn::answerText("now")), {}, token).at(0).get()),
              "now");
    std::thread canceller([&] { token.signal(); });
    try {
        (void)invoke(fn::answerAfter(1h, fn::answerText("late")), {}, token);
        ADD_FAILURE() << "not cancelled";
    } catch (const RuntimeException& error) {
        EXPECT_EQ(error.getExecutionStatus(), cmddistributor::inExecutionStatus::Interrupted);
        EXPECT_STREQ(error.what(), "Evaluation of 'which' was cancelled.");
    }
    canceller.join();
}

TEST(HostEngineTest, EngineValiditySinksAndFunctionTable) {
    auto engine = qvm::QVM::create();
    EXPECT_TRUE(engine->isValid());
    EXPECT_TRUE(engine->getCmdDistributor());
    engine->setValid(false);
    EXPECT_FALSE(engine->isValid());
    engine->setValid(true);
    EXPECT_TRUE(engine->isValid());
    EXPECT_FALSE(qvm::QVM::createWithoutDistributor()->getCmdDistributor());

    engine->wrapSink(nullptr, false)->write("out");
    engine->wrapSink(nullptr, true)->write("err");
    EXPECT_EQ(engine->getOutputText(), "out");
    EXPECT_EQ(engine->getErrorText(), "err");
    auto own = boost::make_shared<qxutil::io::StringSink>();
    EXPECT_EQ(engine->wrapSink(own, true), own);

    engine->registerFunction("version", qvm::functions::answerText("1"));
    EXPECT_TRUE(engine->getFunctions().find("version"));
    EXPECT_TRUE(engine->getFunctions().remove("version"));
    EXPECT_FALSE(engine->getFunctions().find("version"));
}

// Writes down what the distributor does to it, in order.
class RecordingDelegate final : public cmddistributor::PromiseDelegate {
  public:
    explicit RecordingDelegate(std::vector<std::string>& log) : log_(log) {}
    ~RecordingDelegate() override { log_.push_back("destroyed"); }

    bool completeWithResult(std::unique_ptr<cmddistributor::IIPResult> result) override {
        auto& evaluation = dynamic_cast<cmddistributor::FEvalResult&>(*result);
        log_.push_back((ready_ ? "result " : "early result ") +
                       std::to_string(evaluation.getResults().index()));
        return ready_;
    }
    bool completeWithError(boost::exception_ptr error) override {
        log_.push_back((ready_ ? "error " : "early error ") +
                       errorText([&] { boost::rethrow_exception(error); }));
        return ready_;
    }
    void setWaitCallback(std::function<void()>) override {}
    boost::optional<cmddistributor::inExecutionStatus> markReady() override {
        ready_ = true;
        log_.push_back("ready");
        return boost::none;
    }
    void detach() override {}

  private:
    std::vector<std::string>& log_;
    bool ready_ = false;
};

TEST(HostEngineTest, DistributorCompletesOnceAndMarksReadyInTheChosenOrder) {
    using cmddistributor::CmdDistributor;
    using Order = cmddistributor::CompletionOrder;
    using Form = cmddistributor::ResultForm;
    struct Case {
        Order order;
        Form form;
        const char* function;
        std::vector<std::string> expected;
    };
    const Case cases[] = {
        {Order::ReadyThenComplete,
         Form::SerializedArrays,
         "version",
         {"ready", "result 1", "destroyed", "finished"}},
        {Order::CompleteThenReady,
         Form::TypedValue,
         "version",
         {"early result 0", "ready", "destroyed", "finished"}},
        {Order::CompleteThenReady,
         Form::SerializedArrays,
         "nosuch",
         {"early error Undefined function 'nosuch'.", "ready", "destroyed", "finished"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.function);
        auto functions = boost::make_shared<qvm::FunctionRegistry>();
        functions->add("version", qvm::functions::answerText("4.2.0"));
        CmdDistributor distributor(functions, {c.order, c.form, cmddistributor::InputForm::Arrays});
        std::vector<std::string> log;
        const cmddistributor::IDType id;
        auto request =
            connector::information::v1::makeFEvalRequest<std::string>(c.function, nullptr, nullptr);
        auto handle = distributor.trackRequest(request, std::make_unique<RecordingDelegate>(log),
                                               {}, id, true, [&] { log.push_back("finished"); });
        EXPECT_THROW(distributor.submitRequest(handle, cmddistributor::IDType(), {}, true),
                     std::invalid_argument);
        distributor.submitRequest(handle, id, {}, true);  // runs here, before returning
        EXPECT_EQ(log, c.expected);
        EXPECT_THROW(distributor.submitRequest(handle, id, {}, true), std::logic_error);
    }

    CmdDistributor distributor(nullptr);
    std::vector<std::string> log;
    auto request =
        connector::information::v1::makeFEvalRequest<std::string>("version", nullptr, nullptr);
    auto handle = distributor.trackRequest(request, std::make_unique<RecordingDelegate>(log), {},
                                           {}, true, {});
    handle.reset();  // never submitted: the delegate goes with the handle
    EXPECT_EQ(log, std::vector<std::string>{"destroyed"});
    EXPECT_THROW(distributor.submitRequest(nullptr, {}, {}, false), std::invalid_argument);
    EXPECT_THROW((void)distributor.trackRequest(request, nullptr, {}, {}, true, {}),
                 std::invalid_argument);
    EXPECT_EQ(distributor.getSubmittedCount(), 0u);
}

TEST(HostEngineTest, RunsOnTheWorkerAndLeavesNothingPendingWhenDestroyed) {
    using connector::information::v1::fevalAsync;
    auto engine = qvm::QVM::create();
    std::promise<std::thread::id> ranOn;
    engine->registerFunction("where", [&](qvm::HostCall& call) {
        ranOn.set_value(std::this_thread::get_id());
        if (call.waitForCancellation(1h)) call.throwIfCancelled();
        return std::vector<UniqueArray>{};
    });
    qvm::Future<std::string> pending = fevalAsync<std::string>(engine, "where");
    std::promise<void> continued;
    pending.getTaskReference()->addContinuation([&] { continued.set_value(); });
    EXPECT_NE(ranOn.get_future().get(), std::this_thread::get_id());

    engine.reset();  // the distributor cancels the running request and waits for it
    try {
        (void)pending.get();
        ADD_FAILURE() << "no error";
    } catch (const RuntimeException& error) {
        EXPECT_EQ(error.getExecutionStatus(), cmddistributor::inExecutionStatus::Interrupted);
    }
    continued.get_future().wait();

    // Once the task is gone, continuations run at once, on the caller's thread.
    int ranNow = 0;
    pending.getTaskReference()->addContinuation([&] { ++ranNow; });
    qvm::detail::NullCmdDistributorTaskReference nothing;
    nothing.addContinuation([&] { ++ranNow; });
    EXPECT_EQ(ranNow, 2);
}

}  // namespace
