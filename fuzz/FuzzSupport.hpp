// What the fuzzers share: how a broken property is reported, and the printable form of a text.
// A finding aborts, so libFuzzer saves the input that caused it (crash-<sha1>) and stops.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>

namespace fuzzsupport {

// finding: reports a broken property and aborts.
[[noreturn]] inline void finding(const std::string& what) {
    std::fprintf(stderr, "\n==== FINDING: %s\n", what.c_str());
    std::fflush(stderr);
    std::abort();
}

inline void require(bool holds, const std::string& what) {
    if (!holds) finding(what);
}

// printable: `text` with every byte outside printable ASCII as \xHH, at most `limit` bytes.
inline std::string printable(const std::string& text, std::size_t limit = 400) {
    std::string out;
    for (std::size_t i = 0; i < text.size() && i < limit; ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if (byte >= 0x20 && byte < 0x7f && byte != '\\') {
            out += static_cast<char>(byte);
        } else {
            char escaped[5];
            std::snprintf(escaped, sizeof escaped, "\\x%02x", byte);
            out += escaped;
        }
    }
    if (text.size() > limit) out += "...(" + std::to_string(text.size()) + " bytes)";
    return out;
}

inline std::string printable(const std::u16string& text, std::size_t limit = 200) {
    std::string out;
    for (std::size_t i = 0; i < text.size() && i < limit; ++i) {
        char unit[8];
        std::snprintf(unit, sizeof unit, "%s%04x", i == 0 ? "" : " ",
                      static_cast<unsigned>(text[i]));
        out += unit;
    }
    if (text.size() > limit) out += " ...(" + std::to_string(text.size()) + " units)";
    return out;
}

}  // namespace fuzzsupport
