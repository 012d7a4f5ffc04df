// The engine stand-in's table of host functions, read from JSON:
//
//   {"valid": true,
//    "functions": {
//      "version": {"": "4.2.0 build 1187"},
//      "ver": {"vantrell": [{"Name": "Vantrell"}]},
//      "which": {"vtr": {"delay_ms": 50, "value": "built-in (/opt/quorix/lib/vtr)"}},
//      "qls.internal.feature": {"graphicsAndGuis": {"error": "license checkout failed"}}}}
//
// Functions are keyed by name, then by their text argument ("" for none). An answer is a string
// (a char array), a list of objects (a struct array of char fields), [] (an empty array),
// {"error": "text"} (the evaluation fails with that text) or {"delay_ms": N, "value": answer}
// (the answer after N ms; a cancelled task stops waiting). An unknown function or argument fails
// the evaluation with a text naming it.
// Errors: a table that is not JSON, or an entry of the wrong form, raises std::invalid_argument
// naming the entry by its JSON path: engine table: $.functions["which"]["vtr"].delay_ms must be a
// non-negative integer of milliseconds.
#pragma once

#include <memory>
#include <string>

namespace qvm {
class QVM;
}

namespace connectorhost {

// The table the host uses when none is given.
extern const char* const DEFAULT_ENGINE_TABLE;

class Metrics;

// makeEngine: a valid engine with its own worker, answering as `tableJson` says; with `metrics`,
// every evaluation is counted there (started, then answered, failed or cancelled).
[[nodiscard]] std::shared_ptr<qvm::QVM> makeEngine(const std::string& tableJson,
                                                   Metrics* metrics = nullptr);

}  // namespace connectorhost
