#pragma once

#include <cstddef>
#include <string>

#include "../platform/Text.h"

// The rules that look at a code's or a key's length count characters as a person reads them
// (a flag, an accented letter or "\r\n" is one character).
inline std::size_t characterCount(const std::string& text) {
    return platform::Text::characters(text).size();
}

// The character at `index` when it is a single byte (ASCII); '\0' otherwise.
inline char characterAt(const std::string& text, std::size_t index) {
    auto characters = platform::Text::characters(text);
    if (index >= characters.size() || characters[index].size() != 1) return '\0';
    auto c = static_cast<unsigned char>(characters[index][0]);
    return c < 0x80 ? static_cast<char>(c) : '\0';
}
