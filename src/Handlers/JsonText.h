#pragma once

#include <nlohmann/json.hpp>

#include <cstddef>
#include <optional>
#include <string>

// Parsing of JSON that outsiders control: nesting is bounded before the parser sees the text,
// so hostile input cannot exhaust the stack; invalid text or UTF-8 yields nothing.
std::optional<nlohmann::json> parseUntrustedJson(const std::string& text,
                                                 std::size_t maximumDepth = 256);

// A JSON boolean, or a number or string taken by its truth value as macOS reads them:
// numbers are true unless zero; strings after leading blanks, a sign and zeros are true when
// they go on with Y, y, T, t or a digit 1-9.
std::optional<bool> truthValue(const nlohmann::json& value);
