#include "Preferences.h"

#include <charconv>

namespace platform {

std::optional<std::string> Preferences::stringForKey(const std::string& key) const {
    auto value = objectForKey(key);
    if (!value) return std::nullopt;
    if (auto* text = value->string()) return *text;
    if (auto* number = value->get<std::int64_t>()) return std::to_string(*number);
    if (auto* flag = value->get<bool>()) return *flag ? "1" : "0";
    return std::nullopt;
}

std::int64_t Preferences::integerForKey(const std::string& key) const {
    auto value = objectForKey(key);
    if (!value) return 0;
    if (auto* number = value->get<std::int64_t>()) return *number;
    if (auto* flag = value->get<bool>()) return *flag ? 1 : 0;
    if (auto* real = value->get<double>()) return static_cast<std::int64_t>(*real);
    if (auto* text = value->string()) {
        std::int64_t number = 0;
        std::from_chars(text->data(), text->data() + text->size(), number);
        return number;
    }
    return 0;
}

bool Preferences::boolForKey(const std::string& key) const {
    auto value = objectForKey(key);
    if (!value) return false;
    if (auto* flag = value->get<bool>()) return *flag;
    if (auto* text = value->string()) {
        if (*text == "YES" || *text == "yes" || *text == "true" || *text == "TRUE") return true;
    }
    return integerForKey(key) != 0;
}

}  // namespace platform
