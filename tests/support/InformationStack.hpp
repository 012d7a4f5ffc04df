// InformationStack: the plug-in's two services as the framework runs them, for the suites that
// drive them through delivery: the JSON registration, the framework's router and sessions, the
// information service over an engine whose functions record each evaluation (name and argument)
// in order and whose distributor can be made to fail the next request, and the client-type
// service in front; a message in its wire form, to compare a whole answer in one line.
#pragma once

#include <gtest/gtest.h>

#include <boost/make_shared.hpp>
#include <mutex>
#include <sstream>

#include "HostEngine.hpp"
#include "Outcomes.hpp"
#include "connector/framework/CurrentContextState.hpp"
#include "connector/framework/HttpSessionManager.hpp"
#include "connector/framework/MessageRouter.hpp"
#include "connector/information/v1/ClientType.hpp"
#include "connector/information/v1/ClientTypeResponse.hpp"
#include "connector/information/v1/ClientTypeServiceProvider.hpp"
#include "connector/information/v1/EnabledFeatures.hpp"
#include "connector/information/v1/EnabledFeaturesResponse.hpp"
#include "connector/information/v1/GetCurrentClientProperties.hpp"
#include "connector/information/v1/GetCurrentClientPropertiesResponse.hpp"
#include "connector/information/v1/GetUserHomeDir.hpp"
#include "connector/information/v1/GetUserHomeDirResponse.hpp"
#include "connector/information/v1/InformationJsonSerialization.hpp"
#include "connector/information/v1/InformationServiceProviderImpl.hpp"
#include "connector/information/v1/ServiceRegistryRequest.hpp"
#include "connector/information/v1/ServiceRegistryResponse.hpp"
#include "connector/information/v1/SetUserHomeDir.hpp"
#include "connector/information/v1/SetUserHomeDirResponse.hpp"

namespace testsupport {

using Names = std::vector<std::string>;

class InformationStack : public ::testing::Test {
  protected:
    using Service = connector::information::v1::InformationServiceProviderImpl;

    void SetUp() override {
        for (const auto& [name, argument, function] : serviceAnswers())
            answer(name, argument, function);
        for (const char* type : {"GetCurrentClientProperties", "GetUserHomeDir"})
            router->addProvider(std::string("connector/v1/") + type, service);
        service->setRunning(true);
        clientTypes->setRunning(true);
    }

    // answer: `function` answers `name` evaluated with `argument`; each evaluation is recorded.
    void answer(const std::string& name, const std::string& argument, qvm::HostFunction function) {
        engine->registerFunction(name, [this, name, argument, function](qvm::HostCall& call) {
            {
                std::lock_guard<std::mutex> lock(mutex);
                calls.push_back(argument.empty() ? name : name + "(" + argument + ")");
            }
            return qvm::functions::byArgument({{argument, function}})(call);
        });
    }
    Names evaluations() {
        std::lock_guard<std::mutex> lock(mutex);
        return std::exchange(calls, {});
    }

    // ask: the information service's answer, which it gives at once, as the class expected.
    template <class Response>
    std::unique_ptr<Response> ask(std::unique_ptr<connector::Message> request,
                                  std::shared_ptr<connector::Context> to = nullptr) {
        auto future = service->deliver(std::move(request), connector::Address(), std::move(to));
        EXPECT_TRUE(future.isReady());
        return answerAs<Response>(future.get());
    }

    // canonical: a JSON object's text with its keys in order, so that texts compare as objects.
    static std::string canonical(const Poco::JSON::Object::Ptr& object) {
        std::ostringstream out;
        object->stringify(out);
        return out.str();
    }
    // wire: "<type name without connector/v1/> <JSON text>", as the serializer writes `message`.
    std::string wire(std::unique_ptr<connector::Message> message) {
        auto encoded = serializer->serialize(message);
        return encoded.typeName.substr(std::string("connector/v1/").size()) + " " +
               canonical(encoded.object);
    }

    // started: a running information service over these sessions and the engine.
    std::shared_ptr<Service> started(std::shared_ptr<connector::http::HttpSessionManager> over) {
        auto started = std::make_shared<Service>(std::move(over), engine);
        started->setRunning(true);
        return started;
    }

    // send: the client-type service's answer to `batch` from the client of `context`.
    std::unique_ptr<connector::Message> send(
        std::unique_ptr<connector::container::v1::ContainerRequest> batch) {
        connector::qvm_common::CurrentContextStateScope serving(context);
        return clientTypes
            ->deliver(std::move(batch), connector::Address("a"), std::shared_ptr(context))
            .get();
    }

    std::mutex mutex;
    Names calls;
    std::shared_ptr<connector::json::JsonSerializer> serializer =
        std::make_shared<connector::json::JsonSerializer>();
    connector::information::v1::InformationJsonSerialization registration{serializer};
    std::shared_ptr<connector::MessageRouter> router =
        std::make_shared<connector::MessageRouter>(serializer);
    std::shared_ptr<connector::http::HttpSessionManager> sessions =
        std::make_shared<connector::http::HttpSessionManager>(router);
    boost::shared_ptr<qvm::FunctionRegistry> registry = boost::make_shared<qvm::FunctionRegistry>();
    boost::shared_ptr<FaultyDistributor> distributor =
        boost::make_shared<FaultyDistributor>(registry);
    std::shared_ptr<qvm::QVM> engine = std::make_shared<qvm::QVM>(registry, distributor);
    std::shared_ptr<Service> service = std::make_shared<Service>(sessions, engine);
    std::shared_ptr<connector::information::v1::ClientTypeServiceProvider> clientTypes =
        std::make_shared<connector::information::v1::ClientTypeServiceProvider>();
    std::shared_ptr<connector::Context> context = sessions->useSession("client");
};

}  // namespace testsupport
