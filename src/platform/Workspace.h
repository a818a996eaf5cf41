#pragma once

#include <string>
#include <vector>

namespace platform {

namespace Workspace {

// Opens the URL with the application the desktop has registered for its scheme.
bool openURL(const std::string& url);

// Shows the desktop's proxy settings; false when the desktop offers none.
bool openProxySettings();

// Starts the application bundle's executable (Contents/MacOS/<CFBundleExecutable>) with exactly
// these arguments, detached from this process: its own session, standard streams on /dev/null,
// no other descriptors inherited. True when it started.
bool launchApplication(const std::string& bundlePath, const std::vector<std::string>& arguments);

}  // namespace Workspace

}  // namespace platform
