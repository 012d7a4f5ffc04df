#include <boost/throw_exception.hpp>
#include <cstring>
#include <limits>
#include <set>
#include <string>

#include "host/cmddistributor/ArrayTransport.hpp"
#include "host/cmddistributor/LockBFLHelper.hpp"
#include "host/qxutil/except/QXException.hpp"
#include "standin/host/src/ArrayInternals.hpp"

namespace cmddistributor::detail {
namespace {

using matrix::ClassID;
using matrix::qxArray;
using matrix::UniqueArray;
using qxutil::except::QXException;

// Every serialized array starts with this tag; a change of layout changes the tag.
constexpr char TAG[4] = {'Q', 'X', 'A', '1'};
// Deeper nesting than this is refused rather than followed (the reader recurses).
constexpr int MAX_DEPTH = 64;

// Writes an array's bytes at `out`, or, without an output, only counts them: a first pass
// measures, so that the second writes into bytes allocated once.
class Writer {
  public:
    explicit Writer(std::uint8_t* out) : out_(out) {}

    [[nodiscard]] std::size_t size() const noexcept { return size_; }

    void bytes(const void* data, std::size_t size) {
        if (out_ != nullptr && size != 0) std::memcpy(out_ + size_, data, size);
        size_ += size;
    }
    void u8(std::uint8_t value) {
        if (out_ != nullptr) out_[size_] = value;
        ++size_;
    }
    template <class Unsigned>
    void littleEndian(Unsigned value) {
        if (out_ != nullptr)
            for (std::size_t i = 0; i < sizeof value; ++i)
                out_[size_ + i] = static_cast<std::uint8_t>(value >> (8 * i));
        size_ += sizeof value;
    }
    void text(const std::string& value) {
        littleEndian(static_cast<std::uint32_t>(value.size()));
        bytes(value.data(), value.size());
    }

    void node(const qxArray* array) {
        u8(array != nullptr ? 1 : 0);
        if (array == nullptr) return;
        u8(array->headerCode);
        u8(static_cast<std::uint8_t>(array->storage));
        text(array->className);
        littleEndian(std::uint64_t{array->rows});
        littleEndian(std::uint64_t{array->cols});
        switch (array->storage) {
            case ClassID::Char:
                if (out_ == nullptr) {
                    size_ += 2 * array->chars.size();
                    break;
                }
                for (char16_t unit : array->chars) littleEndian(std::uint16_t{unit});
                break;
            case ClassID::Double:
                for (double real : array->reals) {
                    std::uint64_t bits = 0;
                    std::memcpy(&bits, &real, sizeof bits);
                    littleEndian(bits);
                }
                break;
            case ClassID::Struct:
            case ClassID::Object:
                littleEndian(static_cast<std::uint32_t>(array->fieldNames.size()));
                for (const std::string& name : array->fieldNames) text(name);
                [[fallthrough]];
            case ClassID::Cell:
                for (const UniqueArray& child : array->children) node(child.get());
                break;
            default:
                break;
        }
    }

  private:
    std::uint8_t* out_;
    std::size_t size_ = 0;
};

class Reader {
  public:
    explicit Reader(const ByteVector& in) : at_(in.data()), end_(in.data() + in.size()) {}

    [[noreturn]] static void malformed(const std::string& reason) {
        boost::throw_exception(QXException("Quorix:badSerializedArray", reason));
    }

    std::size_t remaining() const { return static_cast<std::size_t>(end_ - at_); }
    void need(std::size_t size) const {
        if (remaining() < size) malformed("the data ends early");
    }
    std::uint8_t u8() {
        need(1);
        return *at_++;
    }
    std::uint32_t u32() {
        need(4);
        std::uint32_t value = 0;
        for (int shift = 0; shift < 32; shift += 8) value |= std::uint32_t{*at_++} << shift;
        return value;
    }
    std::uint64_t u64() {
        need(8);
        std::uint64_t value = 0;
        for (int shift = 0; shift < 64; shift += 8) value |= std::uint64_t{*at_++} << shift;
        return value;
    }
    std::string text() {
        const std::uint32_t size = u32();
        need(size);
        std::string value(reinterpret_cast<const char*>(at_), size);
        at_ += size;
        return value;
    }
    void tag() {
        need(sizeof TAG);
        if (std::memcmp(at_, TAG, sizeof TAG) != 0) malformed("the tag is not QXA1");
        at_ += sizeof TAG;
    }

    UniqueArray node(int depth) {
        if (depth > MAX_DEPTH) malformed("arrays nest deeper than " + std::to_string(MAX_DEPTH));
        const std::uint8_t present = u8();
        if (present == 0) return nullptr;
        if (present != 1) malformed("bad presence flag " + std::to_string(present));

        UniqueArray array(new qxArray);
        array->headerCode = u8();
        array->storage = static_cast<ClassID>(u8());
        array->className = text();
        checkClass(*array);
        const std::uint64_t rows = u64();
        const std::uint64_t cols = u64();
        if (rows > std::numeric_limits<std::size_t>::max() ||
            cols > std::numeric_limits<std::size_t>::max() ||
            (cols != 0 && rows > std::numeric_limits<std::size_t>::max() / cols))
            malformed("dimensions too large");
        array->rows = static_cast<std::size_t>(rows);
        array->cols = static_cast<std::size_t>(cols);
        elements(*array, array->rows * array->cols, depth);
        return array;
    }

  private:
    // elements: the `count` elements of `array`, as its storage keeps them. Each claim of a
    // count is checked against the bytes left before anything is allocated.
    void elements(qxArray& array, std::size_t count, int depth) {
        switch (array.storage) {
            case ClassID::Char:
                if (count > remaining() / 2) malformed("more characters claimed than present");
                array.chars.resize(count);
                for (char16_t& unit : array.chars) {
                    const std::uint8_t low = u8();
                    unit = static_cast<char16_t>(low | (u8() << 8));
                }
                break;
            case ClassID::Double:
                if (count > remaining() / 8) malformed("more numbers claimed than present");
                array.reals.resize(count);
                for (double& real : array.reals) {
                    const std::uint64_t bits = u64();
                    std::memcpy(&real, &bits, sizeof real);
                }
                break;
            case ClassID::Struct:
            case ClassID::Object:
                fieldValues(array, count, depth);
                break;
            case ClassID::Cell:
                children(array, count, depth);
                break;
            default:
                break;
        }
    }

    void fieldValues(qxArray& array, std::size_t count, int depth) {
        const std::uint32_t fields = u32();
        if (fields > remaining() / 4) malformed("more fields claimed than present");
        std::set<std::string> seen;
        for (std::uint32_t i = 0; i < fields; ++i) {
            std::string name = text();
            if (name.empty() || !seen.insert(name).second)
                malformed("empty or repeated field name");
            array.fieldNames.push_back(std::move(name));
        }
        if (fields != 0 && count > remaining() / fields)
            malformed("more field values claimed than present");
        children(array, count * fields, depth);
    }

    void children(qxArray& array, std::size_t count, int depth) {
        if (count > remaining()) malformed("more elements claimed than present");
        array.children.reserve(count);
        for (std::size_t i = 0; i < count; ++i) array.children.push_back(node(depth + 1));
    }

    static void checkClass(const qxArray& array) {
        const auto storage = array.storage;
        const bool builtin = array.headerCode <= matrix::LAST_BUILTIN_CLASS_CODE;
        if (builtin) {
            const bool known = storage == ClassID::Cell || storage == ClassID::Struct ||
                               storage == ClassID::Char || storage == ClassID::Double;
            if (!known || static_cast<std::uint8_t>(storage) != array.headerCode ||
                !array.className.empty())
                malformed("unknown class code " + std::to_string(array.headerCode));
        } else if (array.headerCode == static_cast<std::uint8_t>(ClassID::Object)) {
            if ((storage != ClassID::Object && storage != ClassID::Char) || array.className.empty())
                malformed("bad object header");
        } else {
            malformed("unknown class code " + std::to_string(array.headerCode));
        }
    }

    const std::uint8_t* at_;
    const std::uint8_t* end_;
};

std::recursive_mutex& bflMutex() {
    static std::recursive_mutex mutex;
    return mutex;
}

}  // namespace

SerializedArrays serializeQxArrays(const std::vector<qxArray*>& arrays) {
    SerializedArrays out;
    out.reserve(arrays.size());
    for (const qxArray* array : arrays) {
        Writer counter(nullptr);
        counter.bytes(TAG, sizeof TAG);
        counter.node(array);
        ByteVector bytes(counter.size());
        Writer writer(bytes.data());
        writer.bytes(TAG, sizeof TAG);
        writer.node(array);
        out.push_back(std::move(bytes));
    }
    return out;
}

std::vector<qxArray*> deserializeQxArrays(const SerializedArrays& bytes) {
    // Built in place; should one fail, those made so far are destroyed.
    std::vector<qxArray*> arrays;
    arrays.reserve(bytes.size());
    struct Guard {
        std::vector<qxArray*>* arrays;
        ~Guard() {
            if (arrays != nullptr) nullSafeQxVecDestroy(*arrays);
        }
    } guard{&arrays};
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        try {
            Reader reader(bytes[i]);
            reader.tag();
            UniqueArray array = reader.node(0);
            if (reader.remaining() != 0) Reader::malformed("trailing bytes after the array");
            arrays.push_back(array.release());  // reserved: cannot fail
        } catch (const QXException& error) {
            boost::throw_exception(QXException(
                error.getIdentifier(), "Malformed serialized array " + std::to_string(i + 1) +
                                           " of " + std::to_string(bytes.size()) + ": " +
                                           error.getMessage() + "."));
        }
    }
    guard.arrays = nullptr;
    return arrays;
}

void nullSafeQxVecDestroy(std::vector<qxArray*>& arrays) noexcept {
    for (qxArray*& array : arrays) {
        matrix::destroyArray(array);
        array = nullptr;
    }
    arrays.clear();
}

void verifyMinimumOutputSize(std::size_t minimum, std::size_t actual) {
    if (actual < minimum)
        boost::throw_exception(
            QXException("Quorix:tooFewOutputs", "The function gave " + std::to_string(actual) +
                                                    " output(s) where at least " +
                                                    std::to_string(minimum) + " are required."));
}

void verifyQxArrayTypeAndSize(const qxArray* array, const qxArray* typed, ClassID required,
                              const char* targetName, std::size_t minSize, std::size_t maxSize) {
    if (typed == nullptr || matrix::getClassID(typed) != required) {
        const std::string found = array == nullptr ? "null" : matrix::getClassName(array);
        const std::string wanted = matrix::classIdName(required);
        boost::throw_exception(QXException("Quorix:typeMismatch",
                                           "Cannot convert a " + found + " array to " + targetName +
                                               ": a " + wanted + " array is required."));
    }
    const std::size_t count = matrix::getNumberOfElements(typed);
    if (count < minSize || count > maxSize)
        boost::throw_exception(QXException(
            "Quorix:sizeMismatch", "Cannot convert an array of " + std::to_string(count) +
                                       " elements to " + targetName + ": between " +
                                       std::to_string(minSize) + " and " + std::to_string(maxSize) +
                                       " are allowed."));
}

LockBFLHelper::LockBFLHelper() : lock_(bflMutex()) {}

LockBFLHelper::~LockBFLHelper() = default;

}  // namespace cmddistributor::detail
