// connectorhost::ErrorKind: every error connector-host answers with, in one table. Each kind has
// the name an error answer carries on the wire ({"error": {"kind": NAME, "message": ...}}) and the
// HTTP status of that answer: 4xx where the client's input was at fault, 5xx where the host and
// its services failed. Two kinds may share a wire name when only the status tells them apart
// ("too_large" is 413 for a body, 431 for a head).
//
//   throw RequestError(ErrorKind::TooDeep, "JSON nested deeper than 128 levels at byte 9");
//   errorAnswer(ErrorKind::NotFound, "Only /messages is served")
//       == R"({"error":{"kind":"not_found","message":"Only /messages is served"}})"
//
// The wire names and statuses are part of the protocol (docs/PROTOCOL.md): never rename one.
// Threads: pure functions over constant data.
#pragma once

#include <Poco/JSON/Object.h>

#include <exception>
#include <stdexcept>
#include <string>
#include <utility>

namespace connectorhost {

enum class ErrorKind {
    // The envelope or its message, refused.
    TooLarge,
    ParseError,
    TooDeep,
    TooManyValues,
    NumberOutOfRange,
    InvalidEnvelope,
    UnknownType,
    NoProvider,
    TooManyMessages,
    TooManyFeatures,
    DecodeError,
    AnswerTooLarge,
    // Delivery, a service or the encoding of its answer failed.
    EncodeError,
    RuntimeError,
    InvalidArgument,
    LogicError,
    BadAnyCast,
    JsonError,
    HostFailure,
    UnknownError,
    // HTTP refusals, answered before a body is read.
    BadRequest,
    Unauthorized,
    ForbiddenHost,
    ForbiddenOrigin,
    NotFound,
    MethodNotAllowed,
    UnsupportedMediaType,
    HeadTooLarge,
    NotImplemented,
    // The HTTP server itself.
    Stopping,
    Overloaded,
};

struct ErrorKindInfo {
    ErrorKind kind;
    const char* wireName;
    unsigned httpStatus;
};

// info: the row of `kind` in the table.
[[nodiscard]] const ErrorKindInfo& info(ErrorKind kind) noexcept;
[[nodiscard]] inline const char* wireName(ErrorKind kind) noexcept {
    return info(kind).wireName;
}
[[nodiscard]] inline unsigned httpStatus(ErrorKind kind) noexcept {
    return info(kind).httpStatus;
}

// errorAnswer: the one JSON form of an error answer, as one line: `head` (the request's "id"
// and "session", when known) followed by "error". `message` may hold any bytes: what is not
// UTF-8 is escaped (see printable), so the answer is always valid UTF-8 JSON.
[[nodiscard]] std::string errorAnswer(ErrorKind kind, const std::string& message,
                                      Poco::JSON::Object::Ptr head = nullptr);

// RequestError: a request answered with an error of a given kind, raised where the fault is
// found. For a refusal found before the request acts (see EnvelopeProcessor), nothing of the
// request has been written anywhere.
class RequestError : public std::runtime_error {
  public:
    RequestError(ErrorKind kind, const std::string& message)
        : std::runtime_error(message), kind(kind) {}

    const ErrorKind kind;
};

// classify: the kind and text of any error raised while a request was served: a RequestError
// keeps its own; other exceptions are named after their type ("runtime_error", ...).
[[nodiscard]] std::pair<ErrorKind, std::string> classify(const std::exception_ptr& error);

// printable: `text` with every byte outside ASCII written as "\xHH", so that a message can quote
// whatever a client sent and stay UTF-8 (JSON escapes the control characters).
[[nodiscard]] std::string printable(const std::string& text);

// quoted: a header or field value quoted in an error text, printable and cut short at 100 bytes,
// so that an answer never grows with what a client sent.
[[nodiscard]] std::string quoted(const std::string& value);

}  // namespace connectorhost
