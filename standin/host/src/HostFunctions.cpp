#include <algorithm>
#include <boost/throw_exception.hpp>
#include <memory>

#include "host/qvm/HostFunctions.hpp"
#include "host/qxutil/except/QXException.hpp"

namespace qvm::functions {

HostFunction answerArray(matrix::UniqueArray value) {
    // Shared and never written again, so copies may be taken from several threads.
    std::shared_ptr<const matrix::qxArray> prototype(std::move(value));
    return [prototype](HostCall&) {
        std::vector<matrix::UniqueArray> outputs;
        outputs.push_back(matrix::duplicateArray(prototype.get()));
        return outputs;
    };
}

HostFunction answerText(const std::string& text) {
    return answerArray(matrix::create(text.data(), text.size()));
}

HostFunction answerRecords(const std::vector<Record>& records) {
    std::vector<std::string> fields;
    for (const Record& record : records)
        for (const auto& [name, value] : record)
            if (std::find(fields.begin(), fields.end(), name) == fields.end())
                fields.push_back(name);
    matrix::UniqueArray array = matrix::createStructArray(1, records.size(), fields);
    for (std::size_t i = 0; i < records.size(); ++i)
        for (const auto& [name, value] : records[i])
            matrix::setField(array.get(), i, name, matrix::create(value.data(), value.size()));
    return answerArray(std::move(array));
}

HostFunction answerEmpty() {
    return answerArray(matrix::createDoubleMatrix(0, 0));
}

HostFunction failWith(const std::string& message, const std::string& identifier) {
    return [message, identifier](HostCall&) -> std::vector<matrix::UniqueArray> {
        boost::throw_exception(qxutil::except::QXException(identifier, message));
    };
}

HostFunction answerAfter(std::chrono::nanoseconds delay, HostFunction answer) {
    return [delay, answer = std::move(answer)](HostCall& call) {
        if (call.waitForCancellation(delay)) call.throwIfCancelled();
        return answer(call);
    };
}

HostFunction byArgument(std::map<std::string, HostFunction> answers) {
    return [answers = std::move(answers)](HostCall& call) {
        std::string argument;
        if (!call.getInputs().empty()) {
            const matrix::qxArray* first = call.getInputs().front();
            if (matrix::getClassID(first) != matrix::ClassID::Char)
                boost::throw_exception(qxutil::except::QXException(
                    "Quorix:badArgument",
                    "Function '" + call.getFunctionName() + "' expects a text argument."));
            argument = matrix::get_string(first);
        }
        const auto found = answers.find(argument);
        if (found == answers.end())
            boost::throw_exception(qxutil::except::QXException(
                "Quorix:noAnswer", "Function '" + call.getFunctionName() +
                                       "' has no answer for the argument '" + argument + "'."));
        return found->second(call);
    };
}

}  // namespace qvm::functions
