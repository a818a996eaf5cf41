#pragma once

#include <map>
#include <string>
#include <vector>

#include "Status.h"

namespace platform {

// What the desktop shows of an application installed for this user alone: its entry in the
// applications menu, with the bundle's own name, texts and icons, and the commands it runs.
struct MenuEntry {
    // The installed bundle. It carries the entry as the package installs it
    // (Contents/Resources/<application id>.desktop) and its icons
    // (Contents/Resources/icons/hicolor/<size>/apps/).
    std::string bundlePath;
    // What the entry runs: the program, then its arguments.
    std::vector<std::string> command;
    // What each of the entry's actions runs, by the action's name.
    std::map<std::string, std::vector<std::string>> actionCommands;
};

// This user's menu: an entry written here has the package's id, so the desktop shows one
// entry, this user's taking the place of the package's.
class DesktopIntegration {
  public:
    virtual ~DesktopIntegration() = default;
    static DesktopIntegration& shared();

    // Writes the entry and its icons for this user; the entry's path, or why it could not be.
    virtual Result<std::string> addToMenu(const MenuEntry& entry) = 0;
};

}  // namespace platform
