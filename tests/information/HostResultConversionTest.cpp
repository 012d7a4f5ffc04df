// Conversion of the engine's answers into the plug-in's result types (text, UTF-16 text, product
// lists) from arrays, serialized arrays and typed values, every refusal with its error, and the
// input arrays an evaluation's payload makes of its text arguments.
#include <gtest/gtest.h>

#include <typeinfo>

#include "../support/HostEngine.hpp"
#include "connector/information/src/HostEvaluation.hpp"

namespace {

using namespace connector::information::v1;
using cmddistributor::FEvalResult;
using matrix::qxArray;
using matrix::UniqueArray;
using qxutil::cmddistributor::detail::VariadicFEvalType;
using testsupport::outcome;
using testsupport::textArray;
using Arrays = std::vector<qxArray*>;
using Products = std::vector<QuorixProduct>;

UniqueArray inCell(UniqueArray value) {
    UniqueArray cell = matrix::createCellArray(1, 1);
    matrix::setCell(cell.get(), 0, std::move(value));
    return cell;
}

// A product list (struct array) of two elements with these "Name" fields.
UniqueArray products(UniqueArray first, UniqueArray second) {
    UniqueArray array = matrix::createStructArray(1, 2, {"Name", "Version"});
    matrix::setField(array.get(), 0, "Name", std::move(first));
    matrix::setField(array.get(), 1, "Name", std::move(second));
    return array;
}

// The texts and product names a conversion gives, joined with "|", or its error.
template <class Out>
std::string converted(const Arrays& arrays) {
    return outcome([&] {
        std::string joined;
        if constexpr (std::is_same_v<Out, Products>) {
            for (const QuorixProduct& product : fromQxArrays<Products>(arrays))
                joined += product.name + "|";
        } else if constexpr (std::is_same_v<Out, std::u16string>) {
            const std::u16string text = fromQxArrays<std::u16string>(arrays);
            joined = std::string(text.begin(), text.end()) + "|";
        } else {
            joined = fromQxArrays<std::string>(arrays) + "|";
        }
        return joined;
    });
}

TEST(HostResultConversionTest, TextComesFromTheFirstCharArrayOrItsOneCell) {
    UniqueArray on = textArray("on"), cellOn = inCell(textArray("on")), empty = textArray("");
    UniqueArray label = matrix::createCharObject("Label", u"on"),
                twoCells = matrix::createCellArray(1, 2);
    UniqueArray number = matrix::createDoubleScalar(1),
                cellNumber = inCell(matrix::createDoubleScalar(1));
    const std::pair<Arrays, std::string> cases[] = {
        {{on.get(), number.get()}, "on|"},  // the rest is ignored
        {{cellOn.get()}, "on|"},
        {{empty.get()}, "|"},
        {{label.get()}, "on|"},
        {{}, "array Quorix:tooFewOutputs"},
        {{nullptr}, "runtime_error: feval returned null."},
        {{number.get()}, "array Quorix:typeMismatch"},
        {{twoCells.get()}, "array Quorix:typeMismatch"},
        {{cellNumber.get()}, "array Quorix:typeMismatch"},
    };
    for (const auto& [arrays, expected] : cases) {
        SCOPED_TRACE(expected);
        EXPECT_EQ(converted<std::string>(arrays), expected);
        EXPECT_EQ(converted<std::u16string>(arrays), expected);
    }
    const std::string far = "Gr\u00fc\u00dfe \U0001D11E";  // a pair of UTF-16 units
    UniqueArray wide = textArray(far);
    EXPECT_EQ(fromQxArrays<std::u16string>({wide.get()}), u"Gr\u00fc\u00dfe \U0001D11E");
    EXPECT_EQ(fromQxArrays<std::string>({wide.get()}), far);
}

TEST(HostResultConversionTest, ProductListsComeFromStructOrObjectElements) {
    UniqueArray list = products(textArray("Vantrell"), inCell(textArray("Quorix Base")));
    UniqueArray object = matrix::createObjectArray("Product", 1, 1, {"Name"});
    matrix::setField(object.get(), 0, "Name", textArray("Vantrell"));
    UniqueArray noStructs = matrix::createStructArray(0, 0, {"Name"});
    UniqueArray noNumbers = matrix::createDoubleMatrix(1, 0), noText = textArray("");
    UniqueArray secondNumeric = products(textArray("Vantrell"), matrix::createDoubleScalar(3));
    UniqueArray nameless = matrix::createStructArray(1, 1, {"Title"}), word = textArray("x");
    const std::pair<Arrays, std::string> cases[] = {
        {{list.get()}, "Vantrell|Quorix Base|"},
        {{object.get()}, "Vantrell|"},
        {{noStructs.get()}, ""},  // an empty array of any class is an empty list
        {{noNumbers.get()}, ""},
        {{noText.get()}, ""},
        {{secondNumeric.get()}, "array Quorix:typeMismatch"},  // no partial list
        {{nameless.get()}, "runtime_error: qxArray does not have a field named Name"},
        {{word.get()}, "runtime_error: qxArray is not a struct"},
        {{nullptr}, "runtime_error: feval returned null."},
        {{}, "array Quorix:tooFewOutputs"},
    };
    for (const auto& [arrays, expected] : cases) EXPECT_EQ(converted<Products>(arrays), expected);
}

// A result converts once; a failure leaves it as it was, so that the same failure comes again.
TEST(HostResultConversionTest, ResultsConvertOnceByTheirForm) {
    const std::string moved = "logic_error: Cannot use FEvalResult results after move.";
    UniqueArray on = textArray("on"), number = matrix::createDoubleScalar(1);
    auto serialized = testsupport::serializedResult(on.get());
    EXPECT_EQ(convertResult<std::string>(*serialized), "on");
    EXPECT_EQ(serialized->getResults().index(), FEvalResult::MOVED_FROM);
    EXPECT_EQ(outcome([&] { return convertResult<std::string>(*serialized); }), moved);
    auto typed = FEvalResult::makeTyped(VariadicFEvalType<Products>{{{"Vantrell"}}});
    EXPECT_EQ(convertResult<Products>(*typed), Products{{"Vantrell"}});
    EXPECT_EQ(outcome([&] { return convertResult<Products>(*typed).at(0).name; }), moved);

    std::tuple<std::unique_ptr<FEvalResult>, std::size_t, std::string> failures[] = {
        {FEvalResult::makeTyped(VariadicFEvalType<std::string>{"on"}), FEvalResult::TYPED_VALUE,
         "bad_any_cast"},
        {FEvalResult::makeTyped(boost::any()), FEvalResult::TYPED_VALUE, "bad_any_cast"},
        {FEvalResult::makeDataArrays(cmddistributor::EDIDataWrapper()), FEvalResult::DATA_ARRAYS,
         "runtime_error: Not implemented"},
        {testsupport::serializedResult(number.get()), FEvalResult::SERIALIZED_ARRAYS,
         "array Quorix:typeMismatch"},
        {testsupport::serializedResult(nullptr), FEvalResult::SERIALIZED_ARRAYS,
         "runtime_error: feval returned null."},
        {FEvalResult::makeSerialized({{'Q', 'X'}}), FEvalResult::SERIALIZED_ARRAYS,
         "array Quorix:badSerializedArray"},
    };
    for (auto& [result, index, expected] : failures) {
        SCOPED_TRACE(expected);
        for (int attempt = 0; attempt < 2; ++attempt) {
            EXPECT_EQ(outcome([&] {
                          (void)convertResult<std::u16string>(*result);
                          return "ok";
                      }),
                      expected);
            EXPECT_EQ(result->getResults().index(), index);
        }
    }
    class OtherResult : public cmddistributor::IIPResult {
        cmddistributor::inExecutionStatus getExecutionStatus() const noexcept override {
            return cmddistributor::inExecutionStatus::Completed;
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
