// Metrics: the figures written out, in the Prometheus text format and as a summary line.
#include <cstdio>
#include <sstream>

#include "tools/connector-host/core/Metrics.hpp"
#include "tools/connector-host/core/MetricsShard.hpp"

namespace connectorhost {
namespace {

const char* const EVALUATION_NAMES[] = {"started", "answered", "failed", "cancelled"};

// A label value: backslash, double quote and line feed escaped.
std::string labelValue(const std::string& text) {
    std::string out;
    for (const char c : text) {
        if (c == '\\' || c == '"') out += '\\';
        if (c == '\n') {
            out += "\\n";
            continue;
        }
        out += c;
    }
    return out;
}

void family(std::ostream& out, const char* name, const char* type, const char* help) {
    out << "# HELP " << name << ' ' << help << "\n# TYPE " << name << ' ' << type << '\n';
}

std::string seconds(std::uint64_t micros) {
    char text[32];
    std::snprintf(text, sizeof text, "%.6f", static_cast<double>(micros) / 1e6);
    return text;
}

}  // namespace

void Metrics::writeRequests(std::ostream& out, const Totals& totals) const {
    const std::size_t types = std::min(typeNames.size(), MAX_TYPES);
    family(out, "connector_host_requests_total", "counter",
           "Envelopes served, by message type and outcome.");
    for (std::size_t t = 0; t < types; ++t)
        for (std::size_t o = 0; o < 2; ++o)
            out << "connector_host_requests_total{type=\"" << labelValue(typeNames[t])
                << "\",outcome=\"" << (o == 0 ? "answered" : "error") << "\"} "
                << totals.requests[t][o] << '\n';
    family(out, "connector_host_request_duration_seconds", "histogram",
           "Time to serve one envelope, by message type.");
    for (std::size_t t = 0; t < types; ++t) {
        const std::string type = "type=\"" + labelValue(typeNames[t]) + "\"";
        std::uint64_t cumulative = 0;
        for (std::size_t b = 0; b < BUCKET_SLOTS; ++b) {
            cumulative += totals.durations[t][b];
            out << "connector_host_request_duration_seconds_bucket{" << type << ",le=\""
                << (b < BUCKETS_US.size() ? seconds(BUCKETS_US[b]) : "+Inf") << "\"} " << cumulative
                << '\n';
        }
        out << "connector_host_request_duration_seconds_sum{" << type << "} "
            << seconds(totals.durationSumUs[t]) << '\n'
            << "connector_host_request_duration_seconds_count{" << type << "} " << cumulative
            << '\n';
    }
}

void Metrics::writeAnswers(std::ostream& out, const Totals& totals) {
    family(out, "connector_host_errors_total", "counter", "Error answers, by kind and status.");
    for (std::size_t k = 0; k < ERROR_KINDS; ++k)
        out << "connector_host_errors_total{kind=\"" << wireName(static_cast<ErrorKind>(k))
            << "\",status=\"" << httpStatus(static_cast<ErrorKind>(k)) << "\"} " << totals.errors[k]
            << '\n';
    family(out, "connector_host_http_responses_total", "counter", "HTTP answers, by status.");
    for (std::size_t s = 0; s <= STATUSES.size(); ++s)
        out << "connector_host_http_responses_total{status=\""
            << (s < STATUSES.size() ? std::to_string(STATUSES[s]) : "other") << "\"} "
            << totals.statuses[s] << '\n';
    family(out, "connector_host_received_bytes_total", "counter", "Bytes of requests received.");
    out << "connector_host_received_bytes_total " << totals.bytesIn << '\n';
    family(out, "connector_host_sent_bytes_total", "counter", "Bytes of answers sent.");
    out << "connector_host_sent_bytes_total " << totals.bytesOut << '\n';
}

void Metrics::writeResources(std::ostream& out, const Totals& totals, const Gauges& gauges) const {
    family(out, "connector_host_connections_reclaimed_total", "counter",
           "Connections closed at the connection cap to make room for a waiting client.");
    out << "connector_host_connections_reclaimed_total " << totals.reclaimed << '\n';
    family(out, "connector_host_engine_evaluations_total", "counter",
           "Host function evaluations by the engine, by what became of them.");
    for (std::size_t e = 0; e < EVALUATION_OUTCOMES; ++e)
        out << "connector_host_engine_evaluations_total{outcome=\"" << EVALUATION_NAMES[e] << "\"} "
            << totals.evaluations[e] << '\n';
    if (gauges.openConnections) {
        family(out, "connector_host_connections_open", "gauge", "HTTP connections open now.");
        out << "connector_host_connections_open " << *gauges.openConnections << '\n';
    }
    if (gauges.idleConnections) {
        family(out, "connector_host_connections_idle", "gauge",
               "Open HTTP connections with no request in progress.");
        out << "connector_host_connections_idle " << *gauges.idleConnections << '\n';
    }
    family(out, "connector_host_sessions", "gauge", "Client sessions held.");
    out << "connector_host_sessions " << gauges.sessions << '\n';
    family(out, "process_start_time_seconds", "gauge",
           "Start time of the process since the epoch, in seconds.");
    char start[32];
    std::snprintf(start, sizeof start, "%.3f", startTime);
    out << "process_start_time_seconds " << start << '\n';
}

std::string Metrics::exposition(const Gauges& gauges) const {
    const Totals totals = sum();
    std::ostringstream out;
    writeRequests(out, totals);
    writeAnswers(out, totals);
    writeResources(out, totals, gauges);
    return out.str();
}

std::string Metrics::summary() const {
    const Totals totals = sum();
    std::uint64_t answered = 0, errors = 0;
    for (const auto& counts : totals.requests) {
        answered += counts[0];
        errors += counts[1];
    }
    std::ostringstream out;
    out << "served " << answered + errors << " requests: " << answered << " answered, " << errors
        << " errors";
    const char* separator = " (";
    for (std::size_t k = 0; k < ERROR_KINDS; ++k) {
        if (totals.errors[k] == 0) continue;
        out << separator << wireName(static_cast<ErrorKind>(k)) << ' ' << totals.errors[k];
        separator = ", ";
    }
    if (separator[0] == ',') out << ')';  // a kind was named
    out << "; " << totals.bytesIn << " bytes in, " << totals.bytesOut << " bytes out; "
        << totals.evaluations[0] << " engine evaluations";
    return out.str();
}

}  // namespace connectorhost
