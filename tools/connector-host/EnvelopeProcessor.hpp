// connectorhost::EnvelopeProcessor: one JSON envelope in, one JSON answer out, as connector-host
// serves them on stdin lines and HTTP bodies.
//
//   in:  {"id": 7, "session": "s1", "context": {"gdsEnabled": true},
//         "type": "connector/v1/EnabledFeatures", "message": {"uuid": "u1", "features": []}}
//   out: {"id": 7, "session": "s1", "type": "connector/v1/EnabledFeaturesResponse", "message":
//   {...}}
//    or: {"id": 7, "session": "s1", "error": {"kind": "runtime_error", "message": "..."}}
//
// Every failure gives exactly one error answer; nothing escapes process(). Error kinds: input
// errors "too_large", "parse_error", "too_deep", "invalid_envelope", "unknown_type",
// "no_provider", "decode_error"; errors of delivery and of the services are named after their
// exception ("runtime_error", "invalid_argument", "bad_any_cast", "host_error", ...).
//
// Threads: process() may run on any number of threads at once.
#pragma once

#include <cstddef>
#include <string>

#include "tools/connector-host/HostRuntime.hpp"

namespace connectorhost {

struct Answer {
    std::string json;           // one line, no trailing newline
    bool inputError = false;    // the envelope itself was bad
    bool tooLarge = false;      // ... because it was over the size limit
    bool serviceError = false;  // delivery or a service failed
};

class EnvelopeProcessor {
  public:
    static constexpr std::size_t kDefaultMaxBytes = 4 * 1024 * 1024;
    // The JSON parser itself stops at this depth; refusing it first gives the clearer error.
    static constexpr std::size_t kMaxNesting = 128;

    explicit EnvelopeProcessor(HostRuntime& runtime, std::size_t maxBytes = kDefaultMaxBytes);

    [[nodiscard]] Answer process(const std::string& envelope);
    // tooLarge: the answer for an input over the size limit (the input itself is not kept).
    [[nodiscard]] Answer tooLarge(std::size_t size) const;
    [[nodiscard]] std::size_t maxBytes() const noexcept { return maxBytes_; }

  private:
    HostRuntime& runtime_;
    std::size_t maxBytes_;
};

}  // namespace connectorhost
