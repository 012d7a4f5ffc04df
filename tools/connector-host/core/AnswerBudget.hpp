// connectorhost::AnswerBudget: how much JSON text the answers of one request may add up to. The
// processor opens a budget on the thread that serves a request; the router charges every answer
// it gathers for a batch against the budget of the thread it routes on (batches are routed on
// the thread that waits for them), so a batch that would build an oversized answer stops at the
// answer that crosses the limit instead of after all of them.
//
//   AnswerBudget budget(limits.maxAnswerBytes);   // this thread's budget until destroyed
//   AnswerBudget::chargeCurrent(bytes);           // throws RequestError AnswerTooLarge
//
// Threads: a budget belongs to the thread that opened it; budgets nest (the inner one is used).
#pragma once

#include <cstddef>

namespace connectorhost {

class AnswerBudget {
  public:
    explicit AnswerBudget(std::size_t limit);
    ~AnswerBudget();
    AnswerBudget(const AnswerBudget&) = delete;
    AnswerBudget& operator=(const AnswerBudget&) = delete;

    // charge: counts `bytes` more. Throws RequestError (AnswerTooLarge) once over the limit.
    void charge(std::size_t bytes);
    // chargeCurrent: charges this thread's open budget; does nothing when it has none.
    static void chargeCurrent(std::size_t bytes);
    // isOpenOnThisThread: whether this thread has a budget, i.e. whether measuring an answer
    // for chargeCurrent is worth its cost.
    [[nodiscard]] static bool isOpenOnThisThread() noexcept;

  private:
    std::size_t limit;
    std::size_t used = 0;
    AnswerBudget* outer;
};

}  // namespace connectorhost
