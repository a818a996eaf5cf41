#include "Url.h"

#include <cctype>
#include <string_view>

namespace platform::Url {

bool isURLReference(const std::string& text) {
    static constexpr std::string_view kAllowedPunctuation = "!$&'()*+,-./:;=?@_~#[]";
    auto isHex = [](char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; };
    if (text.empty() || text[0] == ':') return false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        auto c = static_cast<unsigned char>(text[i]);
        if (c == '%') {
            if (i + 2 >= text.size() || !isHex(text[i + 1]) || !isHex(text[i + 2])) return false;
            i += 2;
        } else if (!(std::isalnum(c) && c < 0x80) &&
                   kAllowedPunctuation.find(static_cast<char>(c)) == std::string_view::npos) {
            return false;
        }
    }
    return true;
}

}  // namespace platform::Url
