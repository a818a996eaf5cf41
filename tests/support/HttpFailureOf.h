#pragma once

#include <optional>
#include <ostream>
#include <string>

#include "platform/Http.h"

// The kind and text of a request's failure, for expectations; nothing and "" on success.
inline std::optional<platform::HttpFailure> kindOf(const std::optional<platform::Failure>& why) {
    return why ? why->kind<platform::HttpFailure>() : std::nullopt;
}

inline std::string descriptionOf(const std::optional<platform::Failure>& why) {
    return why ? why->description : "";
}

namespace platform {

// Failed expectations name the kind, not its bytes.
inline void PrintTo(HttpFailure kind, std::ostream* out) {
    switch (kind) {
        case HttpFailure::transport:
            *out << "transport";
            return;
        case HttpFailure::stalled:
            *out << "stalled";
            return;
        case HttpFailure::tooLarge:
            *out << "tooLarge";
            return;
        case HttpFailure::cleartextRefused:
            *out << "cleartextRefused";
            return;
        case HttpFailure::untrustedCertificate:
            *out << "untrustedCertificate";
            return;
        case HttpFailure::proxyAuthenticationRequired:
            *out << "proxyAuthenticationRequired";
            return;
        case HttpFailure::proxyRefused:
            *out << "proxyRefused";
            return;
        case HttpFailure::signInPage:
            *out << "signInPage";
            return;
    }
    *out << "HttpFailure(" << static_cast<int>(kind) << ")";
}

}  // namespace platform
