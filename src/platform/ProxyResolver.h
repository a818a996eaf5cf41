#pragma once

#include <optional>
#include <string>

#include "Http.h"
#include "Replaceable.h"
#include "Status.h"

namespace platform {

// The desktop's proxy settings, as the web view follows them: the proxy for one address, or
// none. Proxies of a kind the HTTP client cannot use are passed over for the next one named.
class ProxyResolver : public Replaceable<ProxyResolver> {
  public:
    virtual ~ProxyResolver() = default;
    static ProxyResolver& shared();

    // May block while a proxy auto-configuration script is fetched and run: call it on the
    // thread that makes the request (the main thread only for start-up's blocking lookup).
    virtual Result<std::optional<HttpProxy>> proxyFor(const std::string& url) = 0;
};

}  // namespace platform
