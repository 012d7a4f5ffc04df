#include "tools/connector-host/core/EnvelopeProcessor.hpp"

#include <sstream>

#include "connector/framework/CurrentContextState.hpp"
#include "tools/connector-host/core/AnswerBudget.hpp"
#include "tools/connector-host/core/Envelope.hpp"

namespace connectorhost {
namespace {

using Poco::JSON::Object;

// The answer's head: the id and session of the request, where they were valid.
Object::Ptr answerFor(const Request& request) {
    Object::Ptr answer = new Object(Poco::JSON_PRESERVE_KEY_ORDER);
    if (request.id) answer->set("id", *request.id);
    if (request.session) answer->set("session", *request.session);
    return answer;
}

// Measures a session again once a request is done with it, whatever became of the request.
class SessionSettler {
  public:
    SessionSettler(const HostRuntime& runtime, const boost::optional<std::string>& session)
        : runtime(runtime), session(session) {}
    ~SessionSettler() {
        if (session) runtime.sessions->settleSession(*session);
    }
    SessionSettler(const SessionSettler&) = delete;
    SessionSettler& operator=(const SessionSettler&) = delete;

  private:
    const HostRuntime& runtime;
    const boost::optional<std::string>& session;
};

// deliver: acts on a validated, decoded request: its session is used, its context written, and
// the message routed to its service. Gives the service's answer.
std::unique_ptr<connector::Message> deliver(HostRuntime& runtime, const Limits& limits,
                                            Request& request,
                                            std::unique_ptr<connector::Message> message) {
    std::shared_ptr<connector::Context> context =
        request.session ? runtime.sessions->useSession(*request.session)
                        : std::make_shared<connector::Context>(runtime.router);
    SessionSettler settle(runtime, request.session);
    for (auto& [key, value] : request.context)
        context->set(key, std::move(value), connector::common::ContextScope::Session);

    AnswerBudget budget(limits.maxAnswerBytes);
    connector::qvm_common::CurrentContextStateScope serving(request.session ? context : nullptr);
    auto response = runtime.router
                        ->route(request.type, std::move(message),
                                connector::Address(request.session.value_or("")), context)
                        .get();
    if (!response) throw std::runtime_error("The service answered with an empty message");
    return response;
}

}  // namespace

EnvelopeProcessor::EnvelopeProcessor(HostRuntime& runtime, Limits limits)
    : limits(limits), runtime(runtime) {}

Answer EnvelopeProcessor::tooLarge(std::size_t size) const {
    return Answer{errorAnswer(ErrorKind::TooLarge, "Input of " + std::to_string(size) +
                                                       " bytes exceeds the limit of " +
                                                       std::to_string(limits.maxBytes) + " bytes"),
                  ErrorKind::TooLarge,
                  0,
                  {}};
}

Answer EnvelopeProcessor::refusal(ErrorKind kind, const std::string& message,
                                  const std::string& envelope) const {
    Request request;
    try {
        validate(parseEnvelope(envelope, limits), runtime, limits, request);
    } catch (...) {
        // What was valid up to the fault is kept.
    }
    return Answer{errorAnswer(kind, message, answerFor(request)), kind, 0, {}};
}

std::size_t EnvelopeProcessor::sessionCount() const {
    return runtime.sessions->sessionCount();
}

Answer EnvelopeProcessor::process(const std::string& envelope) {
    if (envelope.size() > limits.maxBytes) return tooLarge(envelope.size());
    Request request;
    Answer answer = serve(envelope, request);
    answer.type = runtime.typeIndex(request.type);
    if (request.session) answer.session = std::move(*request.session);
    return answer;
}

Answer EnvelopeProcessor::serve(const std::string& envelope, Request& request) {
    try {
        validate(parseEnvelope(envelope, limits), runtime, limits, request);
        std::unique_ptr<connector::Message> message = decode(request, runtime);
        // From here on the request acts.
        std::unique_ptr<connector::Message> response =
            deliver(runtime, limits, request, std::move(message));

        Object::Ptr answer = answerFor(request);
        encode(runtime, std::move(response), *answer);
        std::ostringstream json;
        answer->stringify(json);
        if (json.tellp() > static_cast<std::streamoff>(limits.maxAnswerBytes))
            throw RequestError(ErrorKind::AnswerTooLarge,
                               "The answer of " + std::to_string(json.tellp()) +
                                   " bytes exceeds the limit of " +
                                   std::to_string(limits.maxAnswerBytes) + " bytes");
        return Answer{json.str(), std::nullopt, 0, {}};
    } catch (...) {
        auto [kind, message] = classify(std::current_exception());
        return Answer{errorAnswer(kind, message, answerFor(request)), kind, 0, {}};
    }
}

}  // namespace connectorhost
