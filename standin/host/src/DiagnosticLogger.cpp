#include "host/log/DiagnosticLogger.hpp"

#include <atomic>
#include <boost/core/null_deleter.hpp>
#include <boost/locale/utf.hpp>
#include <boost/log/attributes/value_extraction.hpp>
#include <boost/log/core.hpp>
#include <boost/log/expressions.hpp>
#include <boost/log/sinks/sync_frontend.hpp>
#include <boost/log/sinks/text_ostream_backend.hpp>
#include <climits>
#include <iostream>
#include <string_view>

namespace foundation::log {
namespace {

constexpr unsigned NOTHING = UINT_MAX;
std::atomic<unsigned> minimumLevel{NOTHING};

// A line's text as it may reach a terminal: control characters (C0, DEL and C1), backslashes and
// bytes that are not UTF-8 become "\xHH", so that logged input can neither start a line of its
// own nor send escape sequences.
void writeEscaped(boost::log::formatting_ostream& out, std::string_view text) {
    using Utf8 = boost::locale::utf::utf_traits<char>;
    static const char digits[] = "0123456789ABCDEF";
    const auto escape = [&](unsigned char byte) {
        const char code[] = {'\\', 'x', digits[byte >> 4], digits[byte & 0xF]};
        out.write(code, sizeof code);
    };
    const char* p = text.data();
    const char* const end = p + text.size();
    while (p != end) {
        const auto byte = static_cast<unsigned char>(*p);
        if (byte < 0x80) {
            if (byte < 0x20 || byte == 0x7F || byte == '\\')
                escape(byte);
            else
                out.put(static_cast<char>(byte));
            ++p;
            continue;
        }
        const char* const start = p;
        const auto point = Utf8::decode(p, end);
        const bool printable = point != boost::locale::utf::illegal &&
                               point != boost::locale::utf::incomplete &&
                               !(point >= 0x80 && point <= 0x9F);
        if (printable) {
            out.write(start, p - start);
        } else {
            p = start + 1;
            escape(byte);
        }
    }
}

void formatLine(const boost::log::record_view& record, boost::log::formatting_ostream& out) {
    const auto severity = boost::log::extract<unsigned>("Severity", record);
    const auto channel = boost::log::extract<std::string>("Channel", record);
    const auto message = boost::log::extract<std::string>("Message", record);
    out << "[" << (severity ? *severity : 0u) << "] ";
    writeEscaped(out, channel ? *channel : std::string());
    out << ": ";
    writeEscaped(out, message ? *message : std::string());
}

}  // namespace

void set_minimum_level(unsigned level) {
    minimumLevel.store(level, std::memory_order_relaxed);
}

void disable() {
    minimumLevel.store(NOTHING, std::memory_order_relaxed);
}

void add_stderr_sink() {
    using Sink = boost::log::sinks::synchronous_sink<boost::log::sinks::text_ostream_backend>;
    auto sink = boost::make_shared<Sink>();
    sink->locked_backend()->add_stream(
        boost::shared_ptr<std::ostream>(&std::clog, boost::null_deleter()));
    sink->locked_backend()->auto_flush(true);
    sink->set_formatter(&formatLine);
    boost::log::core::get()->add_sink(sink);
}

basic_diagnostic_logger::basic_diagnostic_logger(const std::string& channel)
    : channel_(channel), logger_(boost::log::keywords::channel = channel) {}

bool basic_diagnostic_logger::is_enabled(unsigned level) const noexcept {
    const unsigned minimum = minimumLevel.load(std::memory_order_relaxed);
    return minimum != NOTHING && level >= minimum;
}

}  // namespace foundation::log
