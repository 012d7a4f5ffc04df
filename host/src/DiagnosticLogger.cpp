#include "host/log/DiagnosticLogger.hpp"

#include <atomic>
#include <boost/core/null_deleter.hpp>
#include <boost/log/attributes/value_extraction.hpp>
#include <boost/log/core.hpp>
#include <boost/log/expressions.hpp>
#include <boost/log/sinks/sync_frontend.hpp>
#include <boost/log/sinks/text_ostream_backend.hpp>
#include <climits>
#include <iostream>

namespace foundation::log {
namespace {

constexpr unsigned kNothing = UINT_MAX;
std::atomic<unsigned> minimumLevel{kNothing};

}  // namespace

void set_minimum_level(unsigned level) {
    minimumLevel.store(level, std::memory_order_relaxed);
}

void disable() {
    minimumLevel.store(kNothing, std::memory_order_relaxed);
}

void add_stderr_sink() {
    namespace expr = boost::log::expressions;
    using Sink = boost::log::sinks::synchronous_sink<boost::log::sinks::text_ostream_backend>;
    auto sink = boost::make_shared<Sink>();
    sink->locked_backend()->add_stream(
        boost::shared_ptr<std::ostream>(&std::clog, boost::null_deleter()));
    sink->locked_backend()->auto_flush(true);
    sink->set_formatter(expr::stream << "[" << expr::attr<unsigned>("Severity") << "] "
                                     << expr::attr<std::string>("Channel") << ": "
                                     << expr::smessage);
    boost::log::core::get()->add_sink(sink);
}

basic_diagnostic_logger::basic_diagnostic_logger(const std::string& channel)
    : channel_(channel), logger_(boost::log::keywords::channel = channel) {}

bool basic_diagnostic_logger::is_enabled(unsigned level) const noexcept {
    const unsigned minimum = minimumLevel.load(std::memory_order_relaxed);
    return minimum != kNothing && level >= minimum;
}

}  // namespace foundation::log
