#pragma once

#include <concepts>
#include <optional>
#include <string>
#include <string_view>

namespace platform {

// Textual form of a value as macOS's format strings print it: absent values read
// "(null)", booleans 1 or 0.
inline std::string describe(const std::string& value) {
    return value;
}
inline std::string describe(std::string_view value) {
    return std::string(value);
}
inline std::string describe(const char* value) {
    return value ? value : "(null)";
}
inline std::string describe(const std::optional<std::string>& value) {
    return value ? *value : "(null)";
}
inline std::string describe(bool value) {
    return value ? "1" : "0";
}
template <std::integral T>
std::string describe(T value) {
    return std::to_string(value);
}

namespace detail {

// Appends fmt up to and including the next placeholder filled with `value`.
// Returns the rest of the format.
std::string_view formatNext(std::string& out, std::string_view fmt, const std::string& value);

}  // namespace detail

// printf-like formatting for the fixed log texts: %s, %@, %d, %ld, %lu and %u each take the next
// argument in its textual form; %% is a percent sign. Placeholders without an argument
// stay as written, so a wrong count never crashes a log line.
template <typename... Args>
std::string format(std::string_view fmt, const Args&... args) {
    std::string out;
    out.reserve(fmt.size() + 32);
    ((fmt = detail::formatNext(out, fmt, describe(args))), ...);
    // Remaining text, with %% collapsed.
    for (std::size_t i = 0; i < fmt.size(); ++i) {
        if (fmt[i] == '%' && i + 1 < fmt.size() && fmt[i + 1] == '%') ++i;
        out += fmt[i];
    }
    return out;
}

}  // namespace platform
