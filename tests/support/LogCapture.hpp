// LogCapture: collects the diagnostic lines written while it lives, as "<level> <channel>:
// <text>", with every level enabled. One at a time per process.
#pragma once

#include <boost/log/attributes/value_extraction.hpp>
#include <boost/log/core.hpp>
#include <boost/log/sinks/basic_sink_backend.hpp>
#include <boost/log/sinks/sync_frontend.hpp>
#include <string>
#include <vector>

#include "host/log/DiagnosticLogger.hpp"

namespace testsupport {

class LogCapture {
  public:
    LogCapture() {
        boost::log::core::get()->add_sink(sink_);
        foundation::log::set_minimum_level(0);
    }
    ~LogCapture() {
        foundation::log::disable();
        boost::log::core::get()->remove_sink(sink_);
    }
    std::vector<std::string> lines() const { return sink_->locked_backend()->lines; }

  private:
    // The frontend feeds one record at a time.
    struct Backend
        : boost::log::sinks::basic_sink_backend<boost::log::sinks::synchronized_feeding> {
        void consume(const boost::log::record_view& record) {
            namespace log = boost::log;
            lines.push_back(
                std::to_string(log::extract_or_default<unsigned>(record["Severity"], 0u)) + " " +
                log::extract_or_default<std::string>(record["Channel"], std::string()) + ": " +
                log::extract_or_default<std::string>(record["Message"], std::string()));
        }
        std::vector<std::string> lines;
    };
    using Sink = boost::log::sinks::synchronous_sink<Backend>;
    boost::shared_ptr<Sink> sink_ = boost::make_shared<Sink>();
};

}  // namespace testsupport
