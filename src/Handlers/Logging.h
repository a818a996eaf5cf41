#pragma once

#include <exception>
#include <string_view>
#include <type_traits>

#include "../platform/Format.h"
#include "../platform/Log.h"

// Helpers shared by the working classes: their log lines go through the system log with the
// operation's full name first, and no exception ever leaves one of their operations.

template <typename... Args>
void logLine(std::string_view fmt, const Args&... args) {
    platform::NSLog(platform::format(fmt, args...));
}

inline void logException(const char* function, const char* description) {
    logLine(
        "%s : ************************ EXCEPTION ************************ \n Description :  %@ "
        "// Call Stack Symbol : %@",
        function, description, platform::callStackSymbols());
}

// Runs `body`; if it throws, logs the exception line under `function` and ends there.
template <typename Body>
requires std::is_void_v<std::invoke_result_t<Body>>
void guarded(const char* function, Body&& body) noexcept {
    try {
        body();
    } catch (const std::exception& exception) {
        logException(function, exception.what());
    } catch (...) {
        logException(function, "unknown exception");
    }
}

// As above for an operation with a result: `fallback` (the absent result) when it throws.
template <typename Body, typename Result = std::invoke_result_t<Body>>
requires(!std::is_void_v<Result>) Result
    guarded(const char* function, Body&& body, Result fallback = Result())
noexcept {
    try {
        return body();
    } catch (const std::exception& exception) {
        logException(function, exception.what());
    } catch (...) {
        logException(function, "unknown exception");
    }
    return fallback;
}
