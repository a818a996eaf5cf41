#pragma once

#include <optional>
#include <string>

namespace platform {

// A slim strip along the window's bottom edge saying what the application is doing.
struct ProgressStrip {
    std::string text;
    std::optional<double> fraction;  // 0 to 1; absent: an indeterminate bar
    bool failed = false;             // a short failure message, without a bar
};

// A top-level window of the application.
class Window {
  public:
    virtual ~Window() = default;

    virtual void setTitle(const std::string& title) = 0;
    virtual std::string title() const = 0;
    virtual void show() = 0;
    virtual void close() = 0;
    // Shows, updates or (with nothing) hides the progress strip. Main thread.
    virtual void setProgressStrip(const std::optional<ProgressStrip>& strip) = 0;
};

}  // namespace platform
