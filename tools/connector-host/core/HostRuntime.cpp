#include "tools/connector-host/core/HostRuntime.hpp"

#include <mutex>
#include <new>
#include <ostream>
#include <streambuf>
#include <vector>

#include "connector/framework/ServiceMessage.hpp"
#include "host/qvm/QVM.hpp"
#include "tools/connector-host/core/AnswerBudget.hpp"

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

// The framework's serializer, noting what the plug-in registers: its own list of messages, from
// which the routes are made.
class NotingSerializer : public connector::json::JsonSerializer {
  public:
    struct Registered {
        std::string typeName;
        connector::json::DeserializerFn deserializer;
    };

    void registerType(const std::string& typeName, const std::type_info& type,
                      connector::json::SerializerFn serializer,
                      connector::json::DeserializerFn deserializer) override {
        {
            std::lock_guard<std::mutex> lock(mutex);
            registered.push_back({typeName, deserializer});
        }
        JsonSerializer::registerType(typeName, type, std::move(serializer),
                                     std::move(deserializer));
    }

    [[nodiscard]] std::vector<Registered> takeRegistered() {
        std::lock_guard<std::mutex> lock(mutex);
        return std::move(registered);
    }

  private:
    std::mutex mutex;
    std::vector<Registered> registered;
};

// Whether the messages of a registered type are requests of the information service: one made
// from an empty object says so by its class.
bool isInformationRequest(const NotingSerializer::Registered& type) {
    const std::unique_ptr<connector::Message> probe =
        type.deserializer(new Poco::JSON::Object(Poco::JSON_PRESERVE_KEY_ORDER));
    return dynamic_cast<connector::ServiceMessage<InformationServiceProvider>*>(probe.get()) !=
           nullptr;
}

// Memory on cache lines of its own: its start on a line's start, its size whole lines.
constexpr std::size_t CACHE_LINE = 64;

std::size_t wholeLines(std::size_t bytes) {
    return (bytes + CACHE_LINE - 1) / CACHE_LINE * CACHE_LINE;
}

template <class T>
struct CacheLineAllocator {
    using value_type = T;
    CacheLineAllocator() = default;
    template <class U>
    CacheLineAllocator(const CacheLineAllocator<U>&) noexcept {}
    T* allocate(std::size_t n) {
        return static_cast<T*>(
            ::operator new (wholeLines(n * sizeof(T)), std::align_val_t{CACHE_LINE}));
    }
    void deallocate(T* p, std::size_t) noexcept {
        ::operator delete (p, std::align_val_t{CACHE_LINE});
    }
    template <class U>
    bool operator==(const CacheLineAllocator<U>&) const noexcept {
        return true;
    }
    template <class U>
    bool operator!=(const CacheLineAllocator<U>&) const noexcept {
        return false;
    }
};

// makeProvider: a provider that every delivering thread shares. Each delivery writes its
// reference counts (it takes shared_from_this) and reads the provider's own data: the two are
// allocated apart, each on lines of its own, so that the counts moving between CPUs do not take
// the provider's data with them.
template <class P, class... Args>
std::shared_ptr<P> makeProvider(Args&&... args) {
    CacheLineAllocator<P> allocator;
    P* memory = allocator.allocate(1);
    P* provider = nullptr;
    try {
        provider = new (memory) P(std::forward<Args>(args)...);
    } catch (...) {
        allocator.deallocate(memory, 1);
        throw;
    }
    return std::shared_ptr<P>(
        provider,
        [](P* object) {
            object->~P();
            CacheLineAllocator<P>().deallocate(object, 1);
        },
        allocator);
}

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

HostRuntime::HostRuntime(std::shared_ptr<qvm::QVM> engine,
                         connector::http::SessionLimits sessionLimits)
    : serializer(std::make_shared<NotingSerializer>())
    , router(std::make_shared<connector::MessageRouter>(serializer))
    , sessions(std::make_shared<connector::http::HttpSessionManager>(router, sessionLimits))
    , engine(std::move(engine))
    , information(makeProvider<InformationServiceProviderImpl>(sessions, this->engine))
    , clientTypes(makeProvider<ClientTypeServiceProvider>())
    , registration(std::make_unique<InformationJsonSerialization>(serializer)) {
    // Every request type of the information service that the plug-in registers is routed to it;
    // ClientType, a message of the client-type service, travels only inside a batch.
    for (const auto& type : static_cast<NotingSerializer&>(*serializer).takeRegistered()) {
        if (!isInformationRequest(type)) continue;
        router->addProvider(type.typeName, information);
        addRoute(type.typeName);
    }
    router->addProvider(containerRequestType(), clientTypes);
    addRoute(containerRequestType());
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

void HostRuntime::addRoute(const std::string& typeName) {
    typeIndices.emplace(typeName, types.size());
    types.push_back(typeName.substr(connector::MessageRouter::TYPE_PREFIX.size()));
}

std::size_t HostRuntime::typeIndex(const std::string& typeName) const {
    const auto found = typeIndices.find(typeName);
    return found == typeIndices.end() ? 0 : found->second;
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
