// connectorhost::Limits: the most work one request may cause, whatever front end it came by. Each
// refusal names the limit it hit (EnvelopeProcessor, ErrorKind). A plain value.
#pragma once

#include <cstddef>

namespace connectorhost {

struct Limits {
    std::size_t maxBytes = 4 * 1024 * 1024;        // input line or body
    std::size_t maxDepth = 128;                    // nesting of objects and arrays
    std::size_t maxValues = 50000;                 // JSON values in one input
    std::size_t maxBatchMessages = 64;             // messages in one ContainerRequest
    std::size_t maxFeatures = 32;                  // feature names in one EnabledFeatures
    std::size_t maxAnswerBytes = 8 * 1024 * 1024;  // JSON text of one answer
};

}  // namespace connectorhost
