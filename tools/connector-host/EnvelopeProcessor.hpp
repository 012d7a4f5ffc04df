// connectorhost::EnvelopeProcessor: one JSON envelope in, one JSON answer out, as connector-host
// serves them on stdin lines and HTTP bodies.
//
//   in:  {"id": 7, "session": "s1", "context": {"gdsEnabled": true},
//         "type": "connector/v1/EnabledFeatures", "message": {"uuid": "u1", "features": []}}
//   out: {"id": 7, "session": "s1", "type": "connector/v1/EnabledFeaturesResponse", "message":
//   {...}}
//    or: {"id": 7, "session": "s1", "error": {"kind": "runtime_error", "message": "..."}}
//
// A request goes through fixed steps: scan and parse, validate the whole envelope, decode the
// message, write the context, deliver, encode. Everything up to decoding only reads, so a request
// refused there changes nothing: no session is created or touched, no context entry written.
//
// Every failure gives exactly one error answer; nothing escapes process(). Input error kinds:
// "too_large", "parse_error", "too_deep", "too_many_values", "number_out_of_range",
// "invalid_envelope", "unknown_type", "no_provider", "too_many_messages", "too_many_features",
// "decode_error", "answer_too_large". Errors of delivery and of the services are named after
// their exception ("runtime_error", "invalid_argument", "host_error", ...).
//
// Threads: process() may run on any number of threads at once.
#pragma once

#include <cstddef>
#include <string>

#include "tools/connector-host/HostRuntime.hpp"

namespace connectorhost {

// Limits: the most work one request may cause. Each refusal names the limit it hit.
struct Limits {
    std::size_t maxBytes = 4 * 1024 * 1024;        // input line or body
    std::size_t maxDepth = 128;                    // nesting of objects and arrays
    std::size_t maxValues = 50000;                 // JSON values in one input
    std::size_t maxBatchMessages = 64;             // messages in one ContainerRequest
    std::size_t maxFeatures = 32;                  // feature names in one EnabledFeatures
    std::size_t maxAnswerBytes = 8 * 1024 * 1024;  // JSON text of one answer
};

// Outcome: what became of a request, which is what its HTTP status says.
enum class Outcome {
    Answered,      // 200: the service's answer
    InputError,    // 400: the envelope or its message was refused
    TooLarge,      // 413: the input was over the size limit
    ServiceError,  // 500: delivery or a service failed
};

struct Answer {
    std::string json;  // one line, no trailing newline
    Outcome outcome = Outcome::Answered;
};

class EnvelopeProcessor {
  public:
    explicit EnvelopeProcessor(HostRuntime& runtime, Limits limits = {});

    [[nodiscard]] Answer process(const std::string& envelope);
    // tooLarge: the answer for an input of `size` bytes, over the limit (the input is not kept).
    [[nodiscard]] Answer tooLarge(std::size_t size) const;
    [[nodiscard]] const Limits& limits() const noexcept { return limits_; }

  private:
    HostRuntime& runtime_;
    Limits limits_;
};

}  // namespace connectorhost
