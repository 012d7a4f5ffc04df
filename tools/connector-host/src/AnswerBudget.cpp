#include "tools/connector-host/AnswerBudget.hpp"

#include <string>

#include "tools/connector-host/InputError.hpp"

namespace connectorhost {
namespace {

thread_local AnswerBudget* current = nullptr;

}  // namespace

AnswerBudget::AnswerBudget(std::size_t limit) : limit_(limit), outer_(current) {
    current = this;
}

AnswerBudget::~AnswerBudget() {
    current = outer_;
}

void AnswerBudget::charge(std::size_t bytes) {
    used_ += bytes;
    if (used_ > limit_)
        throw InputError("answer_too_large", "The answer would exceed the limit of " +
                                                 std::to_string(limit_) + " bytes");
}

void AnswerBudget::chargeCurrent(std::size_t bytes) {
    if (current) current->charge(bytes);
}

bool AnswerBudget::isOpenOnThisThread() noexcept {
    return current != nullptr;
}

}  // namespace connectorhost
