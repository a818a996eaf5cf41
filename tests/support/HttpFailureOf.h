#pragma once

#include <optional>
#include <string>

#include "platform/Http.h"

// The kind and text of a request's failure, for expectations; nothing and "" on success.
inline std::optional<platform::HttpFailure> kindOf(const std::optional<platform::Failure>& why) {
    return why ? why->kind<platform::HttpFailure>() : std::nullopt;
}

inline std::string descriptionOf(const std::optional<platform::Failure>& why) {
    return why ? why->description : "";
}
