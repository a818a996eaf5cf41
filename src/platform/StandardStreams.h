#pragma once

#include <functional>
#include <string>

namespace platform {

namespace StandardStreams {

// Reopens standard input, output and error, in that order, onto the file in read-and-append
// mode, creating it when missing. Reopening also flushes whatever was buffered. From then on
// output and error are unbuffered: each write reaches the file as it is made, so nothing
// printed waits in memory and every write is seen by whoever watches the file.
void reopenAllOnto(const std::string& path);

// Keeps standard input, output and error on the file at `path`: flushes what was printed, and
// reopens the three (as reopenAllOnto) only when that file is not the one standard output and
// error write to, because it was removed, moved away or replaced, or never opened. When nothing
// changed this costs two flushes and three status queries, and opens nothing. True when it
// reopened.
bool keepAllOnto(const std::string& path);

// Runs `work` while holding standard output and error, so no other thread's line can land
// between the steps of `work` (such as copying the log away and emptying it).
void runWithOutputHeld(const std::function<void()>& work);

}  // namespace StandardStreams

}  // namespace platform
