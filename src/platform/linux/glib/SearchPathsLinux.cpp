#include <glib.h>
#include "../../SearchPaths.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>

namespace platform {

namespace {

class LinuxSearchPaths final : public SearchPaths {
  public:
    std::string homeDirectory() const override;
    std::string userLibraryDirectory() const override;
    std::string userApplicationsDirectory() const override;
    std::string userDownloadsDirectory() const override;
    std::string localApplicationsDirectory() const override;
};

}  // namespace

std::string LinuxSearchPaths::homeDirectory() const {
    if (const char* home = std::getenv("HOME"); home && *home) return home;
    if (const passwd* entry = ::getpwuid(::getuid()); entry && entry->pw_dir) return entry->pw_dir;
    return "/";
}

std::string LinuxSearchPaths::userLibraryDirectory() const {
    return homeDirectory() + "/Library";
}

std::string LinuxSearchPaths::userDownloadsDirectory() const {
    // The desktop's own name for it (xdg-user-dirs), which may be translated.
    if (const char* downloads = g_get_user_special_dir(G_USER_DIRECTORY_DOWNLOAD);
        downloads && *downloads && std::string(downloads) != homeDirectory()) {
        return downloads;
    }
    return homeDirectory() + "/Downloads";
}

std::string LinuxSearchPaths::userApplicationsDirectory() const {
    return homeDirectory() + "/Applications";
}

std::string LinuxSearchPaths::localApplicationsDirectory() const {
    return "/Applications";
}

SearchPaths& SearchPaths::shared() {
    static LinuxSearchPaths backend;
    return replacedOr(backend);
}

}  // namespace platform
