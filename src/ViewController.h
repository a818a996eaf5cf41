#pragma once

#include <memory>
#include <string>

#include "Handlers/NativeMessageHandler.h"
#include "Handlers/NetworkMonitor.h"
#include "Product.h"
#include "platform/WebView.h"
#include "platform/Window.h"

// Controls the one window: the web view with the join page (or the offline page), the
// navigation rules, and the bridge's and the network monitor's view of the page. Main thread.
class ViewController final : public platform::WebViewDelegate,
                             public NativeMessageHandlerDelegate,
                             public NetworkMonitorDelegate {
  public:
    static constexpr const char* kDefaultTitle = Product::kDisplayName;
    static constexpr double kLoadTimeout = 10;
    static constexpr const char* kProxySignInPage = "ProxySignInPage.html";

    // The eighteen message names the join page may post, in registration order.
    static const std::vector<std::string>& scriptMessageNames();

    void viewDidLoad();
    // The join page of the session's support request, or the page that says there is none;
    // again whenever a later start's request takes the place of this one's.
    void showSupportRequest();
    void loadJoinPageURl();
    void userContentController(const platform::ScriptMessage& message);

    // NativeMessageHandlerDelegate
    void executeJavaScript(const std::string& script) override;
    void updateWindowTitle(const std::string& title) override;
    // NetworkMonitorDelegate
    void didRestoreConnection() override;
    void didFailedToConnect() override;

    // WebViewDelegate
    platform::NavigationPolicy decidePolicyForNavigation(
        const platform::NavigationAction& action) override;
    void didRequestNewWindow(const platform::NavigationAction& action) override;
    void didReceiveScriptMessage(const platform::ScriptMessage& message) override;
    void didFailProvisionalNavigation(const std::string& errorDescription) override;
    void didFailNavigation(const std::string& errorDescription) override;
    void didReceiveProxyAuthentication(
        const std::string& proxy, bool refusedBefore,
        std::function<void(std::optional<platform::Credentials>)> answer) override;

    platform::Window* window() const { return m_window.get(); }
    platform::WebView* webView() const { return m_webView.get(); }

  private:
    void handleDeepLink(const std::string& url);
    void handleWebViewError(const std::string& errorDescription);
    void loadStaticNoInternetPage();
    // One of the bundle's own pages, from Contents/Resources.
    void loadStaticPage(const std::string& name);
    void restoreWindowTitle();

    std::unique_ptr<platform::Window> m_window;
    std::unique_ptr<platform::WebView> m_webView;
    std::string m_staticPage;  // the bundle's page shown last, until the join page loads again
};
