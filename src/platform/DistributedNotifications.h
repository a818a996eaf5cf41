#pragma once

#include <cstdint>
#include <map>
#include <string>

namespace platform {

namespace DistributedNotifications {

// Announces a notification to every process of the user's session, with integer entries as
// its user information. False when the session has no message bus to carry it.
bool post(const std::string& name, const std::map<std::string, std::int32_t>& userInfo);

}  // namespace DistributedNotifications

}  // namespace platform
