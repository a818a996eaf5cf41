#pragma once

#include <optional>
#include <string>

// Which copy a start from the menu runs. The self-install and every self-update work on the
// copy in the user's Applications folder, so that copy runs when it is whole and not older
// than the package's; otherwise the package's does, so a newer package still wins over an
// older self-installed copy. A copy is whole when it has its program and its version.
class PreferredCopy {
  public:
    // Where the package puts its copy.
    static std::string packagedBundle();

    // The executable to start instead of `runningBundle`'s own; absent: the running one.
    // A start of the installed copy weighs the package's copy against it; any other start
    // (the package's launcher, a copy elsewhere) weighs the installed copy.
    static std::optional<std::string> executableInstead(const std::string& runningBundle,
                                                        const std::string& installedBundle,
                                                        const std::string& packagedBundle);
};
