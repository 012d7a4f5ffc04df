#include "tools/connector-host/core/AnswerBudget.hpp"

#include <string>

#include "tools/connector-host/core/ErrorKind.hpp"

namespace connectorhost {
namespace {

thread_local AnswerBudget* current = nullptr;

}  // namespace

AnswerBudget::AnswerBudget(std::size_t limit) : limit(limit), outer(current) {
    current = this;
}

AnswerBudget::~AnswerBudget() {
    current = outer;
}

void AnswerBudget::charge(std::size_t bytes) {
    used += bytes;
    if (used > limit)
        throw RequestError(ErrorKind::AnswerTooLarge, "The answer would exceed the limit of " +
                                                          std::to_string(limit) + " bytes");
}

void AnswerBudget::chargeCurrent(std::size_t bytes) {
    if (current) current->charge(bytes);
}

bool AnswerBudget::isOpenOnThisThread() noexcept {
    return current != nullptr;
}

}  // namespace connectorhost
