// Conversion of the engine's answers into the plug-in's result types (text, UTF-16 text, product
// lists) from arrays, serialized arrays and typed values, every refusal with its error, and the
// input arrays an evaluation's payload makes of its text arguments.
#include <gtest/gtest.h>

#include "../support/HostEngine.hpp"

#include <boost/any.hpp>
#include <string>
#include <typeinfo>
#include <vector>

#include "connector/information/src/HostEvaluation.hpp"
#include "connector/information/src/HostResultConversion.hpp"
#include "host/cmddistributor/ArrayTransport.hpp"
#include "host/cmddistributor/FEvalResult.hpp"
#include "host/cmddistributor/VariadicFEvalType.hpp"
#include "host/qxutil/except/QXException.hpp"

namespace {

using namespace connector::information::v1;
using cmddistributor::FEvalResult;
using matrix::UniqueArray;
using Products = std::vector<QuorixProduct>;
using testsupport::serializedResult;
using testsupport::textArray;

UniqueArray inCell(UniqueArray value) {
    UniqueArray cell = matrix::createCellArray(1, 1);
    matrix::setCell(cell.get(), 0, std::move(value));
    return cell;
}

UniqueArray products(const std::vector<UniqueArray*>& names) {
    UniqueArray array = matrix::createStructArray(1, names.size(), {"Name", "Version"});
    for (std::size_t i = 0; i < names.size(); ++i)
        matrix::setField(array.get(), i, "Name", std::move(*names[i]));
    return array;
}

// What a conversion raised, as "<kind>: <text>", or its value.
template <class F>
std::string outcome(F&& convert) {
    try {
        convert();
        return "ok";
    } catch (const qxutil::except::QXException& error) {
        return "host: " + error.getIdentifier();
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

TEST(HostResultConversionTest, TextComesFromTheFirstCharArrayOrItsOneCell) {
    UniqueArray on = textArray("on"), cellOn = inCell(textArray("on")), empty = textArray("");
    UniqueArray label = matrix::createCharObject("Label", u"on"),
                number = matrix::createDoubleScalar(1);
    UniqueArray twoCells = matrix::createCellArray(1, 2),
                cellNumber = inCell(matrix::createDoubleScalar(1));
    EXPECT_EQ(fromQxArrays<std::string>({on.get(), number.get()}), "on");  // the rest is ignored
    EXPECT_EQ(fromQxArrays<std::u16string>({cellOn.get()}), u"on");
    EXPECT_EQ(fromQxArrays<std::string>({cellOn.get()}), "on");
    EXPECT_EQ(fromQxArrays<std::u16string>({empty.get()}), u"");
    UniqueArray wide = textArray("Gr\u00fc\u00dfe \U0001D11E");  // a pair of UTF-16 units
    EXPECT_EQ(fromQxArrays<std::u16string>({wide.get()}), u"Gr\u00fc\u00dfe \U0001D11E");
    EXPECT_EQ(fromQxArrays<std::string>({wide.get()}), "Gr\u00fc\u00dfe \U0001D11E");
    EXPECT_EQ(fromQxArrays<std::string>({label.get()}), "on");

    struct Case {
        std::vector<matrix::qxArray*> arrays;
        std::string expected;
    };
    const Case failures[] = {
        {{}, "host: Quorix:tooFewOutputs"},
        {{nullptr}, "runtime_error: feval returned null."},
        {{number.get()}, "host: Quorix:typeMismatch"},
        {{twoCells.get()}, "host: Quorix:typeMismatch"},
        {{cellNumber.get()}, "host: Quorix:typeMismatch"},
    };
    for (const Case& c : failures) {
        SCOPED_TRACE(c.expected);
        EXPECT_EQ(outcome([&] { (void)fromQxArrays<std::string>(c.arrays); }), c.expected);
        EXPECT_EQ(outcome([&] { (void)fromQxArrays<std::u16string>(c.arrays); }), c.expected);
    }
}

TEST(HostResultConversionTest, ProductListsComeFromStructOrObjectElements) {
    UniqueArray a = textArray("Vantrell"), b = inCell(textArray("Quorix Base"));
    UniqueArray list = products({&a, &b});
    EXPECT_EQ(fromQxArrays<Products>({list.get()}), (Products{{"Vantrell"}, {"Quorix Base"}}));
    UniqueArray object = matrix::createObjectArray("Product", 1, 1, {"Name"});
    matrix::setField(object.get(), 0, "Name", textArray("Vantrell"));
    EXPECT_EQ(fromQxArrays<Products>({object.get()}), Products{{"Vantrell"}});
    // An empty array of any class is an empty list.
    UniqueArray noStructs = matrix::createStructArray(0, 0, {"Name"});
    UniqueArray noNumbers = matrix::createDoubleMatrix(1, 0), noText = textArray("");
    for (matrix::qxArray* empty : {noStructs.get(), noNumbers.get(), noText.get()})
        EXPECT_TRUE(fromQxArrays<Products>({empty}).empty());

    UniqueArray good = textArray("Vantrell"), numeric = matrix::createDoubleScalar(3);
    UniqueArray secondNumeric = products({&good, &numeric});
    UniqueArray nameless = matrix::createStructArray(1, 1, {"Title"});
    UniqueArray word = textArray("x");
    struct Case {
        matrix::qxArray* array;
        std::string expected;
    };
    const Case failures[] = {
        {secondNumeric.get(), "host: Quorix:typeMismatch"},  // no partial list
        {nameless.get(), "runtime_error: qxArray does not have a field named Name"},
        {word.get(), "runtime_error: qxArray is not a struct"},
        {nullptr, "runtime_error: feval returned null."},
    };
    for (const Case& c : failures) {
        SCOPED_TRACE(c.expected);
        EXPECT_EQ(outcome([&] { (void)fromQxArrays<Products>({c.array}); }), c.expected);
    }
    EXPECT_EQ(outcome([] { (void)fromQxArrays<Products>({}); }), "host: Quorix:tooFewOutputs");
}

TEST(HostResultConversionTest, ResultsConvertOnceByTheirForm) {
    UniqueArray on = textArray("on");
    auto result = serializedResult(on.get());
    EXPECT_EQ(convertResult<std::string>(*result), "on");
    EXPECT_EQ(result->getResults().index(), FEvalResult::MOVED_FROM);
    EXPECT_EQ(outcome([&] { (void)convertResult<std::string>(*result); }),
              "logic_error: Cannot use FEvalResult results after move.");

    using qxutil::cmddistributor::detail::VariadicFEvalType;
    auto typed = FEvalResult::makeTyped(VariadicFEvalType<Products>{{{"Vantrell"}}});
    EXPECT_EQ(convertResult<Products>(*typed), Products{{"Vantrell"}});
    EXPECT_EQ(outcome([&] { (void)convertResult<Products>(*typed); }),
              "logic_error: Cannot use FEvalResult results after move.");

    // Failures leave the results as they were, so the same failure comes again.
    auto wrongType = FEvalResult::makeTyped(VariadicFEvalType<std::string>{"on"});
    auto emptyAny = FEvalResult::makeTyped(boost::any());
    auto dataArrays = FEvalResult::makeDataArrays(cmddistributor::EDIDataWrapper());
    UniqueArray number = matrix::createDoubleScalar(1);
    auto notText = serializedResult(number.get());
    auto nullArray = serializedResult(nullptr);
    auto malformed = FEvalResult::makeSerialized({{'Q', 'X'}});
    struct Case {
        FEvalResult* result;
        std::size_t index;
        std::string expected;
    };
    const Case failures[] = {
        {wrongType.get(), FEvalResult::TYPED_VALUE, "bad_any_cast"},
        {emptyAny.get(), FEvalResult::TYPED_VALUE, "bad_any_cast"},
        {dataArrays.get(), FEvalResult::DATA_ARRAYS, "runtime_error: Not implemented"},
        {notText.get(), FEvalResult::SERIALIZED_ARRAYS, "host: Quorix:typeMismatch"},
        {nullArray.get(), FEvalResult::SERIALIZED_ARRAYS, "runtime_error: feval returned null."},
        {malformed.get(), FEvalResult::SERIALIZED_ARRAYS, "host: Quorix:badSerializedArray"},
    };
    for (const Case& c : failures) {
        SCOPED_TRACE(c.expected);
        for (int attempt = 0; attempt < 2; ++attempt) {
            EXPECT_EQ(outcome([&] { (void)convertResult<std::u16string>(*c.result); }), c.expected);
            EXPECT_EQ(c.result->getResults().index(), c.index);
        }
    }

    class OtherResult : public cmddistributor::IIPResult {
        cmddistributor::inExecutionStatus getExecutionStatus() const noexcept override {
            return cmddistributor::inExecutionStatus::Completed;
        }
    } other;
    EXPECT_EQ(outcome([&] { (void)convertResult<std::string>(other); }), "bad_cast");
}

TEST(HostResultConversionTest, TextArgumentsBecomeCharArrays) {
    EXPECT_EQ(matrix::get_string(makeInputArray("vtr").get()), "vtr");
    EXPECT_EQ(matrix::get_ustring(makeInputArray("Grüße").get()), u"Grüße");
    UniqueArray none = makeInputArray(nullptr);
    EXPECT_EQ(matrix::getClassID(none.get()), matrix::ClassID::Char);
    EXPECT_EQ(matrix::getNumberOfElements(none.get()), 0u);

    // The payload of an evaluation makes one array per argument, in either form.
    using Payload = cmddistributor::FEvalOpaqueData<std::tuple<const char*>, std::string>;
    Payload payload(cmddistributor::detail::FEvalOpaqueInputData<std::tuple<const char*>>(
        std::make_tuple(static_cast<const char*>(nullptr))));
    auto serializedInputs = std::get<0>(payload.serializeInputs());
    std::vector<matrix::qxArray*> inputs =
        cmddistributor::detail::deserializeQxArrays(serializedInputs);
    ASSERT_EQ(inputs.size(), 1u);
    EXPECT_EQ(matrix::get_string(inputs[0]), "");
    cmddistributor::detail::nullSafeQxVecDestroy(inputs);
    inputs = std::get<0>(payload.getInputs());
    ASSERT_EQ(inputs.size(), 1u);
    EXPECT_EQ(matrix::getClassID(inputs[0]), matrix::ClassID::Char);
    cmddistributor::detail::nullSafeQxVecDestroy(inputs);

    cmddistributor::FEvalOpaqueData<void, std::string> noInput(
        cmddistributor::detail::FEvalOpaqueInputData<void>{});
    EXPECT_TRUE(std::get<0>(noInput.serializeInputs()).empty());
    EXPECT_FALSE(noInput.prefersDataArrays());
    std::vector<foundation::quorixdata::Array> data;
    EXPECT_EQ(outcome([&] { (void)noInput.completedEventFromDataArrays(data); }),
              std::string("runtime_error: Cannot create completed event from :") +
                  typeid(std::vector<foundation::quorixdata::Array>).name());
    UniqueArray on = textArray("on");
    std::vector<matrix::qxArray*> outputs{on.get()};
    boost::any event = noInput.completedEventFromQxArrays(outputs);
    using qxutil::cmddistributor::detail::VariadicFEvalType;
    ASSERT_NE(boost::any_cast<VariadicFEvalType<std::string>>(&event), nullptr);
    EXPECT_EQ(boost::any_cast<VariadicFEvalType<std::string>>(event).value, "on");
}

}  // namespace
