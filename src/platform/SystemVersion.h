#pragma once

#include <optional>
#include <string>

namespace platform {

// The operating system's product name and version, as its version file records them.
struct SystemVersion {
    std::optional<std::string> productName;
    std::optional<std::string> productVersion;

    static SystemVersion current();
};

}  // namespace platform
