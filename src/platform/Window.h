#pragma once

#include <string>

namespace platform {

// A top-level window of the application.
class Window {
  public:
    virtual ~Window() = default;

    virtual void setTitle(const std::string& title) = 0;
    virtual std::string title() const = 0;
    virtual void show() = 0;
    virtual void close() = 0;
};

}  // namespace platform
