#include "JsonConversions.hpp"

#include <Poco/Exception.h>

#include <sstream>
#include <typeinfo>

#include "TextConversion.hpp"

namespace connector::information::v1 {

using connector::common::v1::Fault;
using connector::common::v1::FaultCondition;
using Poco::JSON::Array;
using Poco::JSON::Object;

namespace {

// POCO's own text conversion indents nested containers; the wire wants them compact.
template <class Container>
std::string compactText(const Container& container) {
    std::ostringstream out;
    container.stringify(out, 0);
    return out.str();
}

}  // namespace

void requireObject(const Object::Ptr& object) {
    if (object.isNull()) throw Poco::NullPointerException("JSON message object is empty");
}

std::string readText(const Poco::Dynamic::Var& value, const std::string& fallback) {
    if (value.isEmpty()) return fallback;
    try {
        const std::type_info& type = value.type();
        // The common case first: a JSON string is none of the containers below.
        if (type == typeid(std::string)) return value.extract<std::string>();
        if (type == typeid(Object::Ptr)) {
            const auto& object = value.extract<Object::Ptr>();
            return object.isNull() ? fallback : compactText(*object);
        }
        if (type == typeid(Array::Ptr)) {
            const auto& array = value.extract<Array::Ptr>();
            return array.isNull() ? fallback : compactText(*array);
        }
        if (type == typeid(Object)) return compactText(value.extract<Object>());
        if (type == typeid(Array)) return compactText(value.extract<Array>());
        return value.convert<std::string>();
    } catch (...) {
        return fallback;  // an unconvertible value reads as the default
    }
}

std::string readText(const Object::Ptr& object, const std::string& key,
                     const std::string& fallback) {
    requireObject(object);
    return readText(object->get(key), fallback);
}

StringTable readStringTable(const Object::Ptr& table) {
    StringTable result;
    if (table.isNull()) return result;
    // Straight over the members: no list of names, no second lookup per name.
    for (auto member = table->begin(); member != table->end(); ++member)
        result[member->first] = readText(member->second, "");
    return result;
}

namespace {

// Tables are written in two passes: every member is made with an empty value, whose copies inside
// Object::set cost nothing, then each value is assigned in place, once (the JSON rows of bench/
// measure it).
template <class Table>
Object::Ptr writeTable(const Table& table) {
    Object::Ptr result = new Object(0);
    const Poco::Dynamic::Var empty;
    for (const auto& entry : table) result->set(entry.first, empty);
    for (auto member = result->begin(); member != result->end(); ++member)
        member->second = table.find(member->first)->second;
    return result;
}

}  // namespace

Object::Ptr writeStringTable(const StringTable& table) {
    return writeTable(table);
}

Object::Ptr writeFlagTable(const FlagTable& table) {
    return writeTable(table);
}

std::vector<std::string> readStringList(const Array::Ptr& list) {
    std::vector<std::string> result;
    if (list.isNull()) return result;
    result.reserve(list->size());
    for (std::size_t i = 0; i < list->size(); ++i)
        result.push_back(readText(list->get(static_cast<unsigned>(i)), ""));
    return result;
}

Array::Ptr writeStringList(const std::vector<std::string>& list) {
    Array::Ptr result = new Array(0);
    for (const std::string& entry : list) result->add(entry);
    return result;
}

FlagTable readFlagTable(const Object::Ptr& table) {
    FlagTable result;
    if (table.isNull()) return result;
    for (const std::string& name : table->getNames())
        result[name] = table->optValue<bool>(name, false);
    return result;
}

std::vector<Fault> readFaults(const Object::Ptr& message) {
    requireObject(message);
    std::vector<Fault> faults;
    Array::Ptr list = message->getArray("messageFaults");
    if (list.isNull()) return faults;
    for (std::size_t i = 0; i < list->size(); ++i) {
        Object::Ptr fault = list->getObject(static_cast<unsigned>(i));
        if (fault.isNull()) continue;  // not an object: skipped
        std::string text = readText(fault->get("message"), "");
        std::string code = readText(fault->get("faultCode"), "");
        faults.emplace_back(std::move(code), std::move(text), std::vector<FaultCondition>());
    }
    return faults;
}

void writeFaults(Object::Ptr message, const std::vector<Fault>& faults) {
    Array::Ptr list = new Array(0);
    putMember(*message, "messageFaults", list);
    for (const Fault& fault : faults) list->add(writeFault(fault));
}

Object::Ptr writeFault(const Fault& fault) {
    Object::Ptr result = new Object(0);
    putMember(*result, "message", fault.message);
    putMember(*result, "faultCode", fault.faultCode);
    writeFaultConditions(result, fault.faultConditions);
    return result;
}

void writeFaultConditions(Object::Ptr fault, const std::vector<FaultCondition>& conditions) {
    Array::Ptr list = new Array(0);
    putMember(*fault, "faultConditions", list);
    for (const FaultCondition& condition : conditions) list->add(writeFaultCondition(condition));
}

Object::Ptr writeFaultCondition(const FaultCondition& condition) {
    Array::Ptr info = new Array(0);
    for (const std::u16string& text : condition.faultInfo) info->add(toUtf8(text));
    Object::Ptr result = new Object(0);
    putMember(*result, "faultId", condition.faultId);
    putMember(*result, "faultInfo", info);
    return result;
}

}  // namespace connector::information::v1
