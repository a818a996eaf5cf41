#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "Status.h"

namespace platform {

namespace DistributedNotifications {

// Announces a notification to every process of the user's session, with integer entries as
// its user information. Fails, with the reason, when the session's message bus did not take it.
Status post(const std::string& name, const std::map<std::string, std::int32_t>& userInfo);

}  // namespace DistributedNotifications

}  // namespace platform
