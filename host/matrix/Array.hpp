// matrix: the host array library. A qxArray is an opaque, two-dimensional array of one class:
//
//   class   | id | holds                                   | made by
//   --------+----+-----------------------------------------+-----------------------------------
//   cell    |  1 | one array (or nothing) per element      | createCellArray, setCell
//   struct  |  2 | a value (or nothing) per element+field  | createStructArray, setField
//   char    |  4 | UTF-16 text, one code unit per element  | create, createCharArray
//   double  |  6 | one number per element                  | createDoubleMatrix / Scalar
//   object  | 18 | like struct, plus a class name          | createObjectArray, createCharObject
//
// Every array records a header class code. Codes up to 16 are the built-in classes themselves;
// codes above 16 name classes defined at run time (18: objects), which the library resolves to a
// class id: an ordinary object resolves to 18, an object of a class derived from char
// (createCharObject) resolves to 4 and reads as text. getHeaderClassCode gives the raw code,
// getClassID the resolved id.
//
// Ownership: every create* function gives a new array owned by the caller (UniqueArray); arrays
// stored in a cell or field belong to their container, and the getters hand out borrowed
// pointers that live as long as the container. destroyArray frees an array and everything in it.
//
// Threads: an array is not synchronised; one thread at a time may use it. The library keeps no
// shared state, so different arrays may be used on different threads at once. Engine code holds
// cmddistributor::detail::LockBFLHelper while it touches arrays on behalf of a run.
//
// Errors: invalid input (bad UTF-8, a missing field, an index out of range, the wrong class)
// raises qxutil::except::QXException with a clear text; reading a null array gives the neutral
// answer stated at each function.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "host/Export.hpp"

namespace matrix {

struct qxArray;

enum class ClassID : std::uint8_t {
    Unknown = 0,
    Cell = 1,
    Struct = 2,
    Char = 4,
    Double = 6,
    Object = 18,
};

// The largest header class code that is a built-in class id by itself.
inline constexpr std::uint8_t LAST_BUILTIN_CLASS_CODE = 16;

// destroyArray: frees the array and its contents. A null array is ignored.
QUORIX_HOST_API void destroyArray(qxArray* array) noexcept;

struct ArrayDeleter {
    void operator()(qxArray* array) const noexcept { destroyArray(array); }
};
using UniqueArray = std::unique_ptr<qxArray, ArrayDeleter>;

// create: a 1xN char array from `length` bytes of UTF-8 text (N UTF-16 units). `text` may be null
// only when `length` is 0. Raises QXException for invalid UTF-8.
[[nodiscard]] QUORIX_HOST_API UniqueArray create(const char* text, std::size_t length);
// createCharArray: a 1xN char array holding the UTF-16 units as given (not validated).
[[nodiscard]] QUORIX_HOST_API UniqueArray createCharArray(std::u16string text);
[[nodiscard]] QUORIX_HOST_API UniqueArray createDoubleMatrix(std::size_t rows, std::size_t cols);
[[nodiscard]] QUORIX_HOST_API UniqueArray createDoubleScalar(double value);
// createCellArray: rows x cols cells, all unset.
[[nodiscard]] QUORIX_HOST_API UniqueArray createCellArray(std::size_t rows, std::size_t cols);
// createStructArray: rows x cols elements with the given fields, all unset. Field names must be
// non-empty and distinct (QXException otherwise).
[[nodiscard]] QUORIX_HOST_API UniqueArray
createStructArray(std::size_t rows, std::size_t cols, const std::vector<std::string>& fieldNames);
// createObjectArray: like createStructArray, for objects of class `className` (class id 18).
[[nodiscard]] QUORIX_HOST_API UniqueArray
createObjectArray(const std::string& className, std::size_t rows, std::size_t cols,
                  const std::vector<std::string>& fieldNames);
// createCharObject: a 1xN object of a class derived from char: header code 18, class id 4.
[[nodiscard]] QUORIX_HOST_API UniqueArray createCharObject(const std::string& className,
                                                           const std::u16string& text);
// duplicateArray: a deep copy; null for a null array.
[[nodiscard]] QUORIX_HOST_API UniqueArray duplicateArray(const qxArray* array);

// getHeaderClassCode: the raw code recorded in the array's header; 0 for a null array.
[[nodiscard]] QUORIX_HOST_API std::uint8_t getHeaderClassCode(const qxArray* array) noexcept;
// getClassID: the class id, codes above 16 resolved; Unknown for a null array.
[[nodiscard]] QUORIX_HOST_API ClassID getClassID(const qxArray* array) noexcept;
// getClassName: "cell", "struct", "char", "double" or an object's class name; "" for null.
[[nodiscard]] QUORIX_HOST_API std::string getClassName(const qxArray* array);
[[nodiscard]] QUORIX_HOST_API std::size_t getM(const qxArray* array) noexcept;  // rows; 0 for null
[[nodiscard]] QUORIX_HOST_API std::size_t getN(const qxArray* array) noexcept;  // cols; 0 for null
// getNumberOfElements: rows times cols; 0 for a null array.
[[nodiscard]] QUORIX_HOST_API std::size_t getNumberOfElements(const qxArray* array) noexcept;

// getCell: the array in cell `index` (borrowed), null when unset. Raises QXException when the
// array is not a cell array or the index is out of range.
[[nodiscard]] QUORIX_HOST_API qxArray* getCell(const qxArray* array, std::size_t index);
// setCell: stores `value` (may be null) in cell `index`, freeing what was there.
QUORIX_HOST_API void setCell(qxArray* array, std::size_t index, UniqueArray value);

// getFieldNames: the fields of a struct or object array, in creation order; empty otherwise.
[[nodiscard]] QUORIX_HOST_API std::vector<std::string> getFieldNames(const qxArray* array);
// qxGetField: the value of field `name` of element `index` (borrowed), or null when the array is
// null, not a struct or object array, has no such field or element, or the value is unset.
[[nodiscard]] QUORIX_HOST_API qxArray* qxGetField(const qxArray* array, std::size_t index,
                                                  const char* name) noexcept;
// setField: stores `value` (may be null) in field `name` of element `index`. Raises QXException
// when the array has no such field or element.
QUORIX_HOST_API void setField(qxArray* array, std::size_t index, const std::string& name,
                              UniqueArray value);

// get_string / get_ustring: the text of an array of class id 4, as UTF-8 / UTF-16. Raise
// QXException for another class and (get_string) for UTF-16 that is not valid.
[[nodiscard]] QUORIX_HOST_API std::string get_string(const qxArray* array);
[[nodiscard]] QUORIX_HOST_API std::u16string get_ustring(const qxArray* array);
// getDoubles: the numbers of a double array, in element order. QXException for another class.
[[nodiscard]] QUORIX_HOST_API std::vector<double> getDoubles(const qxArray* array);

// setDouble: stores `value` in element `index` of a double array.
QUORIX_HOST_API void setDouble(qxArray* array, std::size_t index, double value);

}  // namespace matrix
