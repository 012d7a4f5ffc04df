#include "tools/connector-host/core/EngineTable.hpp"

#include "tools/connector-host/core/Metrics.hpp"

#include <Poco/Exception.h>
#include <Poco/JSON/Parser.h>

#include <chrono>
#include <climits>
#include <map>
#include <stdexcept>

#include "host/qvm/HostCall.hpp"
#include "host/qvm/HostFunctions.hpp"
#include "host/qvm/QVM.hpp"

namespace connectorhost {

const char* const DEFAULT_ENGINE_TABLE = R"json({
  "valid": true,
  "functions": {
    "version": {"": "4.2.0 build 1187"},
    "ver": {"vantrell": [{"Name": "Vantrell"}]},
    "which": {"vtr": "built-in (/opt/quorix/lib/vtr)"},
    "qls.internal.feature": {"graphicsAndGuis": "on"}
  }
})json";

namespace {

using Poco::Dynamic::Var;
using Poco::JSON::Array;
using Poco::JSON::Object;

[[noreturn]] void refuse(const std::string& path, const std::string& rule) {
    throw std::invalid_argument("engine table: " + path + " " + rule);
}

std::string member(const std::string& path, const std::string& name) {
    return path + "[\"" + name + "\"]";
}

qvm::functions::Record record(const Var& element, const std::string& path) {
    if (element.type() != typeid(Object::Ptr)) refuse(path, "must be an object of texts");
    qvm::functions::Record fields;
    for (const auto& [field, value] : *element.extract<Object::Ptr>()) {
        if (value.type() != typeid(std::string)) refuse(member(path, field), "must be a text");
        fields.emplace_back(field, value.extract<std::string>());
    }
    return fields;
}

qvm::HostFunction answerFor(const Var& answer, const std::string& path) {
    if (answer.type() == typeid(std::string))
        return qvm::functions::answerText(answer.extract<std::string>());
    if (answer.type() == typeid(Array::Ptr)) {
        Array::Ptr list = answer.extract<Array::Ptr>();
        if (list->size() == 0) return qvm::functions::answerEmpty();
        std::vector<qvm::functions::Record> records;
        for (std::size_t i = 0; i < list->size(); ++i)
            records.push_back(
                record(list->get(static_cast<unsigned>(i)), path + "[" + std::to_string(i) + "]"));
        return qvm::functions::answerRecords(records);
    }
    if (answer.type() == typeid(Object::Ptr)) {
        Object::Ptr object = answer.extract<Object::Ptr>();
        if (object->size() == 1 && object->has("error")) {
            const Var& text = object->get("error");
            if (text.type() != typeid(std::string)) refuse(path + ".error", "must be a text");
            return qvm::functions::failWith(text.extract<std::string>());
        }
        if (object->size() == 2 && object->has("delay_ms") && object->has("value")) {
            const Var& delay = object->get("delay_ms");
            const bool valid = delay.isInteger() && delay.type() != typeid(bool) &&
                               !(delay.isSigned() && delay.convert<Poco::Int64>() < 0) &&
                               delay.convert<Poco::UInt64>() <= INT_MAX;
            if (!valid)
                refuse(path + ".delay_ms", "must be a non-negative integer of milliseconds");
            return qvm::functions::answerAfter(
                std::chrono::milliseconds(delay.convert<Poco::Int64>()),
                answerFor(object->get("value"), path + ".value"));
        }
    }
    refuse(path,
           "must be a text, a list of records, [], {\"error\": text} or "
           "{\"delay_ms\": N, \"value\": answer}");
}

// counted: `function`, with each evaluation counted by what became of it.
qvm::HostFunction counted(qvm::HostFunction function, Metrics* metrics) {
    if (!metrics) return function;
    return [function = std::move(function), metrics](qvm::HostCall& call) {
        metrics->countEvaluation(EvaluationOutcome::Started);
        try {
            auto answer = function(call);
            metrics->countEvaluation(EvaluationOutcome::Answered);
            return answer;
        } catch (...) {
            metrics->countEvaluation(call.isCancelled() ? EvaluationOutcome::Cancelled
                                                        : EvaluationOutcome::Failed);
            throw;
        }
    };
}

}  // namespace

std::shared_ptr<qvm::QVM> makeEngine(const std::string& tableJson, Metrics* metrics) {
    Var parsed;
    try {
        parsed = Poco::JSON::Parser().parse(tableJson);
    } catch (const Poco::Exception& error) {
        throw std::invalid_argument("engine table is not JSON: " + error.displayText());
    }
    if (parsed.type() != typeid(Object::Ptr)) refuse("$", "must be a JSON object");
    Object::Ptr table = parsed.extract<Object::Ptr>();
    auto engine = qvm::QVM::create();
    if (table->has("valid")) {
        if (table->get("valid").type() != typeid(bool)) refuse("$.valid", "must be a boolean");
        engine->setValid(table->get("valid").extract<bool>());
    }
    if (!table->has("functions") || table->get("functions").type() != typeid(Object::Ptr))
        refuse("$.functions", "must be an object of functions");
    for (const auto& [name, byArgument] : *table->getObject("functions")) {
        const std::string path = member("$.functions", name);
        if (byArgument.type() != typeid(Object::Ptr))
            refuse(path, "must be an object mapping arguments to answers");
        std::map<std::string, qvm::HostFunction> answers;
        for (const auto& [argument, answer] : *byArgument.extract<Object::Ptr>())
            answers.emplace(argument, answerFor(answer, member(path, argument)));
        engine->registerFunction(name,
                                 counted(qvm::functions::byArgument(std::move(answers)), metrics));
    }
    return engine;
}

}  // namespace connectorhost
