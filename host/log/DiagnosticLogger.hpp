// foundation::log::basic_diagnostic_logger: the host's diagnostic logger, a named channel whose
// lines carry a numeric severity level and go to the Boost.Log core.
//
// A line of level L is produced only while L is at or above the process's minimum level
// (set_minimum_level; nothing is enabled until it is set) and a sink is attached. The text of a
// line is formatted only when it will be produced: log() calls its writer only then, so disabled
// lines cost a level check and nothing else.
//
//   static foundation::log::basic_diagnostic_logger logger("connector::information");
//   logger.log(8, [&](std::ostream& out) { out << "Client type found: " << type; });
//
// Threads: a logger may be used from any number of threads at once; the level and the sinks may
// be changed while lines are written. Errors: logging never throws to its caller.
#pragma once

#include <boost/log/sources/record_ostream.hpp>
#include <boost/log/sources/severity_channel_logger.hpp>
#include <ostream>
#include <string>

namespace foundation::log {

// Severity of the lines the plug-in writes: progress and unexpected-but-handled situations.
constexpr unsigned PROGRESS = 8;
constexpr unsigned NOTICE = 256;

// set_minimum_level: lines of `level` and above are produced from now on (by every logger).
void set_minimum_level(unsigned level);
// disable: no line is produced (the state at start).
void disable();

class basic_diagnostic_logger {
  public:
    explicit basic_diagnostic_logger(const std::string& channel);

    const std::string& channel() const noexcept { return channel_; }
    bool is_enabled(unsigned level) const noexcept;

    // log: calls `write(std::ostream&)` to form the line only when the line will be produced.
    template <class Writer>
    void log(unsigned level, Writer&& write) noexcept {
        if (!is_enabled(level)) return;
        try {
            boost::log::record record = logger_.open_record(boost::log::keywords::severity = level);
            if (!record) return;
            {
                boost::log::record_ostream stream(record);
                write(stream.stream());
                stream.flush();
            }
            logger_.push_record(boost::move(record));
        } catch (...) {
            // A diagnostic line is never worth a failed request.
        }
    }

    void log(unsigned level, const char* text) noexcept {
        log(level, [text](std::ostream& out) { out << text; });
    }

  private:
    std::string channel_;
    mutable boost::log::sources::severity_channel_logger_mt<unsigned, std::string> logger_;
};

}  // namespace foundation::log
