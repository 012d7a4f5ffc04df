// connectorhost::EnvelopeProcessor: one JSON envelope in, one JSON answer out, as connector-host
// serves them on stdin lines and HTTP bodies.
//
//   in:  {"id": 7, "session": "s1", "context": {"gdsEnabled": true},
//         "type": "connector/v1/EnabledFeatures", "message": {"uuid": "u1", "features": []}}
//   out: {"id": 7, "session": "s1", "type": "connector/v1/EnabledFeaturesResponse",
//         "message": {...}}
//    or: {"id": 7, "session": "s1", "error": {"kind": "runtime_error", "message": "..."}}
//
// A request goes through fixed steps: scan and parse, validate the whole envelope, decode the
// message, write the context, deliver, encode. Everything up to decoding only reads, so a request
// refused there changes nothing: no session is created or touched, no context entry written.
//
// Every failure gives exactly one error answer, of a kind of ErrorKind.hpp; nothing escapes
// process(). Refusals of the input are found before the request acts, except "answer_too_large"
// (the answer, once built, is over its limit); errors of delivery and of the services are named
// after their exception ("runtime_error", "invalid_argument", "host_error", ...).
//
// Threads: process() may run on any number of threads at once.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

#include "tools/connector-host/core/ErrorKind.hpp"
#include "tools/connector-host/core/HostRuntime.hpp"
#include "tools/connector-host/core/Limits.hpp"

namespace connectorhost {

struct Request;

struct Answer {
    std::string json;                // one line, no trailing newline
    std::optional<ErrorKind> error;  // the kind of an error answer
    std::size_t type = 0;            // the request's index in HostRuntime::messageTypes()
    std::string session;             // the request's session, if it named a valid one

    // httpStatus: what the answer is over HTTP: 200, or the status of its error kind.
    [[nodiscard]] unsigned httpStatus() const noexcept {
        return error ? connectorhost::httpStatus(*error) : 200;
    }
};

class EnvelopeProcessor {
  public:
    explicit EnvelopeProcessor(HostRuntime& runtime, Limits limits = {});

    [[nodiscard]] Answer process(const std::string& envelope);
    // tooLarge: the answer for an input of `size` bytes, over the limit (the input is not kept).
    [[nodiscard]] Answer tooLarge(std::size_t size) const;
    // refusal: an error answer of `kind` to `envelope`, which is not served, with the "id" and
    // "session" it names where they can be read.
    [[nodiscard]] Answer refusal(ErrorKind kind, const std::string& message,
                                 const std::string& envelope) const;
    // sessionCount: the client sessions held now.
    [[nodiscard]] std::size_t sessionCount() const;

    const Limits limits;

  private:
    [[nodiscard]] Answer serve(const std::string& envelope, Request& request);

    HostRuntime& runtime;
};

}  // namespace connectorhost
