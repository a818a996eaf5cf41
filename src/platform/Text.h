#pragma once

#include <string>
#include <vector>

namespace platform {

namespace Text {

// The user-perceived characters (extended grapheme clusters) of UTF-8 text, in order: a flag,
// a letter with its combining marks, an emoji sequence joined by zero-width joiners and "\r\n"
// are one character each. Bytes that are not UTF-8 count one character each.
std::vector<std::string> characters(const std::string& text);

// True when the bytes are well-formed UTF-8 (no NUL check: a NUL byte is valid UTF-8).
bool isValidUtf8(const std::string& text);

}  // namespace Text

}  // namespace platform
