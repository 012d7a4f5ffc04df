// cmddistributor::detail: moving host arrays between the engine and its callers.
//
// serializeQxArrays / deserializeQxArrays turn a list of arrays into one byte vector per array
// and back. The bytes are self-contained (a four-byte tag, then the array tree, little-endian),
// so a list can cross threads or processes without sharing any array. A null entry survives the
// round trip as null. Deserializing never trusts its input: bytes that are truncated, carry
// trailing data, nest too deep, claim more elements than they hold or name an unknown class give
// qxutil::except::QXException "Malformed serialized array: ..." and free whatever was built.
//
// verifyMinimumOutputSize and verifyQxArrayTypeAndSize are the checks a caller runs before it
// reads an answer; both raise QXException with a clear text.
//
// Threads: none of these touch shared state; callers hold LockBFLHelper as engine code does.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "host/Export.hpp"
#include "host/matrix/Array.hpp"

namespace cmddistributor::detail {

using ByteVector = std::vector<std::uint8_t>;
using SerializedArrays = std::vector<ByteVector>;

// serializeQxArrays: one byte vector per array, in order. The arrays stay the caller's.
[[nodiscard]] QUORIX_HOST_API SerializedArrays
serializeQxArrays(const std::vector<matrix::qxArray*>& arrays);
// deserializeQxArrays: new arrays, one per byte vector, owned by the caller (free them with
// nullSafeQxVecDestroy). On error nothing is left allocated.
[[nodiscard]] QUORIX_HOST_API std::vector<matrix::qxArray*> deserializeQxArrays(
    const SerializedArrays& bytes);
// nullSafeQxVecDestroy: destroys every array of the list (null entries are skipped) and empties
// the list.
QUORIX_HOST_API void nullSafeQxVecDestroy(std::vector<matrix::qxArray*>& arrays) noexcept;

// verifyMinimumOutputSize: raises unless `actual` >= `minimum`.
QUORIX_HOST_API void verifyMinimumOutputSize(std::size_t minimum, std::size_t actual);

// QxTarget<T>: the array class a native type is read from, and the type's name for messages.
template <class T>
struct QxTarget;
template <>
struct QxTarget<std::string> {
    static constexpr matrix::ClassID classID = matrix::ClassID::Char;
    static constexpr const char* name = "std::string";
};
template <>
struct QxTarget<std::u16string> {
    static constexpr matrix::ClassID classID = matrix::ClassID::Char;
    static constexpr const char* name = "std::u16string";
};

// verifyQxArrayTypeAndSize: `typed` is `array` when the caller found it of the class required
// for the target, null otherwise. Raises when `typed` is null or not of that class, or when its
// element count lies outside [minSize, maxSize].
QUORIX_HOST_API void verifyQxArrayTypeAndSize(const matrix::qxArray* array,
                                              const matrix::qxArray* typed,
                                              matrix::ClassID required, const char* targetName,
                                              std::size_t minSize, std::size_t maxSize);

template <class T>
void verifyQxArrayTypeAndSize(const matrix::qxArray* array, const matrix::qxArray* typed,
                              std::size_t minSize, std::size_t maxSize) {
    verifyQxArrayTypeAndSize(array, typed, QxTarget<T>::classID, QxTarget<T>::name, minSize,
                             maxSize);
}

}  // namespace cmddistributor::detail
