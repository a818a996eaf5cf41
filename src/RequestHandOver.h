#pragma once

#include "platform/SingleInstance.h"

class AppDelegate;

// The copy that runs, when a later start hands over what it brings: the window comes
// forward, and a support request takes the place of this one's as a start would take it
// (volume configuration, info plist, parameters, custom-domain lookup), then its join page
// shows. Main thread; the request's work runs on a background thread, one request at a time.
class RequestHandOver {
  public:
    // Whether the window was brought forward; false leaves the later start waiting to run
    // on its own.
    static bool takeOver(const platform::LaterStart& later, AppDelegate& delegate);

    RequestHandOver() = delete;

  private:
    static void takeRequest(const class StartRequest& request, AppDelegate& delegate);
};
