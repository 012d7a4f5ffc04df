// Sets the plug-in up as a host would and serves one JSON request through it.
#include <Poco/JSON/Parser.h>

#include <iostream>

#include "connector/framework/HttpSessionManager.hpp"
#include "connector/framework/JsonSerializer.hpp"
#include "connector/information/v1/InformationJsonSerialization.hpp"
#include "connector/information/v1/InformationServiceProviderImpl.hpp"
#include "host/qvm/HostFunctions.hpp"
#include "host/qvm/QVM.hpp"

int main() {
    using namespace connector::information::v1;
    auto serializer = std::make_shared<connector::json::JsonSerializer>();
    InformationJsonSerialization registration(serializer);
    auto engine = qvm::QVM::create();
    engine->registerFunction("version", qvm::functions::answerText("1.2.3"));
    auto service = std::make_shared<InformationServiceProviderImpl>(
        std::make_shared<connector::http::HttpSessionManager>(), engine);
    service->setRunning(true);

    auto request =
        serializer->deserialize("connector/v1/EnabledFeatures",
                                Poco::JSON::Parser()
                                    .parse(R"({"uuid": "u", "features": ["isWebSocketEnabled"]})")
                                    .extract<Poco::JSON::Object::Ptr>());
    auto answer = service->deliver(std::move(request), connector::Address(), nullptr).get();
    auto encoded = serializer->serialize(answer);
    encoded.object->stringify(std::cout);
    std::cout << std::endl;
    return encoded.typeName == "connector/v1/EnabledFeaturesResponse" &&
                   encoded.object->getValue<std::string>("quorixVersion") == "1.2.3"
               ? 0
               : 1;
}
