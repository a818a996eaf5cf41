#pragma once

#include <string>

namespace platform {

// Writes one line to standard error behind the system log prefix
// ("<date> <time> <process>[<pid>:<thread>] "), adding a line feed when the text lacks one.
void NSLog(const std::string& text);

// Writes the text and a line feed to standard output as one unit.
void print(const std::string& text);

// The current call stack, one frame a line.
std::string callStackSymbols();

}  // namespace platform
