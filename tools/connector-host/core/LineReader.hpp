// connectorhost::LineReader: reads newline-terminated lines from a stream without letting one line
// grow past a limit: the bytes of an over-long line are counted and dropped, not kept.
// Not thread-safe: one reader per stream.
#pragma once

#include <cstddef>
#include <istream>
#include <string>

namespace connectorhost {

class LineReader {
  public:
    LineReader(std::istream& in, std::size_t maxBytes) : in(in), maxBytes(maxBytes) {}

    struct Line {
        std::string text;      // empty when the line was too long
        std::size_t size = 0;  // its full length in bytes, without the newline
        bool tooLong = false;
    };

    // next: the next line, or false at the end of the input. A trailing "\r" is dropped (and does
    // not count against the limit).
    bool next(Line& line);

  private:
    std::istream& in;
    std::size_t maxBytes;
};

}  // namespace connectorhost
