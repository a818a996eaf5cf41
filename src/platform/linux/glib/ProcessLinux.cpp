#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "../../Process.h"

namespace platform {

std::optional<std::string> Process::environmentVariable(const std::string& name) {
    const char* value = std::getenv(name.c_str());
    if (!value) return std::nullopt;
    return std::string(value);
}

std::optional<std::string> Process::takeEnvironmentVariable(const std::string& name) {
    const char* value = std::getenv(name.c_str());
    if (!value) return std::nullopt;
    std::string taken = value;
    ::unsetenv(name.c_str());
    return taken;
}

void Process::setEnvironmentVariable(const std::string& name, const std::string& value) {
    ::setenv(name.c_str(), value.c_str(), 1);
}

int Process::id() {
    return static_cast<int>(::getpid());
}

bool Process::isAlive(int id) {
    // EPERM: it runs, as another user's.
    return id > 0 && (::kill(static_cast<pid_t>(id), 0) == 0 || errno == EPERM);
}

Status Process::replaceWith(const std::string& executable, char** argv) {
    std::string program = executable;  // argv[0] points into it while execv runs
    char* own = argv[0];
    argv[0] = program.data();
    ::execv(program.c_str(), argv);
    int error = errno;
    argv[0] = own;
    return Status::failure(std::strerror(error));
}

}  // namespace platform
