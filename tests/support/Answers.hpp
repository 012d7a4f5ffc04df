// answerAs: a provider's answer as the response class a test expects.
#pragma once

#include <memory>
#include <stdexcept>

#include "connector/framework/Message.hpp"

namespace testsupport {

// answerAs<R>: `answer` as an R; raises std::logic_error when it is of another class.
template <class R>
std::unique_ptr<R> answerAs(std::unique_ptr<connector::Message> answer) {
    auto* typed = dynamic_cast<R*>(answer.get());
    if (typed == nullptr) throw std::logic_error("unexpected response class");
    answer.release();
    return std::unique_ptr<R>(typed);
}

}  // namespace testsupport
