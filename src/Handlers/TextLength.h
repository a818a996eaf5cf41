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

// Number of user-perceived characters: a combining mark, a variation selector or a character
// joined by a zero-width joiner belongs to the character before it.
inline std::size_t graphemeCount(const std::string& text) {
    std::size_t count = 0;
    bool joinNext = false;
    for (std::size_t i = 0; i < text.size();) {
        auto lead = static_cast<unsigned char>(text[i]);
        std::size_t length = lead < 0x80 ? 1 : (lead >> 5) == 0x6 ? 2 : (lead >> 4) == 0xE ? 3 : (lead >> 3) == 0x1E ? 4 : 1;
        char32_t code = lead < 0x80 ? lead : lead & (0x3F >> (length - 1));
        for (std::size_t k = 1; k < length && i + k < text.size(); ++k) {
            code = (code << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3F);
        }
        i += length;
        bool extends = (code >= 0x0300 && code <= 0x036F) || (code >= 0x1AB0 && code <= 0x1AFF) ||
                       (code >= 0x1DC0 && code <= 0x1DFF) || (code >= 0x20D0 && code <= 0x20FF) ||
                       (code >= 0xFE00 && code <= 0xFE0F) || (code >= 0xFE20 && code <= 0xFE2F) ||
                       (code >= 0x1F3FB && code <= 0x1F3FF) || code == 0x200D;
        if (!(extends || joinNext) || count == 0) ++count;
        joinNext = code == 0x200D;
    }
    return count;
}
