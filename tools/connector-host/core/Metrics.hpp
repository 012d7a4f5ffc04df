// connectorhost::Metrics: what the host has done, counted as it happens and shown in the
// Prometheus text format (version 0.0.4) or as one summary line:
//
//   connector_host_requests_total{type,outcome}      envelopes served, by message type and
//                                                    outcome ("answered" or "error")
//   connector_host_request_duration_seconds{type}    histogram of the time to serve one
//   connector_host_errors_total{kind,status}         error answers by kind (wire name) and status
//   connector_host_http_responses_total{status}      HTTP answers by status
//   connector_host_received_bytes_total, ..._sent_bytes_total
//   connector_host_connections_reclaimed_total       connections reclaimed at the cap
//   connector_host_engine_evaluations_total{outcome} "started", "answered", "failed",
//                                                    "cancelled" (by a stop or the engine's loss)
//   connector_host_connections_open, ..._idle, connector_host_sessions   (gauges, given on read)
//   process_start_time_seconds
//
// Counting never takes a lock: each thread counts into a block of its own (registered once, under
// a mutex, the first time the thread counts) and reading sums the blocks, so threads serving
// requests at once never write the same cache line. Message types are the runtime's list
// (HostRuntime::messageTypes: index 0 stands for a request of no known type).
//
// Threads: every member may be used from any thread at once. Errors: counting never throws.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "tools/connector-host/core/ErrorKind.hpp"

namespace connectorhost {

enum class EvaluationOutcome : std::uint8_t { Started, Answered, Failed, Cancelled };

class Metrics {
  public:
    static constexpr std::size_t MAX_TYPES = 16;
    static constexpr std::size_t ERROR_KINDS = static_cast<std::size_t>(ErrorKind::Overloaded) + 1;
    // Upper bounds of the duration histogram's buckets, in microseconds.
    static constexpr std::array<std::uint64_t, 16> BUCKETS_US = {
        100,   250,    500,    1000,   2500,    5000,    10000,   25000,
        50000, 100000, 250000, 500000, 1000000, 2500000, 5000000, 10000000};

    Metrics();
    ~Metrics();
    Metrics(const Metrics&) = delete;
    Metrics& operator=(const Metrics&) = delete;

    // nameTypes: the message types, index 0 for a request of no known type ("unknown"); at most
    // MAX_TYPES are counted apart, later ones count as index 0. Call before counting starts.
    void nameTypes(std::vector<std::string> names);
    [[nodiscard]] const std::string& typeName(std::size_t type) const noexcept;

    // countRequest: one envelope served (error: the kind of its error answer, if it was one).
    void countRequest(std::size_t type, std::optional<ErrorKind> error,
                      std::chrono::microseconds took, std::size_t bytesIn,
                      std::size_t bytesOut) noexcept;
    // countHttp: an HTTP request answered without an envelope being served (a refusal, the
    // page, health or metrics): its status, its error kind if any, and its bytes.
    void countHttp(unsigned status, std::optional<ErrorKind> error, std::size_t bytesIn,
                   std::size_t bytesOut) noexcept;
    // countStatus: the status of an HTTP answer to an envelope (countRequest counted the rest).
    void countStatus(unsigned status) noexcept;
    void countReclaim() noexcept;
    void countEvaluation(EvaluationOutcome outcome) noexcept;

    // Gauges: what is open now, read by whoever asks for the figures.
    struct Gauges {
        std::optional<std::size_t> openConnections;  // HTTP only
        std::optional<std::size_t> idleConnections;
        std::size_t sessions = 0;
    };
    // exposition: every family in the Prometheus text format.
    [[nodiscard]] std::string exposition(const Gauges& gauges) const;
    // summary: one line of the main figures, for the end of a run on stdin.
    [[nodiscard]] std::string summary() const;

  private:
    struct Shard;
    struct Totals;
    Shard& local() noexcept;
    [[nodiscard]] Totals sum() const;
    void writeRequests(std::ostream& out, const Totals& totals) const;
    static void writeAnswers(std::ostream& out, const Totals& totals);
    void writeResources(std::ostream& out, const Totals& totals, const Gauges& gauges) const;

    const std::uint64_t id;  // tells this instance apart in threads' caches
    std::vector<std::string> typeNames{"unknown"};
    const double startTime;  // seconds since the epoch
    mutable std::mutex mutex;
    std::vector<std::unique_ptr<Shard>> shards;
};

}  // namespace connectorhost
