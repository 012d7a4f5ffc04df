#include "tools/connector-host/LineReader.hpp"

namespace connectorhost {

bool LineReader::next(Line& line) {
    line = Line();
    std::streambuf* buffer = in_.rdbuf();
    bool any = false;
    for (;;) {
        const int c = buffer->sbumpc();
        if (c == std::char_traits<char>::eof()) {
            in_.setstate(std::ios::eofbit);
            break;
        }
        any = true;
        if (c == '\n') break;
        ++line.size;
        if (line.tooLong) continue;
        if (line.text.size() >= maxBytes_) {
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
