#include <glib.h>

#include "../../SystemVersion.h"

namespace platform {

namespace {

std::optional<std::string> osInfo(const char* key) {
    g_autofree gchar* value = g_get_os_info(key);
    if (!value) return std::nullopt;
    return std::string(value);
}

class GLibOperatingSystem final : public OperatingSystem {
  public:
    SystemVersion version() const override;
};

}  // namespace

SystemVersion GLibOperatingSystem::version() const {
    // os-release is this system's version file: NAME and VERSION_ID play the parts of the
    // product name and version.
    SystemVersion version;
    version.productName = osInfo(G_OS_INFO_KEY_NAME);
    version.productVersion = osInfo(G_OS_INFO_KEY_VERSION_ID);
    return version;
}

OperatingSystem& OperatingSystem::shared() {
    static GLibOperatingSystem backend;
    return replacedOr(backend);
}

}  // namespace platform
