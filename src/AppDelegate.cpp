#include "AppDelegate.h"

#include "Handlers/ApiHandler.h"
#include "Handlers/Logging.h"
#include "Handlers/OrvoAppUpgrader.h"
#include "Handlers/ProxyDecision.h"
#include "Handlers/ProxySignIn.h"
#include "Handlers/Utils.h"
#include "Objects/SessionDetails.h"
#include "platform/DispatchQueue.h"
#include "platform/FileManager.h"
#include "platform/Http.h"
#include "platform/NotificationCenter.h"
#include "platform/Preferences.h"
#include "platform/WebEngineEnvironment.h"
#include "platform/WebView.h"

AppDelegate::AppDelegate() : m_logHandler(std::make_unique<LogHandler>()) {}

AppDelegate::~AppDelegate() {
    removeObservers();
}

void AppDelegate::awakeFromNib() {
    initializeKelvane();
}

void AppDelegate::initializeKelvane() {
    Utils::createKelvaneDirectoriesWithLogHandler(*m_logHandler);
    // Before the first request of our own: each follows the desktop's proxy, as the web view does.
    ProxyDecision::install();
    ProxySignIn::install();
    logWebEngineEnvironment();
    // The web engine's processes start now, with their output going to the log, and boot
    // while the configuration is read and the custom domain looked up; the window's web view
    // uses them once it exists.
    platform::WebView::prepare(ViewController::scriptMessageNames());

    takeVolumeConfiguration();
    Utils::parseCommandLineArgs();
    SessionDetails::getInstance().setDefaultOrvoDirectoryManager(
        &platform::FileManager::defaultManager());
}

void AppDelegate::takeVolumeConfiguration() {
    std::vector<std::string> volumePaths = getKelvaneVolumePath();
    if (volumePaths.empty()) return;
    if (platform::FileManager::defaultManager().fileExistsAtPath(volumePaths[0])) {
        copyKelvaneConfiguration(volumePaths[0], volumePaths[1]);
    } else {
        printLine("awakeFromNib()Configuration file does not exist at path: " + volumePaths[0]);
    }
}

// Support reads here how the web engine runs on this customer's system: which display, which
// renderer, and whether its sandbox could start.
void AppDelegate::logWebEngineEnvironment() {
    static constexpr const char* kFunction = "-[AppDelegate logWebEngineEnvironment]";
    const platform::WebEngineEnvironment::Choices& engine =
        platform::WebEngineEnvironment::choose();
    logLine("%s : The window uses the %@", kFunction,
            platform::WebEngineEnvironment::displayDescription());
    logLine("%s : The web engine renders %@", kFunction, engine.rendering);
    if (engine.unsandboxedBecause) {
        logLine("%s : The join page runs without the web engine's sandbox: %@", kFunction,
                engine.unsandboxedBecause);
    }
}

void AppDelegate::applicationWillFinishLaunching() {
    Utils::findCurrentAppPath();
    Utils::getOrvoKelvaneAppVersion();
    addObserver();
}

void AppDelegate::addObserver() {
    platform::NotificationCenter::defaultCenter().addObserver(this, kTerminateNotification,
                                                              [this] { terminateApp(); });
}

void AppDelegate::removeObservers() {
    platform::NotificationCenter::defaultCenter().removeObserver(this);
}

void AppDelegate::loadMainWindow() {
    m_viewController = std::make_unique<ViewController>();
    m_viewController->viewDidLoad();
}

void AppDelegate::applicationDidFinishLaunching() {
    platform::dispatchBackground([] {
        OrvoAppUpgrader::getInstance().orvoAppVersionCheck();
        platform::Preferences& defaults = platform::Preferences::standardUserDefaults();
        defaults.setBool("WebKitOfflineWebApplicationCacheEnabled", true);
        defaults.synchronize();
        ApiHandler::getInstance().checkKelvaneUpdateWithCompletion([](bool received) {
            if (received)
                printLine("applicationDidFinishLaunching(_:) Update Available for Kelvane");
        });
    });
}

bool AppDelegate::applicationShouldTerminateAfterLastWindowClosed() {
    // Delivery is synchronous: the exit sequence runs inside this post.
    platform::NotificationCenter::defaultCenter().post(kTerminateNotification);
    return true;
}

void AppDelegate::terminateApp() {
    removeObservers();
    Utils::updateKelvaneIfNeeded();
    platform::Application::shared().terminate();
}

void AppDelegate::applicationWillTerminate() {
    // The process ends without waiting for downloads under way; their files go with it.
    platform::HttpClient::shared().removeUnfinishedDownloads();
}
