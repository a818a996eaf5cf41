#pragma once

#include <optional>
#include <string>

#include "platform/WebView.h"

enum class NavigationDecision {
    Allow,
    Cancel,
    OpenAsDeepLink,
    DecideWhenTheFrameIsKnown,
    // The proxy's page asks the window for the proxy's user name and password again.
    AskForProxySignIn,
};

// Reloads and script- or application-started loads of the main frame stay on the session's
// web server or the offline page; links, and script-started loads of other frames, may go
// anywhere inside the web view, except links of the service's own scheme, which go to the
// desktop. A script-started load whose frame is not known yet is allowed when either rule
// would allow it, cancelled when it has no address, and otherwise decided again once the frame
// is known (the service's own scheme included).
NavigationDecision decideNavigationPolicy(const platform::NavigationAction& action,
                                          const std::optional<std::string>& webServerName);

// "https://" + host + "/" + path, then "?kelvane_token=" + token when there is a non-empty
// token; nothing is encoded.
std::string joinPageURL(const std::optional<std::string>& webServerName,
                        const std::optional<std::string>& pathForKelvane,
                        const std::optional<std::string>& kelvaneToken);

// The URL's scheme, when it has one.
std::optional<std::string> urlScheme(const std::string& url);
