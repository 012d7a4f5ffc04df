#include "HostResultConversion.hpp"

#include <boost/any.hpp>
#include <boost/throw_exception.hpp>
#include <cstring>
#include <limits>
#include <mutex>
#include <stdexcept>
#include <utility>

#include "host/cmddistributor/ArrayTransport.hpp"
#include "host/cmddistributor/FEvalResult.hpp"
#include "host/cmddistributor/LockBFLHelper.hpp"
#include "host/cmddistributor/VariadicFEvalType.hpp"

namespace connector::information::v1 {
namespace {

using cmddistributor::FEvalResult;
using matrix::ClassID;
using matrix::qxArray;

const char* const PRODUCT_NAME_FIELD = "Name";

// A one-element cell array stands for the array it holds.
const qxArray* unwrapSingleCell(const qxArray* array) {
    if (matrix::getClassID(array) == ClassID::Cell && matrix::getNumberOfElements(array) == 1)
        return matrix::getCell(array, 0);
    return array;
}

template <class Text>
Text readText(const qxArray* array) {
    array = unwrapSingleCell(array);
    cmddistributor::detail::verifyQxArrayTypeAndSize<Text>(
        array, matrix::getClassID(array) == ClassID::Char ? array : nullptr, 0,
        std::numeric_limits<std::size_t>::max());
    if constexpr (std::is_same_v<Text, std::string>)
        return matrix::get_string(array);
    else
        return matrix::get_ustring(array);
}

const qxArray* firstOutput(const std::vector<qxArray*>& arrays) {
    cmddistributor::detail::verifyMinimumOutputSize(1, arrays.size());
    const qxArray* first = arrays.front();
    if (first == nullptr) detail::raiseRuntimeError("feval returned null.");
    return first;
}

template <class Text>
Text textFromArrays(const std::vector<qxArray*>& arrays) {
    return readText<Text>(firstOutput(arrays));
}

std::vector<QuorixProduct> productsFromArrays(const std::vector<qxArray*>& arrays) {
    // A null list is refused like a null text: there is nothing to count.
    const qxArray* array = firstOutput(arrays);
    const std::size_t count = matrix::getNumberOfElements(array);
    std::vector<QuorixProduct> products(count);
    if (count == 0) return products;
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint8_t code = matrix::getHeaderClassCode(array);
        if (code != static_cast<std::uint8_t>(ClassID::Struct) &&
            code != static_cast<std::uint8_t>(ClassID::Object))
            detail::raiseRuntimeError("qxArray is not a struct");
        const qxArray* name = matrix::qxGetField(array, i, PRODUCT_NAME_FIELD);
        if (name == nullptr)
            detail::raiseRuntimeError(std::string("qxArray does not have a field named ") +
                                      PRODUCT_NAME_FIELD);
        products[i].name = readText<std::string>(name);
    }
    return products;
}

// Releases deserialized arrays however the conversion ends.
class OwnedArrays {
  public:
    explicit OwnedArrays(std::vector<qxArray*> owned) : arrays(std::move(owned)) {}
    ~OwnedArrays() { cmddistributor::detail::nullSafeQxVecDestroy(arrays); }
    OwnedArrays(const OwnedArrays&) = delete;
    OwnedArrays& operator=(const OwnedArrays&) = delete;
    const std::vector<qxArray*>& get() const { return arrays; }

  private:
    std::vector<qxArray*> arrays;
};

template <class Out>
Out convert(cmddistributor::IIPResult& base) {
    auto& result = dynamic_cast<FEvalResult&>(base);
    std::lock_guard<std::mutex> lock(result.getMutex());
    FEvalResult::Results& results = result.getResults();
    Out value = [&results]() -> Out {
        switch (results.index()) {
            case FEvalResult::TYPED_VALUE: {
                using Typed = qxutil::cmddistributor::detail::VariadicFEvalType<Out>;
                auto* typed = boost::any_cast<Typed>(&std::get<FEvalResult::TYPED_VALUE>(results));
                if (typed == nullptr) boost::throw_exception(boost::bad_any_cast());
                return std::move(typed->value);
            }
            case FEvalResult::SERIALIZED_ARRAYS: {
                cmddistributor::detail::LockBFLHelper hostLock;
                OwnedArrays arrays(cmddistributor::detail::deserializeQxArrays(
                    std::get<FEvalResult::SERIALIZED_ARRAYS>(results)));
                return fromQxArrays<Out>(arrays.get());
            }
            case FEvalResult::DATA_ARRAYS:
                detail::raiseRuntimeError("Not implemented");
            default:
                detail::raiseLogicError("Cannot use FEvalResult results after move.");
        }
    }();
    results.emplace<FEvalResult::MOVED_FROM>();
    return value;
}

}  // namespace

template <>
std::string fromQxArrays<std::string>(const std::vector<qxArray*>& arrays) {
    return textFromArrays<std::string>(arrays);
}

template <>
std::u16string fromQxArrays<std::u16string>(const std::vector<qxArray*>& arrays) {
    return textFromArrays<std::u16string>(arrays);
}

template <>
std::vector<QuorixProduct> fromQxArrays<std::vector<QuorixProduct>>(
    const std::vector<qxArray*>& arrays) {
    return productsFromArrays(arrays);
}

template <>
std::string convertResult<std::string>(cmddistributor::IIPResult& result) {
    return convert<std::string>(result);
}

template <>
std::u16string convertResult<std::u16string>(cmddistributor::IIPResult& result) {
    return convert<std::u16string>(result);
}

template <>
std::vector<QuorixProduct> convertResult<std::vector<QuorixProduct>>(
    cmddistributor::IIPResult& result) {
    return convert<std::vector<QuorixProduct>>(result);
}

namespace detail {

void raiseRuntimeError(const std::string& text) {
    boost::throw_exception(std::runtime_error(text));
}

void raiseLogicError(const std::string& text) {
    boost::throw_exception(std::logic_error(text));
}

}  // namespace detail

matrix::UniqueArray makeInputArray(const char* text) {
    if (text == nullptr) return matrix::create("", 0);
    return matrix::create(text, std::strlen(text));
}

}  // namespace connector::information::v1
