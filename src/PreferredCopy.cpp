#include "PreferredCopy.h"

#include "platform/Bundle.h"

std::optional<std::string> PreferredCopy::executableInstead(const std::string& packagedBundle,
                                                            const std::string& installedBundle) {
    if (packagedBundle == installedBundle) return std::nullopt;
    // Most packaged starts have no copy of their own yet: nothing more is read then.
    auto installed = platform::Bundle::bundleWithPath(installedBundle);
    auto executable = installed ? installed->executablePath() : std::nullopt;
    if (!executable) return std::nullopt;
    auto installedVersion = installed->shortVersionString();
    if (!installedVersion) return std::nullopt;
    auto packaged = platform::Bundle::bundleWithPath(packagedBundle);
    auto packagedVersion = packaged ? packaged->shortVersionString() : std::nullopt;
    if (packagedVersion &&
        platform::Bundle::compareVersions(*installedVersion, *packagedVersion) < 0)
        return std::nullopt;
    return executable;
}
