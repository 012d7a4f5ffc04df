// What an action or a provider gave, in a form tests compare in one line: the text of the error
// raised (errorText, errorOf), the answer as the response class expected (answerAs), a table's
// entries (listed).
#pragma once

#include <exception>
#include <map>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>

#include "connector/framework/Message.hpp"

namespace testsupport {

// errorText: the text of the exception `action` raises, or "<no error>".
template <class Action>
std::string errorText(Action&& action) {
    try {
        action();
    } catch (const std::exception& error) {
        return error.what();
    }
    return "<no error>";
}

// errorOf: the error held by a future (or raised while taking its value).
template <class Future>
std::string errorOf(Future future) {
    return errorText([&] { (void)future.get(); });
}

// answerAs<R>: `answer` as an R; raises std::logic_error when it is of another class.
template <class R>
std::unique_ptr<R> answerAs(std::unique_ptr<connector::Message> answer) {
    auto* typed = dynamic_cast<R*>(answer.get());
    if (typed == nullptr) throw std::logic_error("unexpected response class");
    answer.release();
    return std::unique_ptr<R>(typed);
}

// listed: the entries of a table as "<key>=<value> " in key order (a flag as 1 or 0).
template <class Table>
std::string listed(const Table& table) {
    std::ostringstream text;
    for (const auto& [key, value] : std::map(table.begin(), table.end()))
        text << key << '=' << value << ' ';
    return text.str();
}

}  // namespace testsupport
