#include <algorithm>
#include <boost/throw_exception.hpp>
#include <limits>
#include <set>
#include <utility>

#include "host/i18n/Converters.hpp"
#include "host/matrix/Array.hpp"
#include "host/qxutil/except/QXException.hpp"
#include "standin/host/src/ArrayInternals.hpp"

namespace matrix {
namespace {

using qxutil::except::QXException;

[[noreturn]] void fail(const char* identifier, const std::string& message) {
    boost::throw_exception(QXException(identifier, message));
}

std::size_t checkedCount(std::size_t rows, std::size_t cols) {
    if (cols != 0 && rows > std::numeric_limits<std::size_t>::max() / cols)
        fail("Quorix:sizeOverflow", "Array dimensions " + std::to_string(rows) + "x" +
                                        std::to_string(cols) + " are too large.");
    return rows * cols;
}

UniqueArray makeArray(std::uint8_t headerCode, ClassID storage, std::size_t rows,
                      std::size_t cols) {
    const std::size_t count = checkedCount(rows, cols);
    UniqueArray array(new qxArray);
    array->headerCode = headerCode;
    array->storage = storage;
    array->rows = rows;
    array->cols = cols;
    switch (storage) {
        case ClassID::Char:
            array->chars.assign(count, u'\0');
            break;
        case ClassID::Double:
            array->reals.assign(count, 0.0);
            break;
        case ClassID::Cell:
            array->children.resize(count);
            break;
        default:
            break;
    }
    return array;
}

void setFields(qxArray& array, const std::vector<std::string>& fieldNames) {
    std::set<std::string> seen;
    for (const std::string& name : fieldNames) {
        if (name.empty()) fail("Quorix:badFieldName", "Field names must not be empty.");
        if (!seen.insert(name).second)
            fail("Quorix:duplicateField", "Duplicate field name '" + name + "'.");
    }
    const std::size_t count = array.rows * array.cols;
    if (!fieldNames.empty() && count > std::numeric_limits<std::size_t>::max() / fieldNames.size())
        fail("Quorix:sizeOverflow", "Too many struct elements and fields.");
    array.fieldNames = fieldNames;
    array.children.resize(count * fieldNames.size());
}

std::size_t fieldIndex(const qxArray& array, const char* name) {
    const auto found = std::find(array.fieldNames.begin(), array.fieldNames.end(), name);
    return found == array.fieldNames.end()
               ? NO_FIELD
               : static_cast<std::size_t>(found - array.fieldNames.begin());
}

const qxArray& requireStorage(const qxArray* array, ClassID storage, const char* what) {
    if (array == nullptr) fail("Quorix:nullArray", std::string(what) + ": the array is null.");
    if (array->storage != storage)
        fail("Quorix:wrongClass",
             std::string(what) + ": not possible for a " + getClassName(array) + " array.");
    return *array;
}

void requireIndex(const qxArray& array, std::size_t index, const char* what) {
    if (index >= array.rows * array.cols)
        fail("Quorix:indexOutOfRange", std::string(what) + ": index " + std::to_string(index) +
                                           " is out of range for " +
                                           std::to_string(array.rows * array.cols) + " elements.");
}

const fl::i18n::codecvt_string_to_ustring& toUtf16() {
    static const fl::i18n::codecvt_string_to_ustring converter("UTF-8", true);
    return converter;
}

const fl::i18n::codecvt_ustring_to_string& toUtf8() {
    static const fl::i18n::codecvt_ustring_to_string converter("UTF-8", true);
    return converter;
}

}  // namespace

void destroyArray(qxArray* array) noexcept {
    delete array;
}

UniqueArray create(const char* text, std::size_t length) {
    if (text == nullptr && length != 0) fail("Quorix:nullText", "Cannot make text from null.");
    std::u16string units;
    try {
        units = fl::i18n::to_ustring(std::string(text == nullptr ? "" : text, length), toUtf16());
    } catch (const fl::i18n::conversion_error& error) {
        fail("Quorix:invalidText", error.what());
    }
    return createCharArray(std::move(units));
}

UniqueArray createCharArray(std::u16string text) {
    // Made empty and then given the text's own buffer: the units are not copied.
    UniqueArray array = makeArray(static_cast<std::uint8_t>(ClassID::Char), ClassID::Char, 1, 0);
    array->cols = text.size();
    array->chars = std::move(text);
    return array;
}

UniqueArray createDoubleMatrix(std::size_t rows, std::size_t cols) {
    return makeArray(static_cast<std::uint8_t>(ClassID::Double), ClassID::Double, rows, cols);
}

UniqueArray createDoubleScalar(double value) {
    UniqueArray array = createDoubleMatrix(1, 1);
    array->reals[0] = value;
    return array;
}

UniqueArray createCellArray(std::size_t rows, std::size_t cols) {
    return makeArray(static_cast<std::uint8_t>(ClassID::Cell), ClassID::Cell, rows, cols);
}

UniqueArray createStructArray(std::size_t rows, std::size_t cols,
                              const std::vector<std::string>& fieldNames) {
    UniqueArray array =
        makeArray(static_cast<std::uint8_t>(ClassID::Struct), ClassID::Struct, rows, cols);
    setFields(*array, fieldNames);
    return array;
}

UniqueArray createObjectArray(const std::string& className, std::size_t rows, std::size_t cols,
                              const std::vector<std::string>& fieldNames) {
    if (className.empty()) fail("Quorix:badClassName", "An object needs a class name.");
    UniqueArray array =
        makeArray(static_cast<std::uint8_t>(ClassID::Object), ClassID::Object, rows, cols);
    array->className = className;
    setFields(*array, fieldNames);
    return array;
}

UniqueArray createCharObject(const std::string& className, const std::u16string& text) {
    if (className.empty()) fail("Quorix:badClassName", "An object needs a class name.");
    UniqueArray array =
        makeArray(static_cast<std::uint8_t>(ClassID::Object), ClassID::Char, 1, text.size());
    array->className = className;
    array->chars = text;
    return array;
}

UniqueArray duplicateArray(const qxArray* array) {
    if (array == nullptr) return nullptr;
    UniqueArray copy(new qxArray);
    copy->headerCode = array->headerCode;
    copy->storage = array->storage;
    copy->className = array->className;
    copy->rows = array->rows;
    copy->cols = array->cols;
    copy->chars = array->chars;
    copy->reals = array->reals;
    copy->fieldNames = array->fieldNames;
    copy->children.reserve(array->children.size());
    for (const UniqueArray& child : array->children)
        copy->children.push_back(duplicateArray(child.get()));
    return copy;
}

std::uint8_t getHeaderClassCode(const qxArray* array) noexcept {
    return array == nullptr ? 0 : array->headerCode;
}

ClassID getClassID(const qxArray* array) noexcept {
    if (array == nullptr) return ClassID::Unknown;
    if (array->headerCode <= LAST_BUILTIN_CLASS_CODE)
        return static_cast<ClassID>(array->headerCode);
    // A run-time class: what it derives from decides how it is read.
    return array->storage == ClassID::Char ? ClassID::Char : ClassID::Object;
}

std::string getClassName(const qxArray* array) {
    if (array == nullptr) return "";
    if (!array->className.empty()) return array->className;
    return classIdName(array->storage);
}

std::size_t getM(const qxArray* array) noexcept {
    return array == nullptr ? 0 : array->rows;
}

std::size_t getN(const qxArray* array) noexcept {
    return array == nullptr ? 0 : array->cols;
}

std::size_t getNumberOfElements(const qxArray* array) noexcept {
    return array == nullptr ? 0 : array->rows * array->cols;
}

qxArray* getCell(const qxArray* array, std::size_t index) {
    const qxArray& cells = requireStorage(array, ClassID::Cell, "getCell");
    requireIndex(cells, index, "getCell");
    return cells.children[index].get();
}

void setCell(qxArray* array, std::size_t index, UniqueArray value) {
    requireStorage(array, ClassID::Cell, "setCell");
    requireIndex(*array, index, "setCell");
    array->children[index] = std::move(value);
}

std::vector<std::string> getFieldNames(const qxArray* array) {
    return array == nullptr ? std::vector<std::string>{} : array->fieldNames;
}

qxArray* qxGetField(const qxArray* array, std::size_t index, const char* name) noexcept {
    if (array == nullptr || name == nullptr) return nullptr;
    if (array->storage != ClassID::Struct && array->storage != ClassID::Object) return nullptr;
    const std::size_t field = fieldIndex(*array, name);
    if (field == NO_FIELD || index >= array->rows * array->cols) return nullptr;
    return array->children[index * array->fieldNames.size() + field].get();
}

void setField(qxArray* array, std::size_t index, const std::string& name, UniqueArray value) {
    if (array == nullptr ||
        (array->storage != ClassID::Struct && array->storage != ClassID::Object))
        fail("Quorix:wrongClass",
             "setField: not possible for a " +
                 (array == nullptr ? std::string("null") : getClassName(array)) + " array.");
    requireIndex(*array, index, "setField");
    const std::size_t field = fieldIndex(*array, name.c_str());
    if (field == NO_FIELD)
        fail("Quorix:noSuchField", "setField: the array has no field named " + name + ".");
    array->children[index * array->fieldNames.size() + field] = std::move(value);
}

std::string get_string(const qxArray* array) {
    const qxArray& text = requireStorage(array, ClassID::Char, "get_string");
    try {
        return fl::i18n::to_string(text.chars, toUtf8());
    } catch (const fl::i18n::conversion_error& error) {
        fail("Quorix:invalidText", error.what());
    }
}

std::u16string get_ustring(const qxArray* array) {
    return requireStorage(array, ClassID::Char, "get_ustring").chars;
}

std::vector<double> getDoubles(const qxArray* array) {
    return requireStorage(array, ClassID::Double, "getDoubles").reals;
}

void setDouble(qxArray* array, std::size_t index, double value) {
    requireStorage(array, ClassID::Double, "setDouble");
    requireIndex(*array, index, "setDouble");
    array->reals[index] = value;
}

}  // namespace matrix
