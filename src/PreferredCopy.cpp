#include "PreferredCopy.h"

#include "platform/Bundle.h"

namespace {

struct WholeCopy {
    std::string executable;
    std::string version;
};

std::optional<WholeCopy> wholeCopyAt(const std::string& path) {
    auto bundle = platform::Bundle::bundleWithPath(path);
    if (!bundle) return std::nullopt;
    auto executable = bundle->executablePath();
    auto version = bundle->shortVersionString();
    if (!executable || !version) return std::nullopt;
    return WholeCopy{*executable, *version};
}

}  // namespace

std::string PreferredCopy::packagedBundle() {
    return KELVANE_PACKAGED_BUNDLE;
}

std::optional<std::string> PreferredCopy::executableInstead(const std::string& runningBundle,
                                                            const std::string& installedBundle,
                                                            const std::string& packagedBundle) {
    bool runningIsInstalled = runningBundle == installedBundle;
    const std::string& other = runningIsInstalled ? packagedBundle : installedBundle;
    if (other == runningBundle) return std::nullopt;
    // Most starts have no other copy: nothing more is read then.
    auto candidate = wholeCopyAt(other);
    if (!candidate) return std::nullopt;
    auto running = platform::Bundle::bundleWithPath(runningBundle);
    auto runningVersion = running ? running->shortVersionString() : std::nullopt;
    if (!runningVersion) return candidate->executable;
    int order = platform::Bundle::compareVersions(candidate->version, *runningVersion);
    // Equal versions: the installed copy, which the self-updates keep.
    bool candidateWins = order > 0 || (order == 0 && !runningIsInstalled);
    return candidateWins ? std::optional<std::string>(candidate->executable) : std::nullopt;
}
