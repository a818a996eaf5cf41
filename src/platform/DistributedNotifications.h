#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "Replaceable.h"
#include "Status.h"

namespace platform {

// Notifications to every process of the user's session.
class DistributedNotifications : public Replaceable<DistributedNotifications> {
  public:
    virtual ~DistributedNotifications() = default;
    static DistributedNotifications& shared();

    // Announces a notification with integer entries as its user information. Fails, with the
    // reason, when the session's message bus did not take it.
    virtual Status post(const std::string& name,
                        const std::map<std::string, std::int32_t>& userInfo) = 0;
};

}  // namespace platform
