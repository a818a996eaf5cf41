#pragma once

#include <optional>
#include <string>

// Which copy a start from the package runs. The self-install and every self-update work on
// the copy in the user's Applications folder, so that copy runs when it is whole and not
// older than the packaged one; otherwise the packaged one does, so a newer package still
// wins over an older self-installed copy.
class PreferredCopy {
  public:
    // The executable to start instead of the packaged bundle's own; absent: the packaged one.
    static std::optional<std::string> executableInstead(const std::string& packagedBundle,
                                                        const std::string& installedBundle);
};
