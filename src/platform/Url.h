#pragma once

#include <optional>
#include <string>

namespace platform {

namespace Url {

// Percent-encodes every byte outside the set of characters allowed in a URL query
// (letters, digits and !$&'()*+,-./:;=?@_~), as the system does for a whole query string.
std::string encodeForQuery(const std::string& text);

// True when the text parses as an absolute URL with a scheme and a host.
bool isValid(const std::string& text);

// The host (with ":port" when one is given) of a valid URL.
std::optional<std::string> hostAndPort(const std::string& text);

}  // namespace Url

}  // namespace platform
