// QuorixProduct: one installed host product, as the host function "ver" lists it. A plain value;
// a default record has an empty name.
#pragma once

#include <string>

namespace connector::information::v1 {

struct QuorixProduct {
    std::string name;  // UTF-8, from the struct field "Name"

    friend bool operator==(const QuorixProduct& a, const QuorixProduct& b) {
        return a.name == b.name;
    }
    friend bool operator!=(const QuorixProduct& a, const QuorixProduct& b) { return !(a == b); }
};

}  // namespace connector::information::v1
