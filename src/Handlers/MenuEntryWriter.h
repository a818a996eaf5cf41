#pragma once

#include <string>

// After the application is installed into the user's Applications folder, by the volume or by
// a self-update: the menu entry and icons through which the customer finds that copy again,
// where no package put them. The entry starts the newest whole copy, as the package's does.
class MenuEntryWriter {
  public:
    // The variable a start from the menu carries: such a start runs the newest whole copy
    // (PreferredCopy) before anything else happens.
    static constexpr const char* kMenuStartVariable = "KELVANE_MENU_START";

    // Writes the entry for the bundle at `installedBundle`; failures are logged under
    // `function`, and cost the customer only the entry.
    static void addToMenu(const char* function, const std::string& installedBundle);

    MenuEntryWriter() = delete;
};
