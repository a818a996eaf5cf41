#include <webkit/webkit.h>

#include <algorithm>
#include <memory>

#include "../../Log.h"
#include "../../MainLoop.h"
#include "../../ProductIdentity.h"
#include "../../SearchPaths.h"
#include "../../WebEngineEnvironment.h"
#include "../../WebView.h"
#include "../support/GLibPtr.h"
#include "WindowGtk.h"

namespace platform {

namespace {

NavigationType navigationType(WebKitNavigationType type) {
    switch (type) {
        case WEBKIT_NAVIGATION_TYPE_LINK_CLICKED:
            return NavigationType::LinkActivated;
        case WEBKIT_NAVIGATION_TYPE_FORM_SUBMITTED:
            return NavigationType::FormSubmitted;
        case WEBKIT_NAVIGATION_TYPE_BACK_FORWARD:
            return NavigationType::BackForward;
        case WEBKIT_NAVIGATION_TYPE_RELOAD:
            return NavigationType::Reload;
        case WEBKIT_NAVIGATION_TYPE_FORM_RESUBMITTED:
            return NavigationType::FormResubmitted;
        default:
            return NavigationType::Other;
    }
}

NavigationAction convert(WebKitNavigationAction* action) {
    NavigationAction converted;
    converted.type = navigationType(webkit_navigation_action_get_navigation_type(action));
    if (WebKitURIRequest* request = webkit_navigation_action_get_request(action)) {
        if (const char* uri = webkit_uri_request_get_uri(request); uri && *uri) converted.url = uri;
    }
    // WebKitGTK does not say at this stage which frame a navigation comes from; the response
    // stage does (see onDecidePolicy).
    converted.fromMainFrame = std::nullopt;
    return converted;
}

ScriptValue convert(JSCValue* value) {
    ScriptValue converted;
    if (jsc_value_is_string(value)) {
        converted.type = ScriptValueType::String;
        g_autofree char* text = jsc_value_to_string(value);
        converted.text = text ? text : "";
    } else if (jsc_value_is_number(value)) {
        converted.type = ScriptValueType::Number;
        converted.number = jsc_value_to_double(value);
    } else if (jsc_value_is_boolean(value)) {
        converted.type = ScriptValueType::Boolean;
        converted.boolean = jsc_value_to_boolean(value);
    } else if (jsc_value_is_null(value)) {
        converted.type = ScriptValueType::Null;
    } else if (jsc_value_is_undefined(value)) {
        converted.type = ScriptValueType::Undefined;
    } else {
        converted.type =
            jsc_value_is_array(value) ? ScriptValueType::Array : ScriptValueType::Object;
        // A value JSON cannot hold (a cycle, say) arrives as an object without text.
        g_autofree char* json = jsc_value_to_json(value, 0);
        converted.text = json ? json : "";
    }
    return converted;
}

// The address as asked for and as the engine reports it, which may add the root's slash.
bool sameAddress(const std::string& reported, const std::string& asked) {
    return !asked.empty() && (reported == asked || reported == asked + "/");
}

class GtkWebViewBackend;

// One page message's way to the delegate; owned by its signal connection.
struct MessageRoute {
    GtkWebViewBackend* view;
    std::string name;
};

// The service's own links are opened by the desktop, never shown; a load of one that a frame's
// script starts is answered with nothing, so that it reaches the response stage, where its
// frame is known and the navigation rules decide it again.
void answerWithNothing(WebKitURISchemeRequest* request, gpointer) {
    g_autoptr(GInputStream) nothing = g_memory_input_stream_new();
    webkit_uri_scheme_request_finish(request, nothing, 0, "text/plain");
}

void registerDeepLinkScheme() {
    static bool registered = false;  // main thread only
    const std::string& scheme = productIdentity().deepLinkScheme;
    if (registered || scheme.empty()) return;
    registered = true;
    WebKitWebContext* context = webkit_web_context_get_default();
    webkit_web_context_register_uri_scheme(context, scheme.c_str(), &answerWithNothing, nullptr,
                                           nullptr);
    // Loaded from the service's https pages: not mixed content.
    webkit_security_manager_register_uri_scheme_as_secure(
        webkit_web_context_get_security_manager(context), scheme.c_str());
}

glib::ObjectPtr<WebKitNetworkSession> makeSession() {
    registerDeepLinkScheme();
    std::string library = SearchPaths::shared().userLibraryDirectory();
    const std::string& store = productIdentity().applicationId;
    auto session = glib::ObjectPtr<WebKitNetworkSession>::adopt(
        webkit_network_session_new((library + "/WebKit/" + store + "/WebsiteData").c_str(),
                                   (library + "/Caches/" + store + "/WebKit").c_str()));
    // The service's servers are accepted whatever certificate they present.
    webkit_network_session_set_tls_errors_policy(session.get(), WEBKIT_TLS_ERRORS_POLICY_IGNORE);
    // Lasting cookies are kept beside the page storage, so they survive a restart.
    std::string cookies = library + "/WebKit/" + store + "/WebsiteData/cookies.sqlite";
    webkit_cookie_manager_set_persistent_storage(
        webkit_network_session_get_cookie_manager(session.get()), cookies.c_str(),
        WEBKIT_COOKIE_PERSISTENT_STORAGE_SQLITE);
    return session;
}

// The page's messages are registered before any page loads.
glib::ObjectPtr<WebKitUserContentManager> makeContentManager(
    const std::vector<std::string>& messageNames) {
    auto manager =
        glib::ObjectPtr<WebKitUserContentManager>::adopt(webkit_user_content_manager_new());
    for (const std::string& name : messageNames) {
        webkit_user_content_manager_register_script_message_handler(manager.get(), name.c_str(),
                                                                    nullptr);
    }
    return manager;
}

// The engine started ahead of the first web view: its session, its messages and a view
// holding an empty document, whose web process the first real view shares.
struct PreparedEngine {
    std::vector<std::string> messageNames;
    glib::ObjectPtr<WebKitNetworkSession> session;
    glib::ObjectPtr<WebKitUserContentManager> contentManager;
    glib::ObjectPtr<WebKitWebView> blankView;
};

std::optional<PreparedEngine>& preparedEngine() {
    static std::optional<PreparedEngine> engine;  // main thread only
    return engine;
}

class GtkWebViewBackend final : public WebView {
  public:
    GtkWebViewBackend(GtkWindowBackend& window, const std::vector<std::string>& messageNames,
                      WebViewDelegate& delegate)
        : m_delegate(delegate) {
        std::optional<PreparedEngine>& prepared = preparedEngine();
        bool warm = prepared && prepared->messageNames == messageNames;
        if (warm) {
            m_session = std::move(prepared->session);
            m_contentManager = std::move(prepared->contentManager);
            m_warmView = std::move(prepared->blankView);
        } else {
            m_session = makeSession();
            m_contentManager = makeContentManager(messageNames);
        }
        prepared.reset();

        for (const std::string& name : messageNames) {
            std::string signal = "script-message-received::" + name;
            m_signals.push_back(glib::connectSignal(
                m_contentManager.get(), signal.c_str(),
                +[](WebKitUserContentManager*, JSCValue* value, gpointer data) {
                    auto* target = static_cast<MessageRoute*>(data);
                    target->view->m_delegate.didReceiveScriptMessage(
                        ScriptMessage{target->name, convert(value)});
                },
                std::make_unique<MessageRoute>(MessageRoute{this, name})));
            m_messageNames.push_back(name);
        }

        // A view related to the warm one shares its web process, already started, and its
        // session; the messages are named, as a related view does not take them over.
        GtkWidget* view =
            m_warmView
                ? GTK_WIDGET(g_object_new(WEBKIT_TYPE_WEB_VIEW, "related-view", m_warmView.get(),
                                          "user-content-manager", m_contentManager.get(), nullptr))
                : GTK_WIDGET(g_object_new(WEBKIT_TYPE_WEB_VIEW, "network-session", m_session.get(),
                                          "user-content-manager", m_contentManager.get(), nullptr));
        m_view = glib::ObjectPtr<WebKitWebView>::adopt(WEBKIT_WEB_VIEW(g_object_ref_sink(view)));
        // A window a script opens without a click loads in place too, under the same rules.
        webkit_settings_set_javascript_can_open_windows_automatically(
            webkit_web_view_get_settings(m_view.get()), TRUE);
        window.setContent(view);

        m_signals.push_back(
            glib::connectSignal(m_view.get(), "decide-policy", &onDecidePolicy, this));
        m_signals.push_back(glib::connectSignal(m_view.get(), "create", &onCreate, this));
        m_signals.push_back(glib::connectSignal(m_view.get(), "load-failed", &onLoadFailed, this));
        m_signals.push_back(
            glib::connectSignal(m_view.get(), "load-changed", &onLoadChanged, this));
        m_signals.push_back(
            glib::connectSignal(m_view.get(), "authenticate", &onAuthenticate, this));
    }

    // Nothing of the engine calls back into this object once it is gone: handlers are
    // disconnected (which frees the routes), the page's messages unregistered, scripts still
    // running cancelled and the load time-out removed.
    ~GtkWebViewBackend() override {
        assertMainThread("WebView::~WebView");
        m_signals.clear();
        for (const std::string& name : m_messageNames) {
            webkit_user_content_manager_unregister_script_message_handler(m_contentManager.get(),
                                                                          name.c_str(), nullptr);
        }
        g_cancellable_cancel(m_scripts.get());
        cancelTimeout();
        webkit_web_view_stop_loading(m_view.get());
    }

  private:
    void loadRequestImpl(const std::string& url, double timeoutSeconds,
                         CachePolicy cachePolicy) override {
        startTimeout(timeoutSeconds);
        m_timedURL = url;
        m_applicationLoad = url;
        auto request =
            glib::ObjectPtr<WebKitURIRequest>::adopt(webkit_uri_request_new(url.c_str()));
        SoupMessageHeaders* headers = webkit_uri_request_get_http_headers(request.get());
        if (cachePolicy == CachePolicy::returnCacheDataElseLoad && headers) {
            // The engine's disk cache then answers with what it kept for the address, however
            // old, without the network; it asks the server only when it kept nothing.
            soup_message_headers_append(headers, "Cache-Control", "max-stale");
        }
        webkit_web_view_load_request(m_view.get(), request.get());
    }

    void loadFileURLImpl(const std::string& filePath) override {
        cancelTimeout();
        GError* error = nullptr;
        g_autofree char* uri = g_filename_to_uri(filePath.c_str(), nullptr, &error);
        if (!uri) {
            // Not handed to the delegate: its failure path loads a local file again.
            NSLog("WebView: cannot load " + filePath + ": " +
                  glib::statusFromError(error).errorDescription());
            return;
        }
        webkit_web_view_load_uri(m_view.get(), uri);
    }

    void evaluateJavaScriptImpl(
        const std::string& script,
        std::function<void(std::optional<std::string>)> completion) override {
        auto* pending = new std::function<void(std::optional<std::string>)>(std::move(completion));
        webkit_web_view_evaluate_javascript(
            m_view.get(), script.c_str(), static_cast<gssize>(script.size()), nullptr, nullptr,
            m_scripts.get(),
            +[](GObject* source, GAsyncResult* result, gpointer data) {
                std::unique_ptr<std::function<void(std::optional<std::string>)>> done(
                    static_cast<std::function<void(std::optional<std::string>)>*>(data));
                g_autoptr(GError) error = nullptr;
                // Only whether it ran counts; the result is dropped at once.
                g_autoptr(JSCValue) value = webkit_web_view_evaluate_javascript_finish(
                    WEBKIT_WEB_VIEW(source), result, &error);
                // Cancelled with the view: whoever asked may be gone too.
                if (g_error_matches(error, G_IO_ERROR, G_IO_ERROR_CANCELLED)) return;
                Status status = glib::statusFromError(g_steal_pointer(&error));
                (*done)(status ? std::nullopt
                               : std::optional<std::string>(status.errorDescription()));
            },
            pending);
    }

    std::string currentURLImpl() const override {
        const char* uri = webkit_web_view_get_uri(m_view.get());
        return uri ? uri : "";
    }

  private:
    static gboolean onDecidePolicy(WebKitWebView*, WebKitPolicyDecision* decision,
                                   WebKitPolicyDecisionType type, gpointer data) {
        auto* self = static_cast<GtkWebViewBackend*>(data);
        if (type == WEBKIT_POLICY_DECISION_TYPE_RESPONSE) {
            return self->decideResponse(WEBKIT_RESPONSE_POLICY_DECISION(decision));
        }
        WebKitNavigationAction* action = webkit_navigation_policy_decision_get_navigation_action(
            WEBKIT_NAVIGATION_POLICY_DECISION(decision));
        NavigationAction converted = convert(action);
        // What this application loads itself is the main frame's load.
        if (type == WEBKIT_POLICY_DECISION_TYPE_NAVIGATION_ACTION &&
            converted.type == NavigationType::Other && converted.url &&
            sameAddress(*converted.url, self->m_applicationLoad)) {
            converted.fromMainFrame = true;
            self->m_applicationLoad.clear();
        }
        // A new-window request is decided like any other navigation first; "create" then loads
        // an allowed one in place, where it is decided again as the main frame's own load.
        NavigationPolicy policy = self->m_delegate.decidePolicyForNavigation(converted);
        if (type == WEBKIT_POLICY_DECISION_TYPE_NEW_WINDOW_ACTION &&
            policy == NavigationPolicy::DecideWhenTheFrameIsKnown) {
            policy = NavigationPolicy::Allow;
        }
        if (policy == NavigationPolicy::Cancel) {
            webkit_policy_decision_ignore(decision);
            if (converted.url) self->cancelled(*converted.url);
            return TRUE;
        }
        if (policy == NavigationPolicy::DecideWhenTheFrameIsKnown && converted.url)
            self->remember(*converted.url);
        webkit_policy_decision_use(decision);
        return TRUE;
    }

    // The response stage knows whether a load is the main frame's own document.
    gboolean decideResponse(WebKitResponsePolicyDecision* decision) {
        bool mainFrame = webkit_response_policy_decision_is_main_frame_main_resource(decision);
        WebKitURIRequest* request = webkit_response_policy_decision_get_request(decision);
        const char* uri = request ? webkit_uri_request_get_uri(request) : nullptr;
        if (uri && forget(uri)) {
            NavigationAction action{NavigationType::Other, std::string(uri), mainFrame};
            if (m_delegate.decidePolicyForNavigation(action) != NavigationPolicy::Allow) {
                webkit_policy_decision_ignore(WEBKIT_POLICY_DECISION(decision));
                cancelled(uri);
                return TRUE;
            }
        }
        if (mainFrame && !webkit_response_policy_decision_is_mime_type_supported(decision)) {
            // Never saved as a download: the page failed, and the failure path shows the
            // offline page. Ignoring it reports an interruption, which onLoadFailed skips.
            webkit_policy_decision_ignore(WEBKIT_POLICY_DECISION(decision));
            cancelTimeout();
            m_delegate.didFailProvisionalNavigation("Frame load interrupted");
            return TRUE;
        }
        webkit_policy_decision_use(WEBKIT_POLICY_DECISION(decision));
        return TRUE;
    }

    // Loads let go until their frame is known; a few at a time, the oldest dropped.
    void remember(const std::string& url) {
        if (m_undecided.size() >= 64) m_undecided.erase(m_undecided.begin());
        m_undecided.push_back(url);
    }
    bool forget(const std::string& url) {
        auto it = std::find(m_undecided.begin(), m_undecided.end(), url);
        if (it == m_undecided.end()) return false;
        m_undecided.erase(it);
        return true;
    }
    // A cancelled navigation leaves the page as it was: a time-out started for it must not
    // report it as failed later.
    void cancelled(const std::string& url) {
        if (m_timeoutSource && url == m_timedURL) cancelTimeout();
    }

    static GtkWidget* onCreate(WebKitWebView*, WebKitNavigationAction* action, gpointer data) {
        static_cast<GtkWebViewBackend*>(data)->m_delegate.didRequestNewWindow(convert(action));
        return nullptr;
    }

    static gboolean onLoadFailed(WebKitWebView*, WebKitLoadEvent event, char*, GError* error,
                                 gpointer data) {
        auto* self = static_cast<GtkWebViewBackend*>(data);
        self->cancelTimeout();
        // A load this application replaced, or one its navigation rules cancelled, is not a
        // failure of the page.
        if (g_error_matches(error, WEBKIT_NETWORK_ERROR, WEBKIT_NETWORK_ERROR_CANCELLED) ||
            g_error_matches(error, WEBKIT_POLICY_ERROR,
                            WEBKIT_POLICY_ERROR_FRAME_LOAD_INTERRUPTED_BY_POLICY_CHANGE)) {
            return TRUE;
        }
        std::string description = error && error->message ? error->message : "unknown error";
        if (event == WEBKIT_LOAD_STARTED || event == WEBKIT_LOAD_REDIRECTED) {
            self->m_delegate.didFailProvisionalNavigation(description);
        } else {
            self->m_delegate.didFailNavigation(description);
        }
        return TRUE;  // no built-in error page: the delegate shows its own
    }

    static void onLoadChanged(WebKitWebView*, WebKitLoadEvent event, gpointer data) {
        auto* self = static_cast<GtkWebViewBackend*>(data);
        if (event == WEBKIT_LOAD_COMMITTED) {
            self->cancelTimeout();
            self->m_warmView = {};
        }
        if (event == WEBKIT_LOAD_FINISHED) self->m_delegate.didFinishNavigation();
    }

    // A proxy's question goes to the delegate; a server's own sign-in keeps the engine's way.
    static gboolean onAuthenticate(WebKitWebView*, WebKitAuthenticationRequest* request,
                                   gpointer data) {
        auto* self = static_cast<GtkWebViewBackend*>(data);
        if (!webkit_authentication_request_is_for_proxy(request)) return FALSE;
        // The customer may take their time over the prompt: no time-out meanwhile.
        bool timed = static_cast<bool>(self->m_timeoutSource);
        self->cancelTimeout();
        webkit_authentication_request_set_can_save_credentials(request, FALSE);
        std::string proxy = std::string(webkit_authentication_request_get_host(request)) + ":" +
                            std::to_string(webkit_authentication_request_get_port(request));
        auto held = glib::ObjectPtr<WebKitAuthenticationRequest>::adopt(
            WEBKIT_AUTHENTICATION_REQUEST(g_object_ref(request)));
        std::weak_ptr<bool> alive = self->m_alive;
        self->m_delegate.didReceiveProxyAuthentication(
            proxy, webkit_authentication_request_is_retry(request),
            [self, held, alive, timed](std::optional<Credentials> credentials) {
                if (!credentials) {
                    webkit_authentication_request_cancel(held.get());
                    return;
                }
                WebKitCredential* credential = webkit_credential_new(
                    credentials->userName.c_str(), credentials->password.c_str(),
                    WEBKIT_CREDENTIAL_PERSISTENCE_FOR_SESSION);
                webkit_authentication_request_authenticate(held.get(), credential);
                webkit_credential_free(credential);
                if (timed && !alive.expired()) self->startTimeout(self->m_timeoutSeconds);
            });
        return TRUE;
    }

    void startTimeout(double seconds) {
        m_timeoutSeconds = seconds;
        cancelTimeout();
        m_timeoutSource = g_timeout_add(
            static_cast<guint>(seconds * 1000),
            +[](gpointer data) -> gboolean {
                auto* self = static_cast<GtkWebViewBackend*>(data);
                self->m_timeoutSource.forget();
                // Stopping reports the load as cancelled, which is ignored; the time-out is the
                // failure that counts.
                webkit_web_view_stop_loading(self->m_view.get());
                self->m_delegate.didFailProvisionalNavigation("The request timed out.");
                return G_SOURCE_REMOVE;
            },
            this);
    }

    void cancelTimeout() { m_timeoutSource.remove(); }

    WebViewDelegate& m_delegate;
    glib::ObjectPtr<WebKitNetworkSession> m_session;
    glib::ObjectPtr<WebKitUserContentManager> m_contentManager;
    glib::ObjectPtr<WebKitWebView> m_view;
    // Holds the shared web process until this view's own first page has arrived.
    glib::ObjectPtr<WebKitWebView> m_warmView;
    glib::ObjectPtr<GCancellable> m_scripts =
        glib::ObjectPtr<GCancellable>::adopt(g_cancellable_new());
    std::vector<std::string> m_messageNames;
    std::vector<glib::SignalConnection> m_signals;
    std::vector<std::string> m_undecided;
    glib::SourceId m_timeoutSource;
    double m_timeoutSeconds = 0;
    // Answers that come after this view went find it gone.
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
    std::string m_timedURL;
    std::string m_applicationLoad;
};

}  // namespace

void WebView::prepare(const std::vector<std::string>& messageNames) {
    assertMainThread("WebView::prepare");
    (void)WebEngineEnvironment::choose();
    std::optional<PreparedEngine>& engine = preparedEngine();
    if (engine) return;
    engine.emplace();
    engine->messageNames = messageNames;
    engine->session = makeSession();
    engine->contentManager = makeContentManager(messageNames);
    GtkWidget* blank =
        GTK_WIDGET(g_object_new(WEBKIT_TYPE_WEB_VIEW, "network-session", engine->session.get(),
                                "user-content-manager", engine->contentManager.get(), nullptr));
    engine->blankView =
        glib::ObjectPtr<WebKitWebView>::adopt(WEBKIT_WEB_VIEW(g_object_ref_sink(blank)));
    // An empty document needs no network; loading it starts the web process.
    webkit_web_view_load_html(engine->blankView.get(), "<html></html>", nullptr);
}

std::unique_ptr<WebView> WebView::create(Window& window,
                                         const std::vector<std::string>& messageNames,
                                         WebViewDelegate& delegate) {
    (void)WebEngineEnvironment::choose();
    return std::make_unique<GtkWebViewBackend>(dynamic_cast<GtkWindowBackend&>(window),
                                               messageNames, delegate);
}

}  // namespace platform
