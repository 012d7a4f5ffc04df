// qvm::functions: ready-made host functions for engines set up by tests and by the runnable
// host. Each gives a qvm::HostFunction to register with QVM::registerFunction:
//
//   engine->registerFunction("version", functions::answerText("4.2.0 build 1187"));
//   engine->registerFunction("ver", functions::byArgument({
//       {"vantrell", functions::answerRecords({{{"Name", "Vantrell"}}})}}));
//   engine->registerFunction("slow", functions::answerAfter(std::chrono::seconds(5),
//                                                           functions::answerText("done")));
//
// Every answer is a fresh array per call. All of them are safe to call from several threads.
#pragma once

#include <chrono>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "host/Export.hpp"
#include "host/matrix/Array.hpp"
#include "host/qvm/FunctionRegistry.hpp"

namespace qvm::functions {

// Record: one element of a struct array: field name and text value, in field order.
using Record = std::vector<std::pair<std::string, std::string>>;

// answerArray: answers a copy of `value` (may be null: the answer is then one null array).
[[nodiscard]] QUORIX_HOST_API HostFunction answerArray(matrix::UniqueArray value);
// answerText: answers a 1xN char array holding the UTF-8 `text`.
[[nodiscard]] QUORIX_HOST_API HostFunction answerText(const std::string& text);
// answerRecords: answers a 1xN struct array, one element per record; its fields are the field
// names of all records in first-seen order, their values char arrays (unset where a record
// lacks the field).
[[nodiscard]] QUORIX_HOST_API HostFunction answerRecords(const std::vector<Record>& records);
// answerEmpty: answers a 0x0 double array.
[[nodiscard]] QUORIX_HOST_API HostFunction answerEmpty();
// failWith: raises qxutil::except::QXException with `message` and `identifier`.
[[nodiscard]] QUORIX_HOST_API HostFunction
failWith(const std::string& message, const std::string& identifier = "Quorix:hostFunctionError");
// answerAfter: waits `delay`, then answers as `answer` does; if the task is cancelled first it
// stops at once with qvm::HostCall::cancelledError.
[[nodiscard]] QUORIX_HOST_API HostFunction answerAfter(std::chrono::nanoseconds delay,
                                                       HostFunction answer);
// byArgument: picks the answer by the text of the first input ("" when there is none). A
// non-text first input or a text without an answer raises QXException naming both.
[[nodiscard]] QUORIX_HOST_API HostFunction byArgument(std::map<std::string, HostFunction> answers);

}  // namespace qvm::functions
