#pragma once

#include <optional>
#include <string>
#include <vector>

#include "Replaceable.h"
#include "Status.h"

namespace platform {

// The desktop: URL handlers, settings panels, launching and finding applications.
class Workspace : public Replaceable<Workspace> {
  public:
    virtual ~Workspace() = default;
    static Workspace& shared();

    // Opens the URL with the application the desktop has registered for its scheme; a failure
    // says why.
    virtual Status openURL(const std::string& url) = 0;
    // Shows the file in the desktop's file manager, selected; else opens its folder. Fails,
    // with the reason, when neither could be done.
    virtual Status showInFileManager(const std::string& path) = 0;
    // Shows the desktop's proxy settings; fails, with the reason, when the desktop offers none
    // or they could not be started.
    virtual Status openProxySettings() = 0;
    // Starts the application bundle's executable (Contents/MacOS/<CFBundleExecutable>) with
    // exactly these arguments, detached from this process: its own session, standard streams
    // on /dev/null, no other descriptors inherited. Fails, with the reason, when it did not
    // start.
    virtual Status launchApplication(const std::string& bundlePath,
                                     const std::vector<std::string>& arguments) = 0;
    // The process of this user that runs the application bundle's executable, if one does.
    virtual std::optional<int> runningApplicationProcess(const std::string& bundlePath) = 0;
};

}  // namespace platform
