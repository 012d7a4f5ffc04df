#include "tools/connector-host/Readiness.hpp"

#include <systemd/sd-daemon.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <stdexcept>

#include "tools/connector-host/core/HostLog.hpp"

namespace connectorhost {
namespace {

// writePortFile: FILE holds "PORT\n", written to a file of its own beside FILE (named after this
// process) and renamed over FILE, so that a reader never sees half of it.
void writePortFile(const std::string& path, std::uint16_t port) {
    const std::string temporary = path + ".tmp" + std::to_string(::getpid());
    std::FILE* file = std::fopen(temporary.c_str(), "w");
    bool written = file && std::fprintf(file, "%u\n", static_cast<unsigned>(port)) > 0;
    if (file) written = std::fclose(file) == 0 && written;
    if (!written || std::rename(temporary.c_str(), path.c_str()) != 0) {
        const int error = errno;
        std::remove(temporary.c_str());
        throw std::runtime_error("cannot write port file " + path + ": " + std::strerror(error));
    }
}

}  // namespace

void announceServing(std::uint16_t port, const std::optional<std::string>& portFile) {
    if (portFile) writePortFile(*portFile, port);
    const std::string origin = "http://127.0.0.1:" + std::to_string(port);
    logLine(log_level::INFO,
            "serving the page at " + origin + "/ and envelopes at POST " + origin + "/messages");
    sd_notify(0, "READY=1");
}

void announceStopping(int signal) {
    sd_notify(0, "STOPPING=1");
    logLine(log_level::INFO, "stopping on signal " + std::to_string(signal));
}

}  // namespace connectorhost
