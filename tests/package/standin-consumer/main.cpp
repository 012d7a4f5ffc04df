// Uses the installed stand-ins as a plug-in's tests would: the framework's session store and
// context state, and an engine evaluating a host function on its distributor's worker.
#include <iostream>

#include "connector/framework/HttpSessionManager.hpp"
#include "host/qvm/HostFunctions.hpp"
#include "host/qvm/QVM.hpp"

int main() {
    connector::http::HttpSessionManager sessions;
    sessions.useSession("s")->set("clientType", std::string("jsd_lcl_nkv"),
                                  connector::common::ContextScope::Session);
    const bool stored = boost::any_cast<std::string>(
                            sessions.lastUsedSessionState()->get("clientType")) == "jsd_lcl_nkv";

    auto engine = qvm::QVM::create();
    engine->registerFunction("version", qvm::functions::answerText("1.2.3"));
    const bool engineUp = engine->isValid() && engine->getCmdDistributor() != nullptr;
    std::cout << "session state " << (stored ? "kept" : "lost") << ", engine "
              << (engineUp ? "running" : "missing") << std::endl;
    return stored && engineUp ? 0 : 1;
}
