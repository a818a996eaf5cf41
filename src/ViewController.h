#pragma once

#include <memory>

#include "platform/Window.h"

// Owns the main window.
class ViewController {
public:
    static constexpr const char* kDefaultTitle = "Orvo Tendra - Kelvane";

    void viewDidLoad();
    platform::Window* window() const { return m_window.get(); }

private:
    std::unique_ptr<platform::Window> m_window;
};
