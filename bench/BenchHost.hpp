// The host the delivery and allocation benchmarks run against: connector-host's own runtime (the
// serializer with the plug-in's registrations, the router, the sessions, the engine stand-in
// with its default table, both providers running), shared by every benchmark of a binary.
//
// Its threads run on the placement's helper CPU (bench/Placement.hpp). It is set up as a client
// would leave it: a home directory longer than a short-string buffer has been stored, and session
// "bench" has announced itself as a local desktop client, so that GetCurrentClientProperties and
// the locality flags take their full paths.
#pragma once

#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "bench/Placement.hpp"
#include "connector/framework/ContainerMessages.hpp"
#include "connector/framework/Context.hpp"
#include "connector/framework/CurrentContextState.hpp"
#include "connector/information/v1/ClientType.hpp"
#include "connector/information/v1/EnabledFeatures.hpp"
#include "connector/information/v1/GetCurrentClientProperties.hpp"
#include "connector/information/v1/GetUserHomeDir.hpp"
#include "connector/information/v1/ServiceRegistryRequest.hpp"
#include "connector/information/v1/SetUserHomeDir.hpp"
#include "tools/connector-host/core/EngineTable.hpp"
#include "tools/connector-host/core/HostRuntime.hpp"

namespace bench {

namespace info = connector::information::v1;
using Payload = std::unique_ptr<connector::Message>;

inline const std::u16string HOME_DIR = u"/home/quorix/projects/connector";
inline const char* const SESSION = "bench";

// A ClientType of a desktop client on the loopback interface.
inline std::unique_ptr<info::ClientType> makeClientType() {
    return std::make_unique<info::ClientType>(
        "c1",
        info::StringTable{{"TYPE", "desktop"}, {"SERVICE_ENDPOINT", "http://127.0.0.1:31515"}});
}

// One request of each kind the information service serves.
inline Payload makeGetUserHomeDir() {
    return std::make_unique<info::GetUserHomeDir>();
}
inline Payload makeSetUserHomeDir() {
    return std::make_unique<info::SetUserHomeDir>(HOME_DIR);
}
inline Payload makeServiceRegistry() {
    return std::make_unique<info::ServiceRegistryRequest>(
        "r1", info::StringTable{{"service", "quorix.editor"}});
}
inline Payload makeGetCurrentClientProperties() {
    return std::make_unique<info::GetCurrentClientProperties>();
}
// All ten flags: an empty list asks for every one.
inline Payload makeEnabledFeatures() {
    return std::make_unique<info::EnabledFeatures>("f1", std::vector<std::string>());
}
// A batch that announces the client and carries one request onward.
inline Payload makeClientTypeBatch(bool withOnward) {
    connector::container::v1::MessageTable table;
    table["ClientType"].push_back(makeClientType());
    if (withOnward) table["GetUserHomeDir"].push_back(makeGetUserHomeDir());
    return std::make_unique<connector::container::v1::ContainerRequest>(std::move(table));
}

class BenchHost {
  public:
    BenchHost()
        : runtime(connectorhost::makeEngine(connectorhost::DEFAULT_ENGINE_TABLE))
        , session(runtime.sessions->useSession(SESSION)) {
        serve(*runtime.information, makeSetUserHomeDir());
        serve(*runtime.clientTypes, makeClientTypeBatch(false));
        // The first EnabledFeatures also fetches the host version; later ones use the cache.
        serve(*runtime.information, makeEnabledFeatures());
    }

    // instance: the one host of this process, made on first use (thread-safe). Its threads (the
    // engine's worker among them) run on the placement's helper CPU (bench/Placement.hpp).
    static BenchHost& instance() {
        static const std::unique_ptr<BenchHost> host = [] {
            HelperThreads helpers;
            return std::make_unique<BenchHost>();
        }();
        return *host;
    }

    connectorhost::HostRuntime runtime;
    std::shared_ptr<connector::Context> session;

  private:
    template <class Provider>
    void serve(Provider& provider, Payload request) {
        if (!provider.deliver(std::move(request), connector::Address(), std::shared_ptr(session))
                 .get())
            throw std::runtime_error("the benchmark host answered with an empty message");
    }
};

}  // namespace bench
