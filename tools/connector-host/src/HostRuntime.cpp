#include "tools/connector-host/HostRuntime.hpp"

#include <ostream>
#include <streambuf>

#include "host/qvm/QVM.hpp"
#include "tools/connector-host/AnswerBudget.hpp"

namespace connectorhost {
namespace {

using namespace connector::information::v1;

// Counts what is written to it and keeps nothing.
class CountingBuffer : public std::streambuf {
  public:
    std::size_t count = 0;

  protected:
    int_type overflow(int_type c) override {
        if (!traits_type::eq_int_type(c, traits_type::eof())) ++count;
        return traits_type::not_eof(c);
    }
    std::streamsize xsputn(const char*, std::streamsize n) override {
        count += static_cast<std::size_t>(n);
        return n;
    }
};

std::size_t jsonSize(const Poco::JSON::Object::Ptr& object) {
    CountingBuffer counter;
    std::ostream out(&counter);
    object->stringify(out);
    return counter.count;
}

}  // namespace

const std::string& HostRuntime::containerRequestType() {
    static const std::string name = connector::MessageRouter::TYPE_PREFIX + "ContainerRequest";
    return name;
}

const std::string& HostRuntime::containerResponseType() {
    static const std::string name = connector::MessageRouter::TYPE_PREFIX + "ContainerResponse";
    return name;
}

HostRuntime::HostRuntime(std::shared_ptr<qvm::QVM> vm, connector::http::SessionLimits sessionLimits)
    : serializer(std::make_shared<connector::json::JsonSerializer>())
    , router(std::make_shared<connector::MessageRouter>(serializer))
    , sessions(std::make_shared<connector::http::HttpSessionManager>(router, sessionLimits))
    , engine(std::move(vm))
    , information(std::make_shared<InformationServiceProviderImpl>(sessions, engine))
    , clientTypes(std::make_shared<ClientTypeServiceProvider>())
    , registration(std::make_unique<InformationJsonSerialization>(serializer)) {
    for (const char* type : {"EnabledFeatures", "GetCurrentClientProperties", "GetUserHomeDir",
                             "SetUserHomeDir", "ServiceRegistry"}) {
        router->addProvider(connector::MessageRouter::TYPE_PREFIX + type, information);
    }
    router->addProvider(containerRequestType(), clientTypes);
    // The serializer is held weakly: the router must not keep what owns it alive. An answer is
    // measured (encoded and written out to a counter) only for a thread that has a budget.
    router->setAnswerCheck([names = std::weak_ptr<connector::json::JsonSerializer>(serializer)](
                               const std::unique_ptr<connector::Message>& answer) {
        if (!AnswerBudget::isOpenOnThisThread()) return;
        auto serializer = names.lock();
        if (serializer && serializer->typeNameOf(*answer))
            AnswerBudget::chargeCurrent(jsonSize(serializer->serialize(answer).object));
    });
    information->setRunning(true);
    clientTypes->setRunning(true);
}

HostRuntime::~HostRuntime() {
    // The engine may outlive this runtime (it is shared): only the providers stop here.
    information->setRunning(false);
    clientTypes->setRunning(false);
}

void HostRuntime::stop() {
    information->setRunning(false);
    clientTypes->setRunning(false);
    engine->setValid(false);
}

}  // namespace connectorhost
