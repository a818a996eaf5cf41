#include "../SearchPaths.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>

namespace platform::SearchPaths {

std::string homeDirectory() {
    if (const char* home = std::getenv("HOME"); home && *home) return home;
    if (const passwd* entry = ::getpwuid(::getuid()); entry && entry->pw_dir) return entry->pw_dir;
    return "/";
}

std::string userLibraryDirectory() {
    return homeDirectory() + "/Library";
}

std::string userApplicationsDirectory() {
    return homeDirectory() + "/Applications";
}

std::string localApplicationsDirectory() {
    return "/Applications";
}

}  // namespace platform::SearchPaths
