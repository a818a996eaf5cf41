#pragma once

#include <optional>
#include <string>

#include "../platform/Http.h"

// The one proxy decision for everything the application fetches itself: the proxy the
// desktop's settings name for the address (the web view asks the same resolver), with the
// user name and password it asks for when they are known (ProxySignIn).
class ProxyDecision {
  public:
    // Puts proxyForURL in charge of every later request of the HTTP client.
    static void install();

    // Any thread; logs the choice once per address and whenever it changes, never a password.
    static std::optional<platform::HttpProxy> proxyForURL(const std::string& url);
};
