// Host evaluation through the engine's distributor: the service evaluations in every engine
// mode, refusal of an invalid state, errors passed on unchanged, the delegate's holding back of
// early completions, refused requests, and cancellation once the engine or service goes away,
// wherever the task runs, within a few wait slices. Conversion of the engine's answers into the
// plug-in's result types (text, UTF-16 text, product lists) from arrays, serialized arrays and
// typed values, every refusal with its error, and the input arrays made of text arguments.
#include <gtest/gtest.h>

#include <atomic>
#include <boost/optional/optional_io.hpp>
#include <future>
#include <thread>

#include "../support/HostEngine.hpp"
#include "../support/Outcomes.hpp"
#include "connector/information/src/HostEvaluation.hpp"
#include "host/qvm/NullCmdDistributorTaskReference.hpp"

namespace {

using namespace std::chrono_literals;
using namespace connector::information::v1;
using cmddistributor::FEvalResult;
using cmddistributor::inExecutionStatus;
using matrix::UniqueArray;
using qxutil::cmddistributor::detail::VariadicFEvalType;
using testsupport::errorText;
using testsupport::outcome;
using testsupport::textArray;
using testsupport::textResult;
using Arrays = std::vector<matrix::qxArray*>;
using Products = std::vector<QuorixProduct>;
using Provider = testsupport::RunningProvider;
namespace fn = qvm::functions;

// shown: a result as one comparable text (product names each followed by "|").
std::string shown(const std::u16string& text) {
    return std::string(text.begin(), text.end());
}
std::string shown(const Products& products) {
    std::string names;
    for (const QuorixProduct& product : products) names += product.name + "|";
    return names;
}

// In every engine mode the four service evaluations give their values, and the engine's errors,
// and those of the conversion, reach the caller unchanged.
TEST(HostEvaluationTest, EvaluationsGiveTheirValueOrErrorUnchangedInEveryEngineMode) {
    Provider provider;
    using cmddistributor::CompletionOrder, cmddistributor::ResultForm, cmddistributor::InputForm;
    const std::pair<const char*, std::string> failures[] = {
        {"fails", "host Error 'Quorix:ver:unknown' 'fails': Unrecognized product 'vantrell'."},
        {"nosuch", "host Error 'Quorix:undefinedFunction' 'nosuch': Undefined function 'nosuch'."},
        {"number", "array Quorix:typeMismatch"},
        {"null", "runtime_error: feval returned null."}};
    for (int mode = 0; mode < 8; ++mode) {
        auto engine = qvm::QVM::create(
            {mode & 1 ? CompletionOrder::CompleteThenReady : CompletionOrder::ReadyThenComplete,
             mode & 2 ? ResultForm::TypedValue : ResultForm::SerializedArrays,
             mode & 4 ? InputForm::Arrays : InputForm::SerializedArrays});
        SCOPED_TRACE(mode);
        testsupport::registerServiceFunctions(*engine);
        engine->registerFunction(
            "fails", fn::failWith("Unrecognized product 'vantrell'.", "Quorix:ver:unknown"));
        engine->registerFunction("number", fn::answerArray(matrix::createDoubleScalar(1)));
        engine->registerFunction("null", fn::answerArray(nullptr));
        engine->registerFunction("nothing", [](qvm::HostCall& call) {
            call.getErrors().write("nothing to say");
            return std::vector<UniqueArray>{};
        });
        EXPECT_EQ(
            fevalSync<std::string>(provider, engine, "qls.internal.feature", "graphicsAndGuis"),
            "on");
        EXPECT_EQ(fevalSync<std::u16string>(provider, engine, "version"), u"4.2.0 build 1187");
        EXPECT_EQ(fevalSync<Products>(provider, engine, "ver", "vantrell"), Products{{"Vantrell"}});
        EXPECT_EQ(fevalSync<std::u16string>(provider, engine, "which", "vtr"),
                  u"built-in (/opt/quorix/lib/vtr)");
        for (const auto& [function, expected] : failures)
            EXPECT_EQ(
                outcome([&, f = function] { return fevalSync<std::string>(provider, engine, f); }),
                expected);
        EXPECT_EQ(errorText([&] { (void)fevalSync<Products>(provider, engine, "nothing"); }),
                  "The function gave 0 output(s) where at least 1 are required.");
        EXPECT_EQ(engine->getErrorText(), "nothing to say");
        EXPECT_EQ(engine->getCmdDistributor()->getSubmittedCount(), 9u);
    }
}

// Refused before anything is submitted: a stopped service, no engine, an invalid engine, a
// request that is null or without its IIP. An engine without a distributor gives its error in
// the future, with a task nothing can cancel.
TEST(HostEvaluationTest, AnEvaluationIsRefusedWhereNothingCanRunIt) {
    Provider running, stopped;
    stopped.setRunning(false);
    auto engine = qvm::QVM::create(), invalid = qvm::QVM::create(),
         none = qvm::QVM::createWithoutDistributor();
    invalid->setValid(false);
    const std::string refused = "runtime_error: Invalid QVM state";
    const std::tuple<const Provider*, std::shared_ptr<qvm::QVM>, std::string> cases[] = {
        {&stopped, engine, refused},
        {&running, nullptr, refused},
        {&running, invalid, refused},
        {&running, none, "host Unavailable '' '': No CmdDistributor available"}};
    for (const auto& [provider, vm, expected] : cases)
        EXPECT_EQ(
            outcome([&, p = provider, v = vm] { return fevalSync<std::string>(*p, v, "version"); }),
            expected);
    auto distributor = boost::make_shared<cmddistributor::CmdDistributor>(nullptr);
    auto bare = boost::make_shared<cmddistributor::CmdRequest>(0, nullptr, nullptr);
    EXPECT_EQ(errorText([&] { (void)fevalRequest<std::string>(distributor, nullptr, {}, {}); }),
              "request cannot be null.");
    EXPECT_EQ(errorText([&] { (void)fevalRequest<std::string>(distributor, bare, {}, {}); }),
              "request must contain an IIP.");
    EXPECT_EQ(engine->getCmdDistributor()->getSubmittedCount() +
                  invalid->getCmdDistributor()->getSubmittedCount() +
                  distributor->getSubmittedCount(),
              0u);
    auto future = fevalAsync<std::string>(none, "version");
    EXPECT_TRUE(future.is_ready());
    EXPECT_TRUE(dynamic_cast<qvm::detail::NullCmdDistributorTaskReference*>(
        future.getTaskReference().get()));
}

// Completions that come before markReady are held back (the latest wins) and delivered by it,
// which reports a result's or a host error's status and raises any other error; once ready, a
// completion fulfils at once. A detached delegate leaves its promise pending for as long as its
// state is held (destroyed undetached, it breaks it: see the distributor faults).
TEST(HostEvaluationTest, TheDelegateHoldsCompletionsBackUntilReady) {
    auto fresh = [] {
        return std::make_unique<cmddistributor::PromiseDelegateT<std::string>>(
            &convertResult<std::string>);
    };
    auto early = fresh(), late = fresh(), twice = fresh(), odd = fresh(), detached = fresh();
    auto earlyFuture = early->getFuture(), lateFuture = late->getFuture(),
         twiceFuture = twice->getFuture(), oddFuture = odd->getFuture(),
         detachedFuture = detached->getFuture();
    EXPECT_FALSE(early->completeWithResult(textResult("early")));
    EXPECT_EQ(earlyFuture.wait_for(boost::chrono::milliseconds(0)), boost::future_status::timeout);
    EXPECT_FALSE(early->isPromiseDone());
    EXPECT_EQ(early->markReady(), boost::make_optional(inExecutionStatus::Completed));
    EXPECT_EQ(early->markReady(), boost::none);
    EXPECT_TRUE(early->isPromiseDone());
    early->waitTillReady();
    EXPECT_EQ(earlyFuture.get(), "early");
    EXPECT_THROW(early->completeWithResult(textResult("again")), boost::promise_already_satisfied);

    EXPECT_EQ(late->markReady(), boost::none);
    EXPECT_TRUE(late->completeWithResult(textResult("late")));
    EXPECT_EQ(lateFuture.get(), "late");

    EXPECT_FALSE(twice->completeWithResult(textResult("dropped")));
    EXPECT_FALSE(twice->completeWithError(
        testsupport::hostError(inExecutionStatus::Interrupted, "stopped")));
    EXPECT_EQ(twice->markReady(), boost::make_optional(inExecutionStatus::Interrupted));
    EXPECT_EQ(errorText([&] { (void)twiceFuture.get(); }), "stopped");

    odd->completeWithError(boost::copy_exception(std::invalid_argument("odd")));
    EXPECT_THROW((void)odd->markReady(), std::invalid_argument);
    EXPECT_THROW((void)oddFuture.get(), std::invalid_argument);

    boost::shared_ptr<const void> holder = detached->state();
    detached->detach();
    EXPECT_TRUE(detached->isPromiseDone());
    detached.reset();
    EXPECT_EQ(detachedFuture.wait_for(boost::chrono::milliseconds(0)),
              boost::future_status::timeout);
    holder.reset();
    EXPECT_THROW((void)detachedFuture.get(), boost::broken_promise);
}

// goneAway: what evaluating `function` gives while another thread, once `ready` has returned,
// stops the service or turns the engine invalid; the caller must have it within a few slices.
std::string goneAway(const std::shared_ptr<qvm::QVM>& engine, bool stopService,
                     const std::function<void()>& ready, const char* function) {
    using Clock = std::chrono::steady_clock;
    Provider provider;
    Clock::time_point goneAt;
    std::thread goAway([&] {
        ready();
        goneAt = Clock::now();
        if (stopService) provider.setRunning(false);
        if (!stopService) engine->setValid(false);
    });
    const std::string result =
        outcome([&] { return fevalSync<std::string>(provider, engine, function); });
    const Clock::time_point returnedAt = Clock::now();
    goAway.join();
    // Fifty wait slices of 10 ms: generous for a loaded machine and the sanitizers, and still half
    // of what a wait loop with slices of a second would take.
    EXPECT_LT(returnedAt - goneAt, std::chrono::milliseconds(500));
    return result;
}

// A task waiting for the engine or the service to go away, in both engine modes (run by the
// waiting thread itself, or by the worker): the going away reaches it wherever it runs, and the
// caller gets what it then delivers: the Interrupted error, or its value if it finishes
// regardless. The task would go on for ten seconds without it, past the time goneAway allows.
TEST(HostEvaluationTest, TheTaskIsCancelledWhenTheEngineOrServiceGoesAway) {
    cmddistributor::DistributorOptions onlyWaits;
    onlyWaits.waiting = cmddistributor::WaitingThread::OnlyWaits;
    for (int mode = 0; mode < 8; ++mode) {
        const bool onWaiter = mode & 1, stopService = mode & 2, finishAnyway = mode & 4;
        SCOPED_TRACE(
            mode);  // 1: run by the waiting thread, 2: the service stops, 4: finishes anyway
        auto engine = qvm::QVM::create(onWaiter ? testsupport::waiterFirst() : onlyWaits);
        std::promise<std::thread::id> started;
        std::future<std::thread::id> ranOn = started.get_future();
        engine->registerFunction("slow", testsupport::holdUntilCancelled(started, finishAnyway));
        EXPECT_EQ(goneAway(
                      engine, stopService, [&] { ranOn.wait(); }, "slow"),
                  finishAnyway ? "finished anyway"
                               : "host Interrupted 'Quorix:cancelled' 'slow': Evaluation of 'slow' "
                                 "was cancelled.");
        EXPECT_EQ(ranOn.get() == std::this_thread::get_id(), onWaiter);
    }
}

// How cancelTask asks a task to stop: the first cancellation signals the token (whose callback
// asks the distributor), a second asks the distributor again through cancel_callback.
TEST(HostEvaluationTest, CancellingATaskAsksTheDistributorEachTime) {
    auto faulty = boost::make_shared<testsupport::FaultyDistributor>(nullptr);
    auto engine = std::make_shared<qvm::QVM>(nullptr, faulty);
    faulty->arm(testsupport::Fault::NeverComplete);
    auto future = fevalAsync<std::string>(engine, "version");
    qvm::TaskReference& task = *future.getTaskReference();
    cancelTask(task);
    EXPECT_TRUE(task.isCancelRequested());
    EXPECT_EQ(task.getCancellationToken().getSignallingThread(), std::this_thread::get_id());
    EXPECT_EQ(faulty->cancelRequests.load(), 1);
    cancelTask(task);
    EXPECT_EQ(faulty->cancelRequests.load(), 2);
    EXPECT_EQ(errorText([&] { (void)future.get(); }), "evaluation cancelled");
}

// A request the distributor keeps where the engine's own cancellation does not reach it: a stop
// of the service is told to the task, an engine turned invalid is noticed by the wait loop,
// which cancels the task itself; either way once, and the caller gets the interruption.
TEST(HostEvaluationTest, AnEvaluationThatNeverCompletesEndsOnceWhenTheServiceOrEngineGoes) {
    for (bool stopService : {true, false}) {
        SCOPED_TRACE(stopService ? "service stops" : "engine invalid");
        auto faulty = boost::make_shared<testsupport::FaultyDistributor>(nullptr);
        auto engine = std::make_shared<qvm::QVM>(nullptr, faulty);
        faulty->arm(testsupport::Fault::NeverComplete);
        EXPECT_EQ(goneAway(
                      engine, stopService, [&] { faulty->waitUntilWaitedOn(); }, "version"),
                  "host Interrupted 'Quorix:injected' '': evaluation cancelled");
        EXPECT_EQ(faulty->cancelRequests.load(), 1);
    }
}

UniqueArray inCell(UniqueArray value) {
    UniqueArray cell = matrix::createCellArray(1, 1);
    matrix::setCell(cell.get(), 0, std::move(value));
    return cell;
}

// A product list: a struct array of two elements with these "Name" fields.
UniqueArray products(UniqueArray first, UniqueArray second) {
    UniqueArray array = matrix::createStructArray(1, 2, {"Name", "Version"});
    matrix::setField(array.get(), 0, "Name", std::move(first));
    matrix::setField(array.get(), 1, "Name", std::move(second));
    return array;
}

// What the conversions make of `arrays`: "<text> / <products>" (the UTF-16 text is the text).
std::string converted(const Arrays& arrays) {
    const std::string text = outcome([&] { return fromQxArrays<std::string>(arrays); });
    EXPECT_EQ(outcome([&] { return shown(fromQxArrays<std::u16string>(arrays)); }), text);
    return text + " / " + outcome([&] { return shown(fromQxArrays<Products>(arrays)); });
}

// Text comes from the first array (the rest is ignored), a char array or a one-cell array holding
// one; products from the "Name" fields of a struct or object array, and an empty array of any
// class is an empty list; never a partial list.
TEST(HostResultConversionTest, TextAndProductListsComeFromTheFirstArray) {
    UniqueArray on = textArray("on"), cellOn = inCell(textArray("on")), empty = textArray("");
    UniqueArray label = matrix::createCharObject("Label", u"on"),
                twoCells = matrix::createCellArray(1, 2);
    UniqueArray number = matrix::createDoubleScalar(1),
                cellNumber = inCell(matrix::createDoubleScalar(1));
    UniqueArray list = products(textArray("Vantrell"), inCell(textArray("Quorix Base")));
    UniqueArray object = matrix::createObjectArray("Product", 1, 1, {"Name"});
    matrix::setField(object.get(), 0, "Name", textArray("Vantrell"));
    UniqueArray noStructs = matrix::createStructArray(0, 0, {"Name"}),
                noNumbers = matrix::createDoubleMatrix(1, 0);
    UniqueArray secondNumeric = products(textArray("Vantrell"), matrix::createDoubleScalar(3));
    UniqueArray titled = matrix::createStructArray(1, 1, {"Title"});
    const std::string mismatch = "array Quorix:typeMismatch / ",
                      tooFew = "array Quorix:tooFewOutputs",
                      notStruct = "runtime_error: qxArray is not a struct",
                      null = "runtime_error: feval returned null.",
                      nameless = "runtime_error: qxArray does not have a field named Name";
    // clang-format off
    const std::pair<Arrays, std::string> cases[] = {
        {{on.get(), number.get()}, "on / " + notStruct}, {{cellOn.get()}, "on / " + notStruct},
        {{label.get()}, "on / " + nameless},             {{empty.get()}, " / "},
        {{}, tooFew + " / " + tooFew},                   {{nullptr}, null + " / " + null},
        {{number.get()}, mismatch + notStruct},          {{twoCells.get()}, mismatch + notStruct},
        {{cellNumber.get()}, mismatch + notStruct},
        {{list.get()}, mismatch + "Vantrell|Quorix Base|"},
        {{object.get()}, mismatch + "Vantrell|"},        {{noStructs.get()}, mismatch},
        {{noNumbers.get()}, mismatch},                   {{titled.get()}, mismatch + nameless},
        {{secondNumeric.get()}, mismatch + "array Quorix:typeMismatch"}};  // no partial list
    // clang-format on
    for (const auto& [arrays, expected] : cases) EXPECT_EQ(converted(arrays), expected);
    const std::string far = "Gr\u00fc\u00dfe \U0001D11E";  // a pair of UTF-16 units
    UniqueArray wide = textArray(far);
    EXPECT_EQ(fromQxArrays<std::u16string>({wide.get()}), u"Gr\u00fc\u00dfe \U0001D11E");
    EXPECT_EQ(fromQxArrays<std::string>({wide.get()}), far);
}

// A result converts once, and is then moved from; a failure leaves it as it was, so that the same
// failure comes again.
TEST(HostResultConversionTest, ResultsConvertOnceByTheirForm) {
    using R = FEvalResult;
    const std::string moved = "logic_error: Cannot use FEvalResult results after move.";
    // clang-format off
    std::tuple<std::unique_ptr<R>, std::size_t, std::string, std::string> cases[] = {
        {textResult("on"), R::MOVED_FROM, "on", moved},
        {R::makeTyped(VariadicFEvalType<std::u16string>{u"on"}), R::MOVED_FROM, "on", moved},
        {R::makeTyped(VariadicFEvalType<std::string>{"on"}), R::TYPED_VALUE, "bad_any_cast", ""},
        {R::makeTyped(boost::any()), R::TYPED_VALUE, "bad_any_cast", ""},
        {R::makeDataArrays({}), R::DATA_ARRAYS, "runtime_error: Not implemented", ""},
        {R::makeSerialized({{'Q', 'X'}}), R::SERIALIZED_ARRAYS, "array Quorix:badSerializedArray",
         ""}};
    // clang-format on
    for (auto& [result, index, first, again] : cases) {
        SCOPED_TRACE(first);
        auto convert = [&result = result] {
            return outcome([&] { return shown(convertResult<std::u16string>(*result)); });
        };
        EXPECT_EQ(convert(), first);
        EXPECT_EQ(result->getResults().index(), index);
        EXPECT_EQ(convert(), again.empty() ? first : again);
    }
    class OtherResult : public cmddistributor::IIPResult {
        inExecutionStatus getExecutionStatus() const noexcept override {
            return inExecutionStatus::Completed;
        }
    } other;
    EXPECT_EQ(outcome([&] { return convertResult<std::string>(other); }), "bad_cast");
}

TEST(HostResultConversionTest, TextArgumentsBecomeCharArraysAndDataArraysAreRefused) {
    EXPECT_EQ(matrix::get_ustring(makeInputArray("Grüße").get()), u"Grüße");
    UniqueArray none = makeInputArray(nullptr);
    EXPECT_EQ(matrix::getClassID(none.get()), matrix::ClassID::Char);
    EXPECT_EQ(matrix::getNumberOfElements(none.get()), 0u);

    cmddistributor::FEvalOpaqueData<void, std::string> noInput(
        cmddistributor::detail::FEvalOpaqueInputData<void>{});
    EXPECT_TRUE(std::get<0>(noInput.serializeInputs()).empty());
    EXPECT_FALSE(noInput.prefersDataArrays());
    std::vector<foundation::quorixdata::Array> data;
    EXPECT_EQ(outcome([&] { return noInput.completedEventFromDataArrays(data).type().name(); }),
              std::string("runtime_error: Cannot create completed event from :") +
                  typeid(std::vector<foundation::quorixdata::Array>).name());
}

}  // namespace
