#pragma once

#include <memory>
#include <string>

#include "Replaceable.h"

namespace platform {

class Window;

// Receives the application's launch and termination callbacks, all on the main thread.
class ApplicationDelegate {
  public:
    virtual ~ApplicationDelegate() = default;

    // The interface is loaded; nothing is shown yet.
    virtual void awakeFromNib() = 0;
    virtual void applicationWillFinishLaunching() = 0;
    // Creates the main window and its controller.
    virtual void loadMainWindow() = 0;
    virtual void applicationDidFinishLaunching() = 0;
    // The last window has closed; true ends the application.
    virtual bool applicationShouldTerminateAfterLastWindowClosed() = 0;
    virtual void applicationWillTerminate() = 0;
};

// The application object: runs the main loop and drives the delegate through launch in a
// fixed order (awake, will-finish, main window, did-finish).
class Application : public Replaceable<Application> {
  public:
    virtual ~Application() = default;

    static Application& shared();

    // Takes over the main thread until the application ends; returns the exit status.
    virtual int run(int argc, char** argv, ApplicationDelegate& delegate) = 0;
    // Brings the main window to the front, with the desktop's activation token when a later
    // start handed one over (a compositor raises a window only for a fresh token); false when
    // there is none (it closed, the process is ending).
    virtual bool presentMainWindow(const std::string& activationToken) = 0;
    // Ends the process after telling the delegate; does not return.
    [[noreturn]] virtual void terminate() = 0;

    virtual std::unique_ptr<Window> createWindow(const std::string& title, int width,
                                                 int height) = 0;
};

}  // namespace platform
