#pragma once

#include <string>

#include "../platform/WebView.h"

class NativeMessageHandlerDelegate {
  public:
    virtual ~NativeMessageHandlerDelegate() = default;
    // Runs a complete script in the page; no result comes back.
    virtual void executeJavaScript(const std::string& script) = 0;
    virtual void updateWindowTitle(const std::string& title) = 0;
};

// The native end of the join page's messages: reads and writes the preferences and the
// session state, starts joins, and answers with reply scripts. Main thread only.
class NativeMessageHandler {
  public:
    static constexpr const char* kDefaultWindowTitle = "Orvo Tendra - Kelvane";

    static NativeMessageHandler& shared();

    NativeMessageHandlerDelegate* nativeMessageHandlerDelegate() const {
        return m_nativeMessageHandlerDelegate;
    }
    void setNativeMessageHandlerDelegate(NativeMessageHandlerDelegate* delegate) {
        m_nativeMessageHandlerDelegate = delegate;
    }

    void handleMessageFromWebView(const platform::ScriptMessage& message);
    // Writes ConnectionSettings.plist for the agent from the stored proxy preferences.
    void setupProxyDetails();

  private:
    explicit NativeMessageHandler(NativeMessageHandlerDelegate* delegate)
        : m_nativeMessageHandlerDelegate(delegate) {}

    void reply(const std::string& script);
    // Hands a message to the step that handles it; handleMessageFromWebView guards it.
    void route(const platform::ScriptMessage& message);
    void getRRSessionDigest();
    void getCustomerDetails();
    void sendCustomerDetailsToNative(const std::string& body);
    void sendJoinReportAbuseLinkToNative(const std::string& body);
    void kelvaneLoaded();
    void sendKelvaneTitleToNative(const platform::ScriptValue& body);
    void getProxyDetails();
    void sendProxyDetailsToNative(const std::string& body);
    void getActiveSessionKey();
    void openProxy();
    void sendJoinDetailsToNative(const std::string& body);
    void sendRRSessionKeyToNative(const std::string& body);

    NativeMessageHandlerDelegate* m_nativeMessageHandlerDelegate = nullptr;
};
