#include "tools/connector-host/core/LineReader.hpp"

namespace connectorhost {

bool LineReader::next(Line& line) {
    line = Line();
    std::streambuf* buffer = in.rdbuf();
    bool any = false;
    for (;;) {
        const int c = buffer->sbumpc();
        if (c == std::char_traits<char>::eof()) {
            in.setstate(std::ios::eofbit);
            break;
        }
        any = true;
        if (c == '\n') break;
        ++line.size;
        if (line.tooLong) continue;
        // The limit is on the line: a CR just past it may still be the CR of a CR LF.
        const bool endingCr = c == '\r' && line.text.size() == maxBytes;
        if (line.text.size() >= maxBytes && !endingCr) {
            line.tooLong = true;
            std::string().swap(line.text);
            continue;
        }
        line.text.push_back(static_cast<char>(c));
    }
    if (!line.tooLong && !line.text.empty() && line.text.back() == '\r') {
        line.text.pop_back();
        --line.size;
    }
    return any;
}

}  // namespace connectorhost
