#pragma once

#include <optional>
#include <string>

#include "Replaceable.h"

namespace platform {

// The operating system's product name and version, as its version file records them.
struct SystemVersion {
    std::optional<std::string> productName;
    std::optional<std::string> productVersion;
};

class OperatingSystem : public Replaceable<OperatingSystem> {
  public:
    virtual ~OperatingSystem() = default;
    static OperatingSystem& shared();

    virtual SystemVersion version() const = 0;
};

}  // namespace platform
