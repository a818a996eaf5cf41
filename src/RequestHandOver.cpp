#include "RequestHandOver.h"

#include <mutex>

#include "AppDelegate.h"
#include "Handlers/Logging.h"
#include "Handlers/Utils.h"
#include "Objects/SessionDetails.h"
#include "StartRequest.h"
#include "platform/Application.h"
#include "platform/DispatchQueue.h"
#include "platform/MainLoop.h"
#include "platform/Preferences.h"

bool RequestHandOver::takeOver(const platform::LaterStart& later, AppDelegate& delegate) {
    platform::assertMainThread("RequestHandOver::takeOver");
    StartRequest request = StartRequest::fromItems(later.request);
    bool presented = platform::Application::shared().presentMainWindow(later.activationToken);
    std::string token = later.activationToken.empty()
                            ? std::string("without an activation token")
                            : "with the activation token " + later.activationToken;
    if (!request.bringsRequest()) {
        logLine("%s : A later start asked for the window, %@; %@", "main", token,
                presented ? "brought forward" : "none to bring forward");
        return presented;
    }
    logLine("%s : A later start brought a support request %@, %@; %@", "main",
            request.description(), token,
            presented ? "it takes the place of this one's"
                      : "none taken: there is no window to show it in");
    if (!presented) return false;
    // The lookup may wait on the network: the window stays live meanwhile.
    platform::dispatchBackground([request, &delegate] { takeRequest(request, delegate); });
    return true;
}

void RequestHandOver::takeRequest(const StartRequest& request, AppDelegate& delegate) {
    // Requests handed over in quick succession are taken one after the other.
    static std::mutex oneAtATime;
    std::lock_guard lock(oneAtATime);
    StartRequest::setCurrent(request);
    platform::Preferences::standardUserDefaults().replaceArgumentDomain(request.arguments);
    // The earlier request's values would otherwise fill the gaps of the new one's.
    SessionDetails& session = SessionDetails::getInstance();
    session.setKelvaneToken(std::nullopt);
    session.setDcName(std::nullopt);
    session.setPlistDcName(std::nullopt);
    session.setWebServerName(std::nullopt);
    session.setPlistWebServerName(std::nullopt);
    session.setStaticWebServerName(std::nullopt);
    session.setPathForKelvane(std::nullopt);
    delegate.takeVolumeConfiguration();
    Utils::parseCommandLineArgs();
    platform::MainLoop::main().post([&delegate] {
        if (ViewController* controller = delegate.viewController())
            controller->showSupportRequest();
    });
}
