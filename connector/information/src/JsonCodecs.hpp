// The JSON codecs of the twelve information messages: per class one serializer (message to a new
// JSON object) and one deserializer (JSON object to a new message the caller owns). The type
// name is not part of the object: the framework carries it beside.
//
// messageCodecs() is the one list of the messages: each row names the type name, the class and
// its pair of codecs; the JSON registration and every other user iterate over it.
//
// Serializers are called only with a message of their class and validate nothing. Deserializers
// read leniently (see JsonConversions.hpp); the ones that read keys throw
// Poco::NullPointerException for an empty object pointer, the three without keys accept it. A
// failed UTF-8 / UTF-16 conversion raises fl::i18n::conversion_error and no message is made.
// Threads: stateless; any number of calls may run at once.
#pragma once

#include <Poco/JSON/Object.h>

#include <boost/range/iterator_range.hpp>
#include <memory>
#include <typeinfo>

#include "connector/framework/Message.hpp"

namespace connector::information::v1 {

using MessagePtr = std::unique_ptr<connector::Message>;
using JsonObjectPtr = Poco::JSON::Object::Ptr;

// MessageCodec: one message class on the wire.
struct MessageCodec {
    const char* typeName;  // "connector/v1/<Type>"
    const std::type_info& type;
    JsonObjectPtr (*serialize)(const MessagePtr& message);
    MessagePtr (*deserialize)(JsonObjectPtr object);
};

// messageCodecs: every message class, in the order the registration registers and withdraws.
[[nodiscard]] boost::iterator_range<const MessageCodec*> messageCodecs();

// codecOf: the row of message class `type`; std::invalid_argument for a class that has none.
[[nodiscard]] const MessageCodec& codecOf(const std::type_info& type);

}  // namespace connector::information::v1
