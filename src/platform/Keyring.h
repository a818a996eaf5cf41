#pragma once

#include <optional>
#include <string>

#include "Credentials.h"
#include "Replaceable.h"
#include "Status.h"

namespace platform {

// The desktop's keyring, where the user name and password a proxy asks for are kept between
// starts, locked with the customer's session. Blocking calls: not for the main thread.
class Keyring : public Replaceable<Keyring> {
  public:
    virtual ~Keyring() = default;
    static Keyring& shared();

    // What is kept for the proxy at host:port; absent when nothing is.
    virtual Result<std::optional<Credentials>> proxyCredentials(const std::string& host,
                                                                int port) = 0;
    virtual Status keepProxyCredentials(const std::string& host, int port,
                                        const Credentials& credentials) = 0;
    virtual Status forgetProxyCredentials(const std::string& host, int port) = 0;
};

}  // namespace platform
