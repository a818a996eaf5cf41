#include "MenuEntryWriter.h"

#include "../platform/Bundle.h"
#include "../platform/DesktopIntegration.h"
#include "Logging.h"

namespace {

// The bundle's tool that packs the log for support, behind the entry's "save-logs" action.
constexpr const char* kSupportLogsTool = "kelvane-support-logs";
constexpr const char* kSaveLogsAction = "save-logs";

}  // namespace

void MenuEntryWriter::addToMenu(const char* function, const std::string& installedBundle) {
    auto bundle = platform::Bundle::bundleWithPath(installedBundle);
    auto executable = bundle ? bundle->executablePath() : std::nullopt;
    if (!executable) {
        logLine("%s : No menu entry for %@: it holds no program to start", function,
                installedBundle);
        return;
    }
    platform::MenuEntry entry;
    entry.bundlePath = installedBundle;
    entry.command = {"env", std::string(kMenuStartVariable) + "=1", *executable};
    entry.actionCommands[kSaveLogsAction] = {installedBundle + "/Contents/MacOS/" +
                                             kSupportLogsTool};
    auto written = platform::DesktopIntegration::shared().addToMenu(entry);
    if (!written) {
        logLine("%s : No menu entry for %@: %@", function, installedBundle, written.error());
        return;
    }
    logLine("%s : The menu entry %@ starts %@", function, *written, installedBundle);
}
