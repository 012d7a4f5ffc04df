#include "tools/connector-host/http/OpenFiles.hpp"

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <stdexcept>
#include <string>

namespace connectorhost {
namespace {

// A margin beyond what serving itself opens.
constexpr std::size_t MARGIN = 8;

std::size_t openDescriptors() {
    std::error_code error;
    std::size_t count = 0;
    for (std::filesystem::directory_iterator it("/proc/self/fd", error), end; !error && it != end;
         it.increment(error))
        ++count;
    // The listing itself held one descriptor.
    return error || count == 0 ? MARGIN : count - 1;
}

}  // namespace

OpenFilesLimit prepareOpenFiles(std::size_t maxConnections, std::size_t ownDescriptors) {
    const std::size_t inUse = openDescriptors();
    const std::size_t needed = inUse + ownDescriptors + MARGIN + maxConnections;
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0) return {needed, needed};
    if (limit.rlim_cur != RLIM_INFINITY && limit.rlim_cur < needed) {
        rlimit raised = limit;
        raised.rlim_cur = limit.rlim_max == RLIM_INFINITY
                              ? needed
                              : std::min<rlim_t>(limit.rlim_max, static_cast<rlim_t>(needed));
        if (setrlimit(RLIMIT_NOFILE, &raised) == 0) limit = raised;
    }
    const std::size_t now =
        limit.rlim_cur == RLIM_INFINITY ? needed : static_cast<std::size_t>(limit.rlim_cur);
    // Serving takes its own descriptors and at least one connection.
    if (now < inUse + ownDescriptors + 1)
        throw std::runtime_error("the open-files limit of " + std::to_string(now) +
                                 " leaves no descriptor for a connection (" +
                                 std::to_string(inUse) + " are open, serving opens " +
                                 std::to_string(ownDescriptors) + "): raise it to at least " +
                                 std::to_string(inUse + ownDescriptors + MARGIN + 1) +
                                 " (ulimit -n)");
    return {now, needed};
}

SpareDescriptor::SpareDescriptor() {
    restore();
}

SpareDescriptor::~SpareDescriptor() {
    release();
}

bool SpareDescriptor::release() noexcept {
    if (descriptor < 0) return false;
    ::close(descriptor);
    descriptor = -1;
    return true;
}

void SpareDescriptor::restore() noexcept {
    if (descriptor < 0) descriptor = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
}

}  // namespace connectorhost
