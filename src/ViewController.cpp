#include "ViewController.h"

#include <cstdlib>
#include <iterator>

#include "Handlers/ApiHandler.h"
#include "Handlers/Logging.h"
#include "Handlers/OrvoAppUpgrader.h"
#include "Handlers/ProvisioningProgress.h"
#include "Handlers/ProxySignIn.h"
#include "NavigationPolicy.h"
#include "Objects/SessionDetails.h"
#include "ScriptMessageNames.h"
#include "platform/Application.h"
#include "platform/Bundle.h"
#include "platform/FileManager.h"
#include "platform/MainLoop.h"
#include "platform/Preferences.h"
#include "platform/Url.h"
#include "platform/Workspace.h"

namespace {

std::string currentJoinPageURL() {
    SessionDetails& session = SessionDetails::getInstance();
    return joinPageURL(session.webServerName(), session.pathForKelvane(), session.kelvaneToken());
}

}  // namespace

const std::vector<std::string>& ViewController::scriptMessageNames() {
    static const std::vector<std::string> names(std::begin(kScriptMessageNames),
                                                std::end(kScriptMessageNames));
    return names;
}

void ViewController::viewDidLoad() {
    platform::assertMainThread("ViewController::viewDidLoad");
    m_window = platform::Application::shared().createWindow(kDefaultTitle, 1024, 768);
    restoreWindowTitle();
    // The names are registered before the first load, so a page posting during it is heard.
    m_webView = platform::WebView::create(*m_window, scriptMessageNames(), *this);
    m_window->show();
    ProvisioningProgress::shared().setDisplay(
        [this](const std::optional<platform::ProgressStrip>& strip) {
            m_window->setProgressStrip(strip);
        });
    m_window->setProgressStripDismissed([] { ProvisioningProgress::shared().dismissed(); });

    NetworkMonitor::shared().setNetworkMonitorDelegate(this);
    NativeMessageHandler::shared().setNativeMessageHandlerDelegate(this);
    ProxySignIn::shared().setWindow(
        [this](const platform::CredentialsQuestion& question, ProxySignIn::Answer answer) {
            m_window->askForCredentials(question, std::move(answer));
        },
        [this] { loadStaticPage(kProxySignInPage); }, [this] { loadJoinPageURl(); });
    showSupportRequest();
}

void ViewController::showSupportRequest() {
    platform::assertMainThread("ViewController::showSupportRequest");
    SessionDetails& session = SessionDetails::getInstance();
    NetworkMonitor::shared().startMonitoringReachability(session.webServerName().value_or(""));

    std::string url = currentJoinPageURL();
    if (!platform::Url::isValid(url)) {
        printLine(
            "viewDidLoad() : ################ Critical ################\n Invalid URL Given Formed "
            "During "
            "Network Init : " +
            url);
        // No data centre and so no server: there is no request to join. The customer reads
        // what to open instead of a blank window.
        printLine("viewDidLoad() : No support request to join: the window says what to open");
        loadStaticPage("NoRequestPage.html");
        return;
    }
    loadJoinPageURl();
    NetworkMonitor::shared().startMonitoringReachability(url);
}

void ViewController::restoreWindowTitle() {
    platform::Preferences& defaults = platform::Preferences::standardUserDefaults();
    auto stored = defaults.objectForKey("WindowTitle");
    if (stored && stored->string()) {
        m_window->setTitle(*stored->string());
        return;
    }
    m_window->setTitle(kDefaultTitle);
    defaults.setString("WindowTitle", kDefaultTitle);
    defaults.synchronizeInBackground();
}

void ViewController::loadJoinPageURl() {
    platform::assertMainThread("ViewController::loadJoinPageURl");
    std::string url = currentJoinPageURL();
    if (!platform::Url::isValid(url) || !m_webView) return;
    m_staticPage.clear();
    m_webView->loadRequest(url, kLoadTimeout, platform::CachePolicy::returnCacheDataElseLoad);
}

void ViewController::userContentController(const platform::ScriptMessage& message) {
    NativeMessageHandler::shared().handleMessageFromWebView(message);
}

void ViewController::didReceiveScriptMessage(const platform::ScriptMessage& message) {
    userContentController(message);
}

void ViewController::executeJavaScript(const std::string& script) {
    platform::assertMainThread("ViewController::executeJavaScript");
    if (!m_webView) return;
    m_webView->evaluateJavaScript(script, [](std::optional<std::string> error) {
        if (error) printLine("executeJavaScript(_:)Error sending message to webView: " + *error);
    });
}

void ViewController::updateWindowTitle(const std::string& title) {
    platform::assertMainThread("ViewController::updateWindowTitle");
    if (m_window) m_window->setTitle(title);
}

platform::NavigationPolicy ViewController::decidePolicyForNavigation(
    const platform::NavigationAction& action) {
    switch (decideNavigationPolicy(action, SessionDetails::getInstance().webServerName())) {
        case NavigationDecision::Allow:
            return platform::NavigationPolicy::Allow;
        case NavigationDecision::OpenAsDeepLink:
            handleDeepLink(*action.url);
            return platform::NavigationPolicy::Cancel;
        case NavigationDecision::DecideWhenTheFrameIsKnown:
            return platform::NavigationPolicy::DecideWhenTheFrameIsKnown;
        case NavigationDecision::Cancel:
            return platform::NavigationPolicy::Cancel;
        case NavigationDecision::AskForProxySignIn:
            ProxySignIn::shared().askAgain();
            return platform::NavigationPolicy::Cancel;
    }
    return platform::NavigationPolicy::Cancel;
}

void ViewController::didRequestNewWindow(const platform::NavigationAction& action) {
    // No second window: the content opens in place, through the navigation rules again.
    if (action.url && m_webView) m_webView->loadRequest(*action.url, kLoadTimeout);
}

void ViewController::handleDeepLink(const std::string& url) {
    printLine("handleDeepLink(_:) : Handling deep link: " + url);
    if (platform::Status opened = platform::Workspace::shared().openURL(url); !opened)
        printLine("handleDeepLink(_:) : The link could not be opened: " +
                  opened.errorDescription());
}

void ViewController::didFailProvisionalNavigation(const std::string& errorDescription) {
    handleWebViewError(errorDescription);
}

void ViewController::didFailNavigation(const std::string& errorDescription) {
    printLine("webView(_:didFail:withError:) : Page failed to load with error: " +
              errorDescription);
    handleWebViewError(errorDescription);
}

void ViewController::handleWebViewError(const std::string& /*errorDescription*/) {
    platform::assertMainThread("ViewController::handleWebViewError");
    SessionDetails& session = SessionDetails::getInstance();
    std::string address =
        joinPageURL(session.webServerName(), session.pathForKelvane(), std::nullopt);
    if (auto token = session.kelvaneToken()) {
        address = joinPageURL(session.webServerName(), session.pathForKelvane(), token);
        if (!platform::Url::isValid(address)) {
            printLine("handleWebViewError(_:) : Invalid URL Given For Running Network Monitor: " +
                      address);
            return;
        }
        if (m_webView) {
            m_webView->loadRequest(address, kLoadTimeout,
                                   platform::CachePolicy::returnCacheDataElseLoad);
        }
    }
    // Supersedes the request above at once: the customer sees the offline page.
    loadStaticNoInternetPage();
    NetworkMonitor::shared().startMonitoringReachability(address);
    printLine("URL NetTest : " + address);
}

void ViewController::loadStaticNoInternetPage() {
    platform::assertMainThread("ViewController::loadStaticNoInternetPage");
    // Not offline: the proxy wants a user name and password the customer did not give.
    if (ProxySignIn::shared().declined()) {
        loadStaticPage(kProxySignInPage);
        return;
    }
    loadStaticPage("NoInternetPage.html");
}

void ViewController::didReceiveProxyAuthentication(
    const std::string& proxy, bool refusedBefore,
    std::function<void(std::optional<platform::Credentials>)> answer) {
    std::size_t colon = proxy.rfind(':');
    int port = colon == std::string::npos ? 0 : std::atoi(proxy.c_str() + colon + 1);
    ProxySignIn::shared().answerWebView(proxy.substr(0, colon), port, refusedBefore,
                                        std::move(answer));
}

void ViewController::loadStaticPage(const std::string& name) {
    // Loaded again every 2 s while offline: found without reading the bundle's Info.plist.
    std::string bundle = platform::Bundle::mainBundlePath();
    std::string resources = bundle + "/Contents/Resources/";
    std::string page = platform::Bundle::pathForResource(name, bundle);
    if (!m_webView || !platform::FileManager::defaultManager().fileExistsAtPath(page)) return;
    // Said once for each change of page: the offline page is loaded again every 2 s. A page
    // in the customer's language is named with its folder ("de.lproj/NoInternetPage.html").
    if (m_staticPage != name) {
        printLine("loadStaticPage(_:) : The window shows " + page.substr(resources.size()));
    }
    m_staticPage = name;
    m_webView->loadFileURL(page);
}

void ViewController::didFailedToConnect() {
    platform::assertMainThread("ViewController::didFailedToConnect");
    loadStaticNoInternetPage();
}

void ViewController::didRestoreConnection() {
    platform::assertMainThread("ViewController::didRestoreConnection");
    OrvoAppUpgrader::getInstance().orvoAppVersionCheck();
    ApiHandler::getInstance().checkKelvaneUpdateWithCompletion([](bool received) {
        if (received)
            printLine("didRestoreConnection() : Updateing webview since the network is restored.");
    });
    loadJoinPageURl();
}
