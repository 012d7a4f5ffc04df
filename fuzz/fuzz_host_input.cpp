// fuzz_host_input: arbitrary bytes through connector-host's handling of its input lines.
//
// Each input is a session: a fresh HostRuntime (serializer, router, sessions, providers) over the
// engine of the default table, whose lines are read and answered exactly as connector-host serves
// stdin (LineReader, blank lines skipped, an
// over-long line answered as too large). The processor's limit is MAX_BYTES rather than the
// default 4 MiB, so that the too-large path is reachable within the fuzzer's input sizes; it is
// what `connector-host --max-bytes 4096` runs. Properties checked for every answer:
//   - process() returns (nothing escapes it) and gives exactly one line;
//   - the line is a JSON object (POCO parses it back) that is either an error, with a non-empty
//     "kind" and a "message" text and no "type", or a message, with a "type" text starting
//     "connector/v1/" and a "message" object;
//   - its outcome agrees with it: an error answer is an input error, a service error or (with
//     kind "too_large" and only then) too large; a message answer is answered;
//   - an "id" that the line carried comes back unchanged when the line parsed as an envelope,
//     unless the answer refuses the input before its id was taken (the host's scan refuses
//     bytes that POCO's parser lets pass, such as invalid UTF-8 after the object).
#include <Poco/JSON/Parser.h>
#include <Poco/JSON/Stringifier.h>

#include <cstdint>
#include <memory>
#include <set>
#include <sstream>
#include <string>

#include "fuzz/FuzzSupport.hpp"
#include "tools/connector-host/core/EngineTable.hpp"
#include "tools/connector-host/core/EnvelopeProcessor.hpp"
#include "tools/connector-host/core/HostRuntime.hpp"
#include "tools/connector-host/core/LineReader.hpp"

namespace {

using connectorhost::ErrorKind;
using fuzzsupport::finding;
using fuzzsupport::printable;
using fuzzsupport::require;
using Poco::Dynamic::Var;
using Poco::JSON::Object;

constexpr std::size_t MAX_BYTES = 4096;

bool isBlank(const std::string& text) {
    return text.find_first_not_of(" \t\r") == std::string::npos;
}

Object::Ptr parseObject(const std::string& text) {
    try {
        Var parsed = Poco::JSON::Parser().parse(text);
        if (parsed.type() == typeid(Object::Ptr)) return parsed.extract<Object::Ptr>();
    } catch (...) {
    }
    return nullptr;
}

void checkAnswer(const std::string& line, const connectorhost::Answer& answer) {
    const std::string context =
        "\n  line:   " + printable(line) + "\n  answer: " + printable(answer.json);
    require(answer.json.find('\n') == std::string::npos, "answer spans several lines" + context);
    Object::Ptr parsed = parseObject(answer.json);
    if (!parsed) finding("answer is not a JSON object" + context);

    if (Object::Ptr error = parsed->getObject("error")) {
        require(!parsed->has("type") && !parsed->has("message"),
                "error answer also carries a message" + context);
        require(error->has("kind") && error->get("kind").isString() &&
                    !error->getValue<std::string>("kind").empty(),
                "error without a kind" + context);
        require(error->has("message") && error->get("message").isString(),
                "error without a message text" + context);
        require(answer.error.has_value(), "error answer counted as answered" + context);
        require((answer.error == ErrorKind::TooLarge) ==
                    (error->getValue<std::string>("kind") == "too_large"),
                "too-large outcome disagrees with the kind" + context);
    } else {
        require(parsed->has("type") && parsed->get("type").isString() &&
                    parsed->getValue<std::string>("type").rfind("connector/v1/", 0) == 0,
                "message answer without a connector/v1/ type" + context);
        require(!parsed->getObject("message").isNull(),
                "message answer without a message object" + context);
        require(!answer.error, "message answer counted as an error" + context);
    }

    Object::Ptr envelope = answer.error == ErrorKind::TooLarge ? nullptr : parseObject(line);
    // Without an id, the answer must refuse the input before its id was taken: the host's scan
    // (stricter than POCO, which also stops reading at a byte FF), or the id itself.
    static const std::set<std::string> beforeTheId = {"parse_error", "too_deep", "too_many_values",
                                                      "number_out_of_range", "invalid_envelope"};
    const bool idRefused =
        parsed->has("error") && !parsed->has("id") &&
        beforeTheId.count(parsed->getObject("error")->getValue<std::string>("kind")) != 0;
    if (envelope && envelope->has("id") && !idRefused) {
        require(parsed->has("id"), "the envelope's id was not echoed" + context);
        std::ostringstream sent, echoed;
        Poco::JSON::Stringifier::stringify(envelope->get("id"), sent);
        Poco::JSON::Stringifier::stringify(parsed->get("id"), echoed);
        require(sent.str() == echoed.str(), "the echoed id differs" + context);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // An engine per input: its distributor keeps a request for up to a millisecond after the
    // run (for the worker's delayed start), and an engine shared between inputs would free that
    // memory during a later input, which libFuzzer takes for a possible leak and answers with a
    // full leak scan of every input. Destroying the engine at the end of the input frees all.
    const std::shared_ptr<qvm::QVM> engine =
        connectorhost::makeEngine(connectorhost::DEFAULT_ENGINE_TABLE);
    connectorhost::HostRuntime runtime(engine);
    connectorhost::Limits limits;
    limits.maxBytes = MAX_BYTES;
    connectorhost::EnvelopeProcessor processor(runtime, limits);

    std::istringstream in(std::string(reinterpret_cast<const char*>(data), size));
    connectorhost::LineReader reader(in, processor.limits.maxBytes);
    connectorhost::LineReader::Line line;
    while (reader.next(line)) {
        if (!line.tooLong && isBlank(line.text)) continue;
        const connectorhost::Answer answer =
            line.tooLong ? processor.tooLarge(line.size) : processor.process(line.text);
        checkAnswer(line.text, answer);
    }
    return 0;
}
