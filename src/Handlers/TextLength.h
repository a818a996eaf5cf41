#pragma once

#include <cstddef>
#include <string>

// Number of characters in UTF-8 text (continuation bytes do not count), for the rules that
// look at a code's or a key's length.
inline std::size_t characterCount(const std::string& text) {
    std::size_t count = 0;
    for (unsigned char c : text) {
        if ((c & 0xC0) != 0x80) ++count;
    }
    return count;
}

// The character at `index` when it is a single byte (ASCII); '\0' otherwise.
inline char characterAt(const std::string& text, std::size_t index) {
    std::size_t seen = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        auto c = static_cast<unsigned char>(text[i]);
        if ((c & 0xC0) == 0x80) continue;
        if (seen++ == index) return c < 0x80 ? static_cast<char>(c) : '\0';
    }
    return '\0';
}
