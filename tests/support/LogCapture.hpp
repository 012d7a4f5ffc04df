// LogCapture: collects the diagnostic lines written while it lives (level, channel, text), with
// every level enabled. One at a time per process.
#pragma once

#include <boost/log/attributes/value_extraction.hpp>
#include <boost/log/core.hpp>
#include <boost/log/sinks/basic_sink_backend.hpp>
#include <boost/log/sinks/sync_frontend.hpp>
#include <mutex>
#include <string>
#include <vector>

#include "host/log/DiagnosticLogger.hpp"

namespace testsupport {

struct LogLine {
    unsigned level;
    std::string channel;
    std::string text;
    bool operator==(const LogLine& other) const {
        return level == other.level && channel == other.channel && text == other.text;
    }
};

class LogCapture {
  public:
    explicit LogCapture(unsigned minimumLevel = 0) : sink_(boost::make_shared<Sink>()) {
        boost::log::core::get()->add_sink(sink_);
        foundation::log::set_minimum_level(minimumLevel);
    }
    ~LogCapture() {
        foundation::log::disable();
        boost::log::core::get()->remove_sink(sink_);
    }
    std::vector<LogLine> lines() const { return sink_->locked_backend()->lines(); }

  private:
    class Backend
        : public boost::log::sinks::basic_sink_backend<boost::log::sinks::synchronized_feeding> {
      public:
        void consume(const boost::log::record_view& record) {
            std::lock_guard<std::mutex> lock(mutex_);
            lines_.push_back(
                {boost::log::extract_or_default<unsigned>(record["Severity"], 0u),
                 boost::log::extract_or_default<std::string>(record["Channel"], std::string()),
                 boost::log::extract_or_default<std::string>(record["Message"], std::string())});
        }
        std::vector<LogLine> lines() const {
            std::lock_guard<std::mutex> lock(mutex_);
            return lines_;
        }

      private:
        mutable std::mutex mutex_;
        std::vector<LogLine> lines_;
    };
    using Sink = boost::log::sinks::synchronous_sink<Backend>;
    boost::shared_ptr<Sink> sink_;
};

}  // namespace testsupport
