#include "Url.h"

#include <cctype>
#include <string_view>

namespace platform::Url {

std::string encodeForQuery(const std::string& text) {
    static constexpr std::string_view kAllowedPunctuation = "!$&'()*+,-./:;=?@_~";
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string encoded;
    encoded.reserve(text.size());
    for (unsigned char c : text) {
        if (std::isalnum(c) && c < 0x80) {
            encoded += static_cast<char>(c);
        } else if (kAllowedPunctuation.find(static_cast<char>(c)) != std::string_view::npos) {
            encoded += static_cast<char>(c);
        } else {
            encoded += '%';
            encoded += kHex[c >> 4];
            encoded += kHex[c & 0x0F];
        }
    }
    return encoded;
}

}  // namespace platform::Url
