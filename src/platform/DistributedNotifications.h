#pragma once

#include <cstdint>
#include <map>
#include <string>

namespace platform {

namespace DistributedNotifications {

// Announces a notification to every process of the user's session, with integer entries as
// its user information. Nothing happens when the session has no message bus.
void post(const std::string& name, const std::map<std::string, std::int64_t>& userInfo);

}  // namespace DistributedNotifications

}  // namespace platform
