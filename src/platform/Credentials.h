#pragma once

#include <string>

namespace platform {

// A user name and the password that goes with it.
struct Credentials {
    std::string userName;
    std::string password;
    bool operator==(const Credentials&) const = default;
};

}  // namespace platform
