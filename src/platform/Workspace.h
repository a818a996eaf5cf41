#pragma once

#include <optional>
#include <string>
#include <vector>

#include "Status.h"

namespace platform {

namespace Workspace {

// Opens the URL with the application the desktop has registered for its scheme; a failure
// says why.
Status openURL(const std::string& url);

// Shows the desktop's proxy settings; fails, with the reason, when the desktop offers none or
// they could not be started.
Status openProxySettings();

// Starts the application bundle's executable (Contents/MacOS/<CFBundleExecutable>) with exactly
// these arguments, detached from this process: its own session, standard streams on /dev/null,
// no other descriptors inherited. Fails, with the reason, when it did not start.
Status launchApplication(const std::string& bundlePath, const std::vector<std::string>& arguments);

// The process of this user that runs the application bundle's executable, if one does.
std::optional<int> runningApplicationProcess(const std::string& bundlePath);

}  // namespace Workspace

}  // namespace platform
