// The JSON shapes shared by the message codecs: string tables, string lists, flag tables and the
// fault form of responses. Readers are lenient: an absent, null or mistyped value gives its
// default and never an error; writers create POCO objects and arrays with option value 0.
//
// Reading one text value: a JSON string as it is; a boolean as "true" / "false"; a number by
// POCO's conversion; a nested object or array as its compact JSON text; absent, null or
// unconvertible as the default. Reading one flag: a boolean as it is; a string is false when
// empty, "0" or "false" in any letter case and true otherwise; numbers, objects and arrays by
// POCO's conversion (non-zero, non-empty is true). Threads: stateless.
#pragma once

#include <Poco/Dynamic/Var.h>
#include <Poco/JSON/Array.h>
#include <Poco/JSON/Object.h>

#include <string>
#include <vector>

#include "connector/framework/CommonMessages.hpp"
#include "connector/information/v1/InformationTypes.hpp"

namespace connector::information::v1 {

// requireObject: Poco::NullPointerException for an empty message object, before anything is read.
void requireObject(const Poco::JSON::Object::Ptr& object);

// readText: `value` as text by the rule above, `fallback` when absent, null or unconvertible.
[[nodiscard]] std::string readText(const Poco::Dynamic::Var& value, const std::string& fallback);
// readText of `key` in `object`. REQUIRES: a non-empty object (else Poco::NullPointerException).
[[nodiscard]] std::string readText(const Poco::JSON::Object::Ptr& object, const std::string& key,
                                   const std::string& fallback);

// putMember: sets `key` of `object` to `value` as Object::set does, but copies the value once where
// set copies it three times (the argument and two copies inside POCO 1.11, which cannot move):
// the member is made with an empty value, found again and given its value in place (the JSON rows
// of bench/ measure it). Tables are written in two passes instead (writeTable).
template <class T>
void putMember(Poco::JSON::Object& object, const std::string& key, const T& value) {
    object.set(key, Poco::Dynamic::Var());
    for (auto member = object.begin(); member != object.end(); ++member) {
        if (member->first == key) {
            member->second = value;
            return;
        }
    }
}

// readStringTable: every member of `table` read as text; empty when `table` is empty.
[[nodiscard]] StringTable readStringTable(const Poco::JSON::Object::Ptr& table);
[[nodiscard]] Poco::JSON::Object::Ptr writeStringTable(const StringTable& table);

// readStringList: one entry per element of `list` (null and unconvertible give ""), in order.
[[nodiscard]] std::vector<std::string> readStringList(const Poco::JSON::Array::Ptr& list);
[[nodiscard]] Poco::JSON::Array::Ptr writeStringList(const std::vector<std::string>& list);

// readFlagTable: every member of `table` read as a flag (default false).
[[nodiscard]] FlagTable readFlagTable(const Poco::JSON::Object::Ptr& table);
// writeFlagTable: one boolean member per entry.
[[nodiscard]] Poco::JSON::Object::Ptr writeFlagTable(const FlagTable& table);

// readFaults: the faults under "messageFaults" of `message`; elements that are not objects are
// skipped; fault conditions are never read. REQUIRES: a non-empty message object.
[[nodiscard]] std::vector<connector::common::v1::Fault> readFaults(
    const Poco::JSON::Object::Ptr& message);
// writeFaults: sets "messageFaults" on `message`, an empty array when there are no faults.
void writeFaults(Poco::JSON::Object::Ptr message,
                 const std::vector<connector::common::v1::Fault>& faults);
[[nodiscard]] Poco::JSON::Object::Ptr writeFault(const connector::common::v1::Fault& fault);
void writeFaultConditions(Poco::JSON::Object::Ptr fault,
                          const std::vector<connector::common::v1::FaultCondition>& conditions);
[[nodiscard]] Poco::JSON::Object::Ptr writeFaultCondition(
    const connector::common::v1::FaultCondition& condition);

}  // namespace connector::information::v1
