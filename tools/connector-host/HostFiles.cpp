#include "tools/connector-host/HostFiles.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <boost/algorithm/string/trim.hpp>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <stdexcept>

namespace connectorhost {
namespace {

// The most a token file may hold: a token is a line, not a document.
constexpr std::size_t TOKEN_FILE_LIMIT = 4096;

[[noreturn]] void refuse(const std::string& file, const std::string& why) {
    throw std::runtime_error(file + " " + why);
}

[[noreturn]] void unreadable(const std::string& file, int error) {
    throw std::runtime_error("cannot read " + file + ": " + std::strerror(error));
}

// The file's bytes, up to `maxBytes`; `limitName` names the option that sets the limit.
std::string readWhole(const char* what, const std::string& path, std::size_t maxBytes,
                      const char* limitName) {
    const std::string file = std::string(what) + " " + path;
    const int descriptor = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (descriptor < 0) unreadable(file, errno);
    struct stat status {};
    if (::fstat(descriptor, &status) == 0 && S_ISDIR(status.st_mode)) {
        ::close(descriptor);
        refuse(file, "is a directory");
    }
    std::string text;
    char chunk[65536];
    for (;;) {
        const ssize_t got = ::read(descriptor, chunk, sizeof chunk);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) {
            const int error = errno;
            ::close(descriptor);
            unreadable(file, error);
        }
        if (got == 0) break;
        if (text.size() + static_cast<std::size_t>(got) > maxBytes) {
            ::close(descriptor);
            refuse(file, "is larger than the limit of " + std::to_string(maxBytes) + " bytes" +
                             limitName);
        }
        text.append(chunk, static_cast<std::size_t>(got));
    }
    ::close(descriptor);
    return text;
}

}  // namespace

std::string readEngineTable(const std::string& path, std::size_t maxBytes) {
    return readWhole("engine table", path, maxBytes, " (--max-engine-bytes)");
}

void checkSessionFile(const std::string& path) {
    const std::string file = "session file " + path;
    const int descriptor = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (descriptor < 0) unreadable(file, errno);
    struct stat status {};
    const bool directory = ::fstat(descriptor, &status) == 0 && S_ISDIR(status.st_mode);
    ::close(descriptor);
    if (directory) refuse(file, "is a directory");
}

std::string readTokenFile(const std::string& path) {
    struct stat status {};
    if (::stat(path.c_str(), &status) == 0 && (status.st_mode & (S_IRWXG | S_IRWXO)) != 0) {
        char mode[8];
        std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(status.st_mode & 07777));
        refuse("token file " + path,
               std::string("is open to other users (mode ") + mode + "): chmod 600 " + path);
    }
    const std::string token =
        boost::algorithm::trim_copy(readWhole("token file", path, TOKEN_FILE_LIMIT, ""));
    if (token.empty()) refuse("token file " + path, "is empty");
    for (char c : token)
        if (c < 0x21 || c > 0x7E)
            refuse("token file " + path, "must hold one token of printable ASCII characters");
    return token;
}

}  // namespace connectorhost
