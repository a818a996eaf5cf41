#include "Format.h"

namespace platform::detail {

namespace {

// Length of the placeholder starting at fmt[pos] ('%'), or 0 when it is none we fill.
std::size_t placeholderLength(std::string_view fmt, std::size_t pos) {
    static constexpr std::string_view kPlaceholders[] = {"%@", "%s", "%d", "%ld", "%lu", "%u"};
    for (std::string_view p : kPlaceholders) {
        if (fmt.substr(pos, p.size()) == p) return p.size();
    }
    return 0;
}

}  // namespace

std::string_view formatNext(std::string& out, std::string_view fmt, const std::string& value) {
    for (std::size_t i = 0; i < fmt.size(); ++i) {
        if (fmt[i] != '%') {
            out += fmt[i];
            continue;
        }
        if (i + 1 < fmt.size() && fmt[i + 1] == '%') {
            out += '%';
            ++i;
            continue;
        }
        if (std::size_t length = placeholderLength(fmt, i)) {
            out += value;
            return fmt.substr(i + length);
        }
        out += '%';
    }
    return {};
}

}  // namespace platform::detail
