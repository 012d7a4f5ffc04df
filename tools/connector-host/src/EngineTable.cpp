#include "tools/connector-host/EngineTable.hpp"

#include <Poco/JSON/Parser.h>

#include <chrono>
#include <map>
#include <stdexcept>

#include "host/qvm/HostFunctions.hpp"
#include "host/qvm/QVM.hpp"

namespace connectorhost {

const char* const kDefaultEngineTable = R"json({
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

qvm::HostFunction answerFor(const Var& answer, const std::string& where) {
    if (answer.type() == typeid(std::string))
        return qvm::functions::answerText(answer.extract<std::string>());
    if (answer.type() == typeid(Array::Ptr)) {
        Array::Ptr list = answer.extract<Array::Ptr>();
        if (list->size() == 0) return qvm::functions::answerEmpty();
        std::vector<qvm::functions::Record> records;
        for (std::size_t i = 0; i < list->size(); ++i) {
            Object::Ptr element = list->getObject(static_cast<unsigned>(i));
            if (element.isNull())
                throw std::invalid_argument(where + ": a record list holds only objects");
            qvm::functions::Record record;
            for (const std::string& field : element->getNames()) {
                const Var& value = element->get(field);
                if (value.type() != typeid(std::string))
                    throw std::invalid_argument(where + ": field \"" + field + "\" is not text");
                record.emplace_back(field, value.extract<std::string>());
            }
            records.push_back(std::move(record));
        }
        return qvm::functions::answerRecords(records);
    }
    if (answer.type() == typeid(Object::Ptr)) {
        Object::Ptr object = answer.extract<Object::Ptr>();
        if (object->has("error"))
            return qvm::functions::failWith(object->getValue<std::string>("error"));
        if (object->has("delay_ms") && object->has("value")) {
            const auto delay = std::chrono::milliseconds(object->getValue<int>("delay_ms"));
            return qvm::functions::answerAfter(delay, answerFor(object->get("value"), where));
        }
    }
    throw std::invalid_argument(where +
                                ": an answer is text, a list of records, [], {\"error\": ...} or "
                                "{\"delay_ms\": N, \"value\": ...}");
}

}  // namespace

std::shared_ptr<qvm::QVM> makeEngine(const std::string& tableJson) {
    Object::Ptr table;
    try {
        table = Poco::JSON::Parser().parse(tableJson).extract<Object::Ptr>();
    } catch (const std::exception& error) {
        throw std::invalid_argument(std::string("engine table is not a JSON object: ") +
                                    error.what());
    }
    auto engine = qvm::QVM::create();
    engine->setValid(table->optValue<bool>("valid", true));
    Object::Ptr functions = table->getObject("functions");
    if (functions.isNull()) throw std::invalid_argument("engine table has no \"functions\" object");
    for (const std::string& name : functions->getNames()) {
        Object::Ptr byArgument = functions->getObject(name);
        if (byArgument.isNull())
            throw std::invalid_argument("engine table: function \"" + name +
                                        "\" must map arguments to answers");
        std::map<std::string, qvm::HostFunction> answers;
        for (const std::string& argument : byArgument->getNames()) {
            answers.emplace(argument,
                            answerFor(byArgument->get(argument),
                                      "engine table: " + name + "(\"" + argument + "\")"));
        }
        engine->registerFunction(name, qvm::functions::byArgument(std::move(answers)));
    }
    return engine;
}

}  // namespace connectorhost
