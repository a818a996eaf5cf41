#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "CachePolicy.h"
#include "Credentials.h"
#include "MainLoop.h"

namespace platform {

class Window;

// How a navigation started, with the values macOS's web view reports.
enum class NavigationType {
    LinkActivated = 0,
    FormSubmitted = 1,
    BackForward = 2,
    Reload = 3,
    FormResubmitted = 4,
    Other = -1,
};

struct NavigationAction {
    NavigationType type = NavigationType::Other;
    std::optional<std::string> url;  // absent when the request has none
    // Whether the navigation is the main frame's; absent while the web view cannot tell yet.
    // Such a view asks again, with the frame known, when the response arrives.
    std::optional<bool> fromMainFrame;
};

// The answer to a navigation.
enum class NavigationPolicy {
    Allow,
    Cancel,
    // Let the request go and ask again when its frame is known; only for actions whose frame
    // was not known.
    DecideWhenTheFrameIsKnown,
};

// The JavaScript type of a posted message body, kept because replies depend on it.
enum class ScriptValueType { String, Number, Boolean, Null, Undefined, Object, Array };

struct ScriptValue {
    ScriptValueType type = ScriptValueType::Undefined;
    std::string text;  // the string itself, or JSON for objects and arrays
    double number = 0;
    bool boolean = false;

    bool isString() const { return type == ScriptValueType::String; }
};

struct ScriptMessage {
    std::string name;
    ScriptValue body;
};

// Receives the web view's questions and reports, on the main thread.
class WebViewDelegate {
  public:
    virtual ~WebViewDelegate() = default;

    virtual NavigationPolicy decidePolicyForNavigation(const NavigationAction& action) = 0;
    // The page asked for a new window and the navigation rules let it: nothing is created.
    virtual void didRequestNewWindow(const NavigationAction& action) = 0;
    virtual void didReceiveScriptMessage(const ScriptMessage& message) = 0;
    // A load failed before the page arrived, or after it had started to arrive. Loads that
    // this application superseded or cancelled itself are not reported.
    virtual void didFailProvisionalNavigation(const std::string& errorDescription) = 0;
    virtual void didFailNavigation(const std::string& errorDescription) = 0;
    virtual void didFinishNavigation() {}
    // The proxy of a load asks for a user name and password (`proxy`: host:port;
    // `refusedBefore`: it did not accept the last ones). `answer` runs once, on the main
    // thread; nothing cancels that load. The load's time-out waits meanwhile.
    virtual void didReceiveProxyAuthentication(
        const std::string& proxy, bool refusedBefore,
        std::function<void(std::optional<Credentials>)> answer) {
        (void)proxy;
        (void)refusedBefore;
        answer(std::nullopt);
    }
};

// The page's view. Every method runs on the main thread only, which each checks here once
// (the backend's destructor checks its own); backends implement the protected ones.
class WebView {
  public:
    virtual ~WebView() = default;

    // A web view filling the window, with the message names registered before any page loads,
    // a persistent store for cookies and page storage under the user's home, and every server
    // certificate accepted. A page that cannot be shown (a type the view does not display) is
    // reported as a failed navigation instead of being saved.
    static std::unique_ptr<WebView> create(Window& window,
                                           const std::vector<std::string>& messageNames,
                                           WebViewDelegate& delegate);
    // Starts the web engine's processes ahead of the first web view, so that they start while
    // the application does other work. Nothing is shown and nothing is asked of any server;
    // the first create() with the same message names uses them.
    static void prepare(const std::vector<std::string>& messageNames);

    // Loads the URL; a load that has not started to arrive after `timeoutSeconds` fails.
    void loadRequest(const std::string& url, double timeoutSeconds,
                     CachePolicy cachePolicy = CachePolicy::useProtocolCachePolicy) {
        assertMainThread("WebView::loadRequest");
        loadRequestImpl(url, timeoutSeconds, cachePolicy);
    }
    // Loads a local file, which may read the files beside it.
    void loadFileURL(const std::string& filePath) {
        assertMainThread("WebView::loadFileURL");
        loadFileURLImpl(filePath);
    }
    // Runs the script in the page; `completion` gets the error's description, if any.
    void evaluateJavaScript(const std::string& script,
                            std::function<void(std::optional<std::string>)> completion) {
        assertMainThread("WebView::evaluateJavaScript");
        evaluateJavaScriptImpl(script, std::move(completion));
    }
    std::string currentURL() const {
        assertMainThread("WebView::currentURL");
        return currentURLImpl();
    }

  protected:
    virtual void loadRequestImpl(const std::string& url, double timeoutSeconds,
                                 CachePolicy cachePolicy) = 0;
    virtual void loadFileURLImpl(const std::string& filePath) = 0;
    virtual void evaluateJavaScriptImpl(
        const std::string& script, std::function<void(std::optional<std::string>)> completion) = 0;
    virtual std::string currentURLImpl() const = 0;
};

}  // namespace platform
