#pragma once

#include <functional>
#include <optional>
#include <string>

#include "Credentials.h"
#include "MainLoop.h"

namespace platform {

// A slim strip along the window's bottom edge saying what the application is doing.
struct ProgressStrip {
    std::string text;
    std::optional<double> fraction;  // 0 to 1; absent: an indeterminate bar
    bool failed = false;             // a failure message, without a bar, that the customer
                                     // may dismiss
};

// What the window asks when a proxy wants a user name and password.
struct CredentialsQuestion {
    std::string proxy;           // host:port, as the desktop's settings name it
    bool refusedBefore = false;  // the proxy did not accept the last answer
};

// A top-level window of the application. Its methods run on the main thread only, which
// each checks here once; backends implement the protected ones.
class Window {
  public:
    virtual ~Window() = default;

    void setTitle(const std::string& title) {
        assertMainThread("Window::setTitle");
        setTitleImpl(title);
    }
    std::string title() const {
        assertMainThread("Window::title");
        return titleImpl();
    }
    void show() {
        assertMainThread("Window::show");
        showImpl();
    }
    void close() {
        assertMainThread("Window::close");
        closeImpl();
    }
    // Shows, updates or (with nothing) hides the progress strip.
    void setProgressStrip(const std::optional<ProgressStrip>& strip) {
        assertMainThread("Window::setProgressStrip");
        setProgressStripImpl(strip);
    }

    // Runs when the customer dismisses a failure message, which the window has then hidden.
    void setProgressStripDismissed(std::function<void()> dismissed) {
        assertMainThread("Window::setProgressStripDismissed");
        setProgressStripDismissedImpl(std::move(dismissed));
    }

    // Asks in a prompt over the page. `answer` runs once, on the main thread, with nothing when
    // the customer cancelled or the window went. One question at a time: a new one takes the
    // place of one still shown, which is answered with nothing.
    void askForCredentials(const CredentialsQuestion& question,
                           std::function<void(std::optional<Credentials>)> answer) {
        assertMainThread("Window::askForCredentials");
        askForCredentialsImpl(question, std::move(answer));
    }

  protected:
    virtual void askForCredentialsImpl(const CredentialsQuestion& question,
                                       std::function<void(std::optional<Credentials>)> answer) = 0;
    virtual void setTitleImpl(const std::string& title) = 0;
    virtual std::string titleImpl() const = 0;
    virtual void showImpl() = 0;
    virtual void closeImpl() = 0;
    virtual void setProgressStripImpl(const std::optional<ProgressStrip>& strip) = 0;
    virtual void setProgressStripDismissedImpl(std::function<void()> dismissed) = 0;
};

}  // namespace platform
