#pragma once

#include <optional>
#include <string>

namespace platform {

namespace Url {

// Percent-encodes every byte outside the set of characters allowed in a URL query
// (letters, digits and !$&'()*+,-./:;=?@_~), as macOS does for a whole query string.
std::string encodeForQuery(const std::string& text);

// The file URL of an absolute path, as macOS prints locations; a folder's ends in "/".
std::string fileUrl(const std::string& path, bool isFolder);

// True when the text parses as an absolute URL with a scheme and a host.
bool isValid(const std::string& text);

// True when the text is a URL reference as RFC 3986 writes one: absolute with any scheme
// ("mailto:", "tel:"), or relative such as a bare host name. Blanks, quotes, angle brackets
// and the like, or a "%" not followed by two hex digits, make it none.
bool isURLReference(const std::string& text);

// The host (with ":port" when one is given) of a valid URL.
std::optional<std::string> hostAndPort(const std::string& text);

}  // namespace Url

}  // namespace platform
