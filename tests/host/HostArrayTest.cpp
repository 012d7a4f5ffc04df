#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "host/cmddistributor/ArrayTransport.hpp"
#include "host/matrix/Array.hpp"
#include "host/qxutil/except/QXException.hpp"

namespace {

using namespace matrix;
using cmddistributor::detail::deserializeQxArrays;
using cmddistributor::detail::nullSafeQxVecDestroy;
using cmddistributor::detail::serializeQxArrays;
using qxutil::except::QXException;

template <class F>
std::string hostErrorText(F&& action) {
    try {
        action();
    } catch (const QXException& error) {
        return error.getIdentifier() + " " + error.getMessage();
    }
    return "<no host error>";
}

UniqueArray text(const std::string& utf8) {
    return create(utf8.data(), utf8.size());
}

TEST(HostArrayTest, CharArraysKeepUtf16AndReadBackBothWays) {
    struct Case {
        std::string utf8;
        std::u16string utf16;
    };
    const Case cases[] = {
        {"", u""}, {"on", u"on"}, {"Grüße €", u"Grüße €"}, {"\xF0\x9D\x84\x9E", u"\U0001D11E"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.utf8);
        UniqueArray array = text(c.utf8);
        EXPECT_EQ(getClassID(array.get()), ClassID::Char);
        EXPECT_EQ(getHeaderClassCode(array.get()), 4);
        EXPECT_EQ(getNumberOfElements(array.get()), c.utf16.size());
        EXPECT_EQ(get_string(array.get()), c.utf8);
        EXPECT_EQ(get_ustring(array.get()), c.utf16);
    }
    EXPECT_EQ(get_string(create("abcdef", 3).get()), "abc");
    EXPECT_NE(hostErrorText([] { (void)create("\xFF", 1); }).find("Quorix:invalidText"),
              std::string::npos);
    // A lone surrogate cannot become UTF-8, but stays readable as UTF-16.
    UniqueArray lone = createCharArray(std::u16string(1, char16_t(0xD800)));
    EXPECT_NE(hostErrorText([&] { (void)get_string(lone.get()); }).find("Quorix:invalidText"),
              std::string::npos);
    EXPECT_EQ(get_ustring(lone.get()).size(), 1u);
    EXPECT_EQ(hostErrorText([] { (void)get_string(createDoubleScalar(1).get()); }),
              "Quorix:wrongClass get_string: not possible for a double array.");
}

TEST(HostArrayTest, ContainersFieldsAndRunTimeClasses) {
    UniqueArray cells = createCellArray(1, 2);
    setCell(cells.get(), 0, text("a"));
    EXPECT_EQ(get_string(getCell(cells.get(), 0)), "a");
    EXPECT_EQ(getCell(cells.get(), 1), nullptr);
    EXPECT_EQ(hostErrorText([&] { (void)getCell(cells.get(), 2); }),
              "Quorix:indexOutOfRange getCell: index 2 is out of range for 2 elements.");

    UniqueArray records = createStructArray(2, 1, {"Name", "Version"});
    setField(records.get(), 1, "Name", text("Vantrell"));
    EXPECT_EQ(getNumberOfElements(records.get()), 2u);
    EXPECT_EQ(get_string(qxGetField(records.get(), 1, "Name")), "Vantrell");
    EXPECT_EQ(qxGetField(records.get(), 0, "Name"), nullptr);     // unset
    EXPECT_EQ(qxGetField(records.get(), 1, "Missing"), nullptr);  // no such field
    EXPECT_EQ(qxGetField(records.get(), 2, "Name"), nullptr);     // no such element
    EXPECT_EQ(qxGetField(cells.get(), 0, "Name"), nullptr);       // not a struct
    EXPECT_EQ(qxGetField(nullptr, 0, "Name"), nullptr);
    EXPECT_EQ(hostErrorText([&] { setField(records.get(), 0, "Other", nullptr); }),
              "Quorix:noSuchField setField: the array has no field named Other.");
    EXPECT_EQ(hostErrorText([] {
                  (void)createStructArray(1, 1, {"a", "a"});
              }),
              "Quorix:duplicateField Duplicate field name 'a'.");

    // Header codes above 16 resolve through the library: plain objects stay objects, objects of
    // a class derived from char read as text.
    UniqueArray object = createObjectArray("Product", 1, 1, {"Name"});
    EXPECT_EQ(getHeaderClassCode(object.get()), 18);
    EXPECT_EQ(getClassID(object.get()), ClassID::Object);
    EXPECT_EQ(getClassName(object.get()), "Product");
    UniqueArray charObject = createCharObject("Label", u"on");
    EXPECT_EQ(getHeaderClassCode(charObject.get()), 18);
    EXPECT_EQ(getClassID(charObject.get()), ClassID::Char);
    EXPECT_EQ(get_string(charObject.get()), "on");

    EXPECT_EQ(getNumberOfElements(createDoubleMatrix(3, 4).get()), 12u);
    EXPECT_EQ(getNumberOfElements(nullptr), 0u);
    EXPECT_EQ(getClassID(nullptr), ClassID::Unknown);
    destroyArray(nullptr);

    UniqueArray copy = duplicateArray(records.get());
    setField(records.get(), 1, "Name", text("changed"));
    EXPECT_EQ(get_string(qxGetField(copy.get(), 1, "Name")), "Vantrell");
}

// A tree with every class, nesting and unset slots.
UniqueArray sampleTree() {
    UniqueArray root = createStructArray(1, 2, {"Name", "Parts"});
    setField(root.get(), 0, "Name", text("Grüße"));
    UniqueArray parts = createCellArray(2, 2);
    setCell(parts.get(), 0, createCharObject("Label", u"x"));
    setCell(parts.get(), 1, createDoubleScalar(2.5));
    setCell(parts.get(), 3, createObjectArray("Product", 0, 0, {"Name"}));
    setField(root.get(), 1, "Parts", std::move(parts));
    return root;
}

TEST(HostArrayTest, SerializedArraysRoundTripExactly) {
    UniqueArray tree = sampleTree();
    const auto bytes = serializeQxArrays({tree.get(), nullptr});
    ASSERT_EQ(bytes.size(), 2u);
    std::vector<qxArray*> back = deserializeQxArrays(bytes);
    ASSERT_EQ(back.size(), 2u);
    EXPECT_EQ(back[1], nullptr);
    EXPECT_EQ(serializeQxArrays({back[0], back[1]}), bytes);
    EXPECT_EQ(get_string(qxGetField(back[0], 0, "Name")), "Grüße");
    const qxArray* parts = qxGetField(back[0], 1, "Parts");
    EXPECT_EQ(getClassID(getCell(parts, 0)), ClassID::Char);
    EXPECT_EQ(getDoubles(getCell(parts, 1)), std::vector<double>{2.5});
    EXPECT_EQ(getCell(parts, 2), nullptr);
    EXPECT_EQ(getClassName(getCell(parts, 3)), "Product");
    nullSafeQxVecDestroy(back);
    EXPECT_TRUE(back.empty());
}

TEST(HostArrayTest, MalformedBytesGiveAHostErrorAndNothingElse) {
    UniqueArray tree = sampleTree();
    const auto valid = serializeQxArrays({tree.get()}).front();
    auto rejects = [](const cmddistributor::detail::ByteVector& bytes) {
        try {
            std::vector<qxArray*> arrays = deserializeQxArrays({bytes});
            nullSafeQxVecDestroy(arrays);
            return false;
        } catch (const QXException& error) {
            return error.getMessage().rfind("Malformed serialized array 1 of 1: ", 0) == 0;
        }
    };
    for (std::size_t size = 0; size < valid.size(); ++size) {
        SCOPED_TRACE(size);
        EXPECT_TRUE(rejects({valid.begin(), valid.begin() + size}));
    }
    auto trailing = valid;
    trailing.push_back(0);
    EXPECT_TRUE(rejects(trailing));
    // Every single corrupted byte is either still a valid tree or refused; nothing else escapes.
    for (std::size_t at = 0; at < valid.size(); ++at) {
        auto corrupt = valid;
        corrupt[at] ^= 0xFF;
        try {
            std::vector<qxArray*> arrays = deserializeQxArrays({corrupt});
            nullSafeQxVecDestroy(arrays);
        } catch (const QXException&) {
        }
    }
    // Claims of huge sizes are refused before anything is allocated.
    cmddistributor::detail::ByteVector huge = {'Q', 'X', 'A', '1', 1, 6, 6, 0, 0, 0, 0};
    for (int b = 0; b < 8; ++b) huge.push_back(b == 5 ? 1 : 0);  // 2^40 rows
    for (int b = 0; b < 8; ++b) huge.push_back(b == 0 ? 1 : 0);  // 1 column
    EXPECT_TRUE(rejects(huge));
    // Nesting deeper than the reader follows.
    UniqueArray deep = text("leaf");
    for (int i = 0; i < 70; ++i) {
        UniqueArray cell = createCellArray(1, 1);
        setCell(cell.get(), 0, std::move(deep));
        deep = std::move(cell);
    }
    EXPECT_TRUE(rejects(serializeQxArrays({deep.get()}).front()));
}

TEST(HostArrayTest, VerificationsNameWhatIsWrong) {
    using cmddistributor::detail::verifyMinimumOutputSize;
    using cmddistributor::detail::verifyQxArrayTypeAndSize;
    EXPECT_EQ(hostErrorText([] { verifyMinimumOutputSize(1, 0); }),
              "Quorix:tooFewOutputs The function gave 0 output(s) where at least 1 are required.");
    EXPECT_EQ(hostErrorText([] { verifyMinimumOutputSize(1, 1); }), "<no host error>");

    UniqueArray number = createDoubleScalar(1);
    UniqueArray word = text("abc");
    EXPECT_EQ(
        hostErrorText([&] { verifyQxArrayTypeAndSize<std::string>(number.get(), nullptr, 0, 10); }),
        "Quorix:typeMismatch Cannot convert a double array to std::string: a char array "
        "is required.");
    EXPECT_EQ(
        hostErrorText([&] { verifyQxArrayTypeAndSize<std::u16string>(nullptr, nullptr, 0, 1); }),
        "Quorix:typeMismatch Cannot convert a null array to std::u16string: a char array "
        "is required.");
    EXPECT_EQ(
        hostErrorText([&] { verifyQxArrayTypeAndSize<std::string>(word.get(), word.get(), 0, 2); }),
        "Quorix:sizeMismatch Cannot convert an array of 3 elements to std::string: between "
        "0 and 2 are allowed.");
    EXPECT_EQ(
        hostErrorText([&] { verifyQxArrayTypeAndSize<std::string>(word.get(), word.get(), 3, 3); }),
        "<no host error>");
}

}  // namespace
