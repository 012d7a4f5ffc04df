#include "tools/connector-host/core/HostLog.hpp"

#include <boost/core/null_deleter.hpp>
#include <boost/date_time/posix_time/posix_time_types.hpp>
#include <boost/locale/utf.hpp>
#include <boost/log/attributes/clock.hpp>
#include <boost/log/attributes/value_extraction.hpp>
#include <boost/log/core.hpp>
#include <boost/log/sinks/sync_frontend.hpp>
#include <boost/log/sinks/text_ostream_backend.hpp>
#include <cstdio>
#include <ctime>
#include <iostream>

#include "host/log/DiagnosticLogger.hpp"

namespace connectorhost {
namespace {

foundation::log::basic_diagnostic_logger hostLogger("connector-host");

std::string timeText(int year, int month, int day, long seconds, long milliseconds) {
    char text[80];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02ld:%02ld:%02ld.%03ldZ", year, month, day,
                  seconds / 3600, seconds / 60 % 60, seconds % 60, milliseconds);
    return text;
}

std::string timeOf(const boost::log::record_view& record) {
    const auto stamp = boost::log::extract<boost::posix_time::ptime>("TimeStamp", record);
    if (!stamp || stamp->is_special()) return "";
    const auto date = stamp->date();
    const auto time = stamp->time_of_day();
    return timeText(date.year(), date.month(), date.day(), time.total_seconds() % 86400,
                    static_cast<long>(time.fractional_seconds() * 1000 /
                                      boost::posix_time::time_duration::ticks_per_second()));
}

template <LogFormat FORMAT>
void formatLine(const boost::log::record_view& record, boost::log::formatting_ostream& out) {
    const auto severity = boost::log::extract<unsigned>("Severity", record);
    const auto channel = boost::log::extract<std::string>("Channel", record);
    const auto message = boost::log::extract<std::string>("Message", record);
    const char* level = levelName(severity ? *severity : 0u);
    const std::string source = escapeLogText(channel ? *channel : std::string());
    const std::string text = escapeLogText(message ? *message : std::string());
    if constexpr (FORMAT == LogFormat::Text) {
        out << timeOf(record) << ' ' << level << ' ' << source << ": " << text;
    } else {
        std::string members;
        appendJsonString(members, source);
        members += ",\"message\":";
        appendJsonString(members, text);
        out << "{\"time\":\"" << timeOf(record) << "\",\"level\":\"" << level
            << "\",\"source\":" << members << '}';
    }
}

}  // namespace

void configureLogging(LogFormat format, unsigned minimumLevel) {
    using Sink = boost::log::sinks::synchronous_sink<boost::log::sinks::text_ostream_backend>;
    auto core = boost::log::core::get();
    core->add_global_attribute("TimeStamp", boost::log::attributes::utc_clock());
    auto sink = boost::make_shared<Sink>();
    sink->locked_backend()->add_stream(
        boost::shared_ptr<std::ostream>(&std::clog, boost::null_deleter()));
    sink->locked_backend()->auto_flush(true);
    if (format == LogFormat::Json)
        sink->set_formatter(&formatLine<LogFormat::Json>);
    else
        sink->set_formatter(&formatLine<LogFormat::Text>);
    core->add_sink(sink);
    foundation::log::set_minimum_level(minimumLevel);
}

const char* levelName(unsigned level) noexcept {
    if (level < log_level::INFO) return "debug";
    if (level < log_level::WARNING) return "info";
    if (level < log_level::ERROR) return "warning";
    return "error";
}

std::string escapeLogText(std::string_view text) {
    using Utf8 = boost::locale::utf::utf_traits<char>;
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size());
    const auto escape = [&](unsigned char byte) {
        out += "\\x";
        out += digits[byte >> 4];
        out += digits[byte & 0xF];
    };
    const char* p = text.data();
    const char* const end = p + text.size();
    while (p != end) {
        const auto byte = static_cast<unsigned char>(*p);
        if (byte < 0x80) {
            if (byte < 0x20 || byte == 0x7F || byte == '\\')
                escape(byte);
            else
                out += static_cast<char>(byte);
            ++p;
            continue;
        }
        const char* const start = p;
        const auto point = Utf8::decode(p, end);
        if (point == boost::locale::utf::illegal || point == boost::locale::utf::incomplete ||
            (point >= 0x80 && point <= 0x9F)) {  // not UTF-8, or a C1 control character
            p = start + 1;
            escape(byte);
        } else {
            out.append(start, p);
        }
    }
    return out;
}

void appendJsonString(std::string& out, std::string_view escaped) {
    out += '"';
    for (const char c : escaped) {
        if (c == '"' || c == '\\') out += '\\';
        out += c;
    }
    out += '"';
}

void appendIsoTime(std::string& out, std::chrono::system_clock::time_point time) {
    const auto since = time.time_since_epoch();
    const std::time_t seconds = std::chrono::duration_cast<std::chrono::seconds>(since).count();
    const long milliseconds = static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(since).count() % 1000);
    // The text of the second is made again only when the second changes.
    thread_local std::time_t cachedSecond = -1;
    thread_local std::string cached;
    if (seconds != cachedSecond) {
        std::tm utc{};
        gmtime_r(&seconds, &utc);
        cached = timeText(utc.tm_year + 1900, utc.tm_mon + 1, utc.tm_mday,
                          utc.tm_hour * 3600L + utc.tm_min * 60L + utc.tm_sec, 0);
        cachedSecond = seconds;
    }
    out.append(cached, 0, cached.size() - 4);  // the milliseconds go before the Z
    out += static_cast<char>('0' + milliseconds / 100);
    out += static_cast<char>('0' + milliseconds / 10 % 10);
    out += static_cast<char>('0' + milliseconds % 10);
    out += 'Z';
}

bool logEnabled(unsigned level) noexcept {
    return hostLogger.is_enabled(level);
}

void logLine(unsigned level, const std::string& text) noexcept {
    hostLogger.log(level, [&](std::ostream& out) { out << text; });
}

bool LogThrottle::admit(std::size_t& heldBefore) noexcept {
    if (!hostLogger.is_enabled(level)) return false;
    const auto now = std::chrono::steady_clock::now();
    std::lock_guard<std::mutex> lock(mutex);
    if (logged && now - last < interval) {
        ++held;
        return false;
    }
    logged = true;
    last = now;
    heldBefore = held;
    held = 0;
    return true;
}

void LogThrottle::write(const std::string& text, std::size_t heldBefore) noexcept {
    try {
        logLine(level, heldBefore == 0 ? text
                                       : text + " (and " + std::to_string(heldBefore) +
                                             " more since the last)");
    } catch (...) {
    }
}

}  // namespace connectorhost
