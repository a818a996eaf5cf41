#pragma once

#include <string>

namespace platform {

// What the backends need to know of the product they serve. The logic names it in one place
// and hands it over with setProductIdentity() before it uses any service, so no backend
// spells a name of the product and a backend for another system stays a pure adapter.
struct ProductIdentity {
    // Reverse-DNS identifier: the application's, its preferences domain, its web data folder.
    std::string applicationId;
    // The name people see, which assistive technology reads for the application.
    std::string displayName;
    // D-Bus object path and interface of the session-wide notifications.
    std::string notificationPath;
    std::string notificationInterface;
    // The program the logic runs for disk images, and the one this system runs in its place,
    // relative to the bundle's Contents/MacOS (empty: the program itself).
    std::string diskImageTool;
    std::string bundledDiskImageTool;
    // The scheme of the service's own links: the web view answers its loads with nothing, so
    // that a load started by a frame's script reaches the stage where its frame is known.
    std::string deepLinkScheme;
};

// Called once, before any other thread starts.
void setProductIdentity(ProductIdentity identity);
// Stops the process with a message when nothing was handed over: a backend would otherwise
// store data under a wrong name.
const ProductIdentity& productIdentity();

}  // namespace platform
