// What an action or a provider gave, in a form tests compare in one line: the text of the error
// raised (errorText, errorOf) or the answer as the response class expected (answerAs).
#pragma once

#include <exception>
#include <memory>
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

}  // namespace testsupport
