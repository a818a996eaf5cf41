#include "../../Log.h"

#include <errno.h>
#include <execinfo.h>
#include <sys/syscall.h>
#include <sys/time.h>
#include <unistd.h>

#include <cstdio>
#include <ctime>
#include <string>

namespace platform {

namespace {

// The executable's own name, however it was started (the package's launcher is a link with
// another name), as the system log names a process.
const std::string& processName() {
    static const std::string name = [] {
        char path[4096];
        ssize_t length = ::readlink("/proc/self/exe", path, sizeof path - 1);
        if (length <= 0) return std::string(program_invocation_short_name);
        std::string executable(path, static_cast<std::size_t>(length));
        return executable.substr(executable.find_last_of('/') + 1);
    }();
    return name;
}

std::string logPrefix() {
    timeval now;
    ::gettimeofday(&now, nullptr);
    tm local;
    ::localtime_r(&now.tv_sec, &local);
    char stamp[64];
    std::size_t length = std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);
    std::snprintf(stamp + length, sizeof stamp - length, ".%03ld",
                  static_cast<long>(now.tv_usec / 1000));
    char ids[64];
    std::snprintf(ids, sizeof ids, "[%ld:%ld] ", static_cast<long>(::getpid()),
                  static_cast<long>(::syscall(SYS_gettid)));
    return std::string(stamp) + " " + processName() + ids;
}

// One locked write, so lines from several threads never interleave and a reopen of the
// stream by the log tick never lands inside a line.
void writeLine(FILE* stream, const std::string& line) {
    ::flockfile(stream);
    std::fwrite(line.data(), 1, line.size(), stream);
    std::fflush(stream);
    ::funlockfile(stream);
}

}  // namespace

void NSLog(const std::string& text) {
    std::string line = logPrefix() + text;
    if (line.empty() || line.back() != '\n') line += '\n';
    writeLine(stderr, line);
}

void print(const std::string& text) {
    writeLine(stdout, text + "\n");
}

std::string callStackSymbols() {
    void* frames[64];
    int count = ::backtrace(frames, 64);
    char** symbols = ::backtrace_symbols(frames, count);
    std::string text = "(\n";
    for (int i = 0; i < count; ++i) {
        text += "    ";
        text += symbols ? symbols[i] : "?";
        text += i + 1 < count ? ",\n" : "\n";
    }
    text += ")";
    std::free(symbols);
    return text;
}

}  // namespace platform
