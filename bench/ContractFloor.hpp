// bench::ContractFloor: the least the JSON serializer contract asks of one message on the JSON
// path, without the plug-in: parse the text into POCO objects (what the framework hands a
// decoder), read every value out of them into plain C++ values (what a decoder does at least),
// build the answer's POCO objects afresh from plain values (what an encoder must hand back) and
// stringify them. The floor of the JSON end-to-end rows: the plug-in's path beyond it is its
// own work (messages, delivery, the handler, futures).
//
//   bench::ContractFloor floor(requestText, answerObject);   // the answer's shape, taken once
//   floor();                                                 // one message through the contract
#pragma once

#include <Poco/JSON/Array.h>
#include <Poco/JSON/Object.h>
#include <Poco/JSON/Parser.h>
#include <benchmark/benchmark.h>

#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace bench {

class ContractFloor {
  public:
    ContractFloor(std::string request, const Poco::JSON::Object::Ptr& answer)
        : request(std::move(request)), answer(Node::of(answer)) {}

    void operator()() const {
        const Poco::Dynamic::Var parsed = Poco::JSON::Parser().parse(request);
        std::vector<std::string> values;
        read(parsed, values);
        benchmark::DoNotOptimize(values.data());
        std::ostringstream written;
        answer.build().extract<Poco::JSON::Object::Ptr>()->stringify(written);
        benchmark::DoNotOptimize(written.str().data());
    }

  private:
    // Node: a JSON value held in plain C++ values.
    struct Node {
        enum class Kind { Text, Flag, Object, Array, Null } kind = Kind::Null;
        std::string text;
        bool flag = false;
        std::vector<std::pair<std::string, Node>> members;
        std::vector<Node> items;

        static Node of(const Poco::Dynamic::Var& value) {
            Node node;
            if (value.type() == typeid(Poco::JSON::Object::Ptr)) {
                node.kind = Kind::Object;
                for (const auto& [key, member] : *value.extract<Poco::JSON::Object::Ptr>())
                    node.members.emplace_back(key, of(member));
            } else if (value.type() == typeid(Poco::JSON::Array::Ptr)) {
                node.kind = Kind::Array;
                for (const auto& item : *value.extract<Poco::JSON::Array::Ptr>())
                    node.items.push_back(of(item));
            } else if (value.type() == typeid(bool)) {
                node.kind = Kind::Flag;
                node.flag = value.extract<bool>();
            } else if (!value.isEmpty()) {
                node.kind = Kind::Text;
                node.text = value.convert<std::string>();
            }
            return node;
        }

        Poco::Dynamic::Var build() const {
            switch (kind) {
                case Kind::Object: {
                    Poco::JSON::Object::Ptr object = new Poco::JSON::Object;
                    for (const auto& [key, member] : members) object->set(key, member.build());
                    return object;
                }
                case Kind::Array: {
                    Poco::JSON::Array::Ptr array = new Poco::JSON::Array;
                    for (const Node& item : items) array->add(item.build());
                    return array;
                }
                case Kind::Flag:
                    return flag;
                case Kind::Text:
                    return text;
                case Kind::Null:
                    break;
            }
            return Poco::Dynamic::Var();
        }
    };

    static void read(const Poco::Dynamic::Var& value, std::vector<std::string>& values) {
        if (value.type() == typeid(Poco::JSON::Object::Ptr)) {
            for (const auto& [key, member] : *value.extract<Poco::JSON::Object::Ptr>()) {
                values.push_back(key);
                read(member, values);
            }
        } else if (value.type() == typeid(Poco::JSON::Array::Ptr)) {
            for (const auto& item : *value.extract<Poco::JSON::Array::Ptr>()) read(item, values);
        } else if (value.isString()) {
            values.push_back(value.extract<std::string>());
        }
    }

    std::string request;
    Node answer;
};

}  // namespace bench
