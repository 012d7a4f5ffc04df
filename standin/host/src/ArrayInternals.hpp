// The layout of a host array, shared by the array library and its serializer only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "host/matrix/Array.hpp"

namespace matrix {

inline constexpr std::size_t NO_FIELD = static_cast<std::size_t>(-1);

struct qxArray {
    std::uint8_t headerCode = 0;
    // How the elements are kept: Char, Double, Cell, Struct or Object (fields). A run-time class
    // derived from char keeps text.
    ClassID storage = ClassID::Unknown;
    std::string className;  // objects only
    std::size_t rows = 0;
    std::size_t cols = 0;
    std::u16string chars;
    std::vector<double> reals;
    std::vector<std::string> fieldNames;
    // Cells: one per element. Struct and object: element-major, one per element and field.
    std::vector<UniqueArray> children;
};

// classIdName: the name of a built-in class, "unknown" for anything else.
inline const char* classIdName(ClassID id) {
    switch (id) {
        case ClassID::Cell:
            return "cell";
        case ClassID::Struct:
            return "struct";
        case ClassID::Char:
            return "char";
        case ClassID::Double:
            return "double";
        case ClassID::Object:
            return "object";
        default:
            return "unknown";
    }
}

}  // namespace matrix
