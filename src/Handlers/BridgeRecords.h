#pragma once

#include <cstdint>
#include <optional>
#include <string>

// The JSON records that the join page sends as text. Each field's key is its name exactly;
// extra keys are ignored; a missing required key, a null or a value of another JSON type
// rejects the whole record.

struct joinSessionMessage {
    std::int64_t sessionKey = 0;
    std::string email;
    std::optional<std::string> dc;

    static std::optional<joinSessionMessage> decode(const std::string& text);
};

struct customerDetails {
    std::string name;
    std::string company;
    std::string email;
    std::string language;

    static std::optional<customerDetails> decode(const std::string& text);
};

struct proxyDetails {
    std::string host;
    std::int64_t port = 0;
    bool authRequired = false;
    std::string userName;
    std::string password;

    static std::optional<proxyDetails> decode(const std::string& text);
};
