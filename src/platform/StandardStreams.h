#pragma once

#include <functional>
#include <string>

namespace platform {

namespace StandardStreams {

// Reopens standard input, output and error, in that order, onto the file in read-and-append
// mode, creating it when missing. Reopening also flushes whatever was buffered.
void reopenAllOnto(const std::string& path);

// Runs `work` while holding standard output and error, so no other thread's line can land
// between the steps of `work` (such as copying the log away and emptying it).
void runWithOutputHeld(const std::function<void()>& work);

}  // namespace StandardStreams

}  // namespace platform
