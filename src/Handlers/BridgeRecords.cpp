#include "BridgeRecords.h"

#include <cmath>

#include <limits>

#include "JsonText.h"

namespace {

using nlohmann::json;

const json* member(const json& object, const char* key) {
    auto it = object.find(key);
    return it == object.end() ? nullptr : &*it;
}

std::optional<std::string> requiredText(const json& object, const char* key) {
    const json* value = member(object, key);
    if (!value || !value->is_string()) return std::nullopt;
    return value->get<std::string>();
}

// Whole numbers within the signed 64-bit range only: no fractions, no strings of digits.
std::optional<std::int64_t> requiredInteger(const json& object, const char* key) {
    const json* value = member(object, key);
    if (!value) return std::nullopt;
    if (value->is_number_unsigned()) {
        auto number = value->get<std::uint64_t>();
        if (number > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()))
            return std::nullopt;
        return static_cast<std::int64_t>(number);
    }
    if (value->is_number_integer()) return value->get<std::int64_t>();
    // A whole number written as a real (1.0, 1e9) is still a whole number.
    if (value->is_number_float()) {
        double number = value->get<double>();
        if (std::isfinite(number) && std::trunc(number) == number &&
            number >= -9223372036854775808.0 && number < 9223372036854775808.0) {
            return static_cast<std::int64_t>(number);
        }
    }
    return std::nullopt;
}

std::optional<bool> requiredBoolean(const json& object, const char* key) {
    const json* value = member(object, key);
    if (!value || !value->is_boolean()) return std::nullopt;
    return value->get<bool>();
}

std::optional<json> object(const std::string& text) {
    auto parsed = parseUntrustedJson(text);
    if (!parsed || !parsed->is_object()) return std::nullopt;
    return parsed;
}

}  // namespace

std::optional<joinSessionMessage> joinSessionMessage::decode(const std::string& text) {
    auto root = object(text);
    if (!root) return std::nullopt;
    auto sessionKey = requiredInteger(*root, "sessionKey");
    auto email = requiredText(*root, "email");
    if (!sessionKey || !email) return std::nullopt;
    joinSessionMessage record{*sessionKey, *email, std::nullopt};
    if (const json* dc = member(*root, "dc"); dc && !dc->is_null()) {
        if (!dc->is_string()) return std::nullopt;
        record.dc = dc->get<std::string>();
    }
    return record;
}

std::optional<customerDetails> customerDetails::decode(const std::string& text) {
    auto root = object(text);
    if (!root) return std::nullopt;
    auto name = requiredText(*root, "name");
    auto company = requiredText(*root, "company");
    auto email = requiredText(*root, "email");
    auto language = requiredText(*root, "language");
    if (!name || !company || !email || !language) return std::nullopt;
    return customerDetails{*name, *company, *email, *language};
}

std::optional<proxyDetails> proxyDetails::decode(const std::string& text) {
    auto root = object(text);
    if (!root) return std::nullopt;
    auto host = requiredText(*root, "host");
    auto port = requiredInteger(*root, "port");
    auto authRequired = requiredBoolean(*root, "authRequired");
    auto userName = requiredText(*root, "userName");
    auto password = requiredText(*root, "password");
    if (!host || !port || !authRequired || !userName || !password) return std::nullopt;
    return proxyDetails{*host, *port, *authRequired, *userName, *password};
}
