#pragma once

#include <exception>
#include <string>
#include <string_view>
#include <type_traits>

#include "../platform/Format.h"
#include "../platform/Log.h"

// The one way the working classes write their lines and the one place they catch. Two kinds of
// line are the system's output, and each has its helper:
//   logLine   "-[Class operation]" / "+[Class operation]" lines, with their format's %s, %@
//             and %d values, through the system log (standard error, so the log file);
//   printLine "operation(_:)" lines of the window's classes and the page bridge, printed as
//             text to standard output (the same log file, without the system log's prefix).
// No other code calls platform::NSLog or platform::print for them.

template <typename... Args>
void logLine(std::string_view fmt, const Args&... args) {
    platform::NSLog(platform::format(fmt, args...));
}

inline void printLine(const std::string& text) {
    platform::print(text);
}

inline void logException(const char* function, const char* description) {
    logLine(
        "%s : ************************ EXCEPTION ************************ \n Description :  %@ "
        "// Call Stack Symbol : %@",
        function, description, platform::callStackSymbols());
}

// How an operation reports the exception that ended it. Most use the standard line; the few
// operations with a line of their own pass one of the others, or a function of their own
// that takes the operation's name and the exception's description.
struct StandardExceptionLine {
    void operator()(const char* function, const char* description) const {
        logException(function, description);
    }
};
struct ShortExceptionLine {
    void operator()(const char* function, const char* description) const {
        logLine("%s : Exception: %@", function, description);
    }
};
struct LeadingExceptionLine {
    void operator()(const char* function, const char* description) const {
        logLine("************ EXCEPTION ************ %s : %@ : %@", function, description,
                platform::callStackSymbols());
    }
};

// Runs `body`; if it throws, reports the exception under `function` and ends there. No
// exception leaves an operation of the working classes.
template <typename Body, typename Report = StandardExceptionLine>
requires std::is_void_v<std::invoke_result_t<Body>>
void guarded(const char* function, Body&& body, Report report = {}) noexcept {
    try {
        body();
    } catch (const std::exception& exception) {
        report(function, exception.what());
    } catch (...) {
        report(function, "unknown exception");
    }
}

// As above for an operation with a result: `fallback` (the absent result) when it throws.
template <typename Body, typename Report = StandardExceptionLine,
          typename Result = std::invoke_result_t<Body>>
requires(!std::is_void_v<Result>) Result
    guarded(const char* function, Body&& body, std::type_identity_t<Result> fallback = Result(),
            Report report = {})
noexcept {
    try {
        return body();
    } catch (const std::exception& exception) {
        report(function, exception.what());
    } catch (...) {
        report(function, "unknown exception");
    }
    return fallback;
}
