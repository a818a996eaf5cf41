#include "PreferredCopy.h"

#include <string.h>
#include <unistd.h>

#include "AppDelegate.h"
#include "platform/Bundle.h"

namespace {

// The bundle's executable when its Info.plist names one that can be run: a copy cut short
// lacks it.
std::optional<std::string> wholeBundleExecutable(const std::string& bundlePath) {
    auto bundle = platform::Bundle::bundleWithPath(bundlePath);
    if (!bundle) return std::nullopt;
    const platform::PlistValue* name = bundle->objectForInfoDictionaryKey("CFBundleExecutable");
    if (!name || !name->string() || name->string()->empty()) return std::nullopt;
    std::string executable = bundlePath + "/Contents/MacOS/" + *name->string();
    if (::access(executable.c_str(), X_OK) != 0) return std::nullopt;
    return executable;
}

}  // namespace

int PreferredCopy::compareVersions(const std::string& a, const std::string& b) {
    return strverscmp(a.c_str(), b.c_str());
}

std::optional<std::string> PreferredCopy::executableInstead(const std::string& packagedBundle,
                                                            const std::string& installedBundle) {
    if (packagedBundle == installedBundle) return std::nullopt;
    // Most packaged starts have no copy of their own yet: nothing more is read then.
    auto executable = wholeBundleExecutable(installedBundle);
    if (!executable) return std::nullopt;
    auto installed = AppDelegate::getAppVersion(installedBundle);
    if (!installed) return std::nullopt;
    auto packaged = AppDelegate::getAppVersion(packagedBundle);
    if (packaged && compareVersions(*installed, *packaged) < 0) return std::nullopt;
    return executable;
}
