#include "NavigationPolicy.h"

#include <cctype>

#include "Product.h"

namespace {
constexpr const char* kDeepLinkScheme = Product::kDeepLinkScheme;
constexpr const char* kOfflinePage = "NoInternetPage.html";
// The bundle's page for a start without any request; shown where the join page would be.
constexpr const char* kNoRequestPage = "NoRequestPage.html";
// The bundle's page for a proxy whose sign-in the customer cancelled; its button's link.
constexpr const char* kProxySignInPage = "ProxySignInPage.html";
constexpr const char* kProxySignInScheme = "kelvane-proxy-sign-in";
}  // namespace

std::optional<std::string> urlScheme(const std::string& url) {
    auto colon = url.find(':');
    if (colon == std::string::npos || colon == 0 ||
        !std::isalpha(static_cast<unsigned char>(url[0]))) {
        return std::nullopt;
    }
    for (std::size_t i = 1; i < colon; ++i) {
        auto c = static_cast<unsigned char>(url[i]);
        if (!std::isalnum(c) && c != '+' && c != '-' && c != '.') return std::nullopt;
    }
    return url.substr(0, colon);
}

NavigationDecision decideNavigationPolicy(const platform::NavigationAction& action,
                                          const std::optional<std::string>& webServerName) {
    using platform::NavigationType;
    auto mainFrameRule = [&] {
        if (action.url && webServerName && !webServerName->empty() &&
            action.url->find(*webServerName) != std::string::npos) {
            return NavigationDecision::Allow;
        }
        if (!action.url) return NavigationDecision::Cancel;
        if (action.url->find(kOfflinePage) != std::string::npos ||
            action.url->find(kNoRequestPage) != std::string::npos ||
            action.url->find(kProxySignInPage) != std::string::npos) {
            return NavigationDecision::Allow;
        }
        return NavigationDecision::Cancel;
    };
    if (action.type == NavigationType::Reload ||
        (action.type == NavigationType::Other && action.fromMainFrame == true)) {
        return mainFrameRule();
    }
    if (action.type == NavigationType::Other && !action.fromMainFrame.has_value()) {
        if (mainFrameRule() == NavigationDecision::Allow) return NavigationDecision::Allow;
        if (!action.url) return NavigationDecision::Cancel;
        // The service's own links too: the web view answers them with nothing, so the frame is
        // known before anything is shown.
        return NavigationDecision::DecideWhenTheFrameIsKnown;
    }
    if (!action.url) return NavigationDecision::Allow;
    auto scheme = urlScheme(*action.url);
    if (!scheme) return NavigationDecision::Allow;
    if (*scheme == kDeepLinkScheme) return NavigationDecision::OpenAsDeepLink;
    if (*scheme == kProxySignInScheme && action.type == NavigationType::LinkActivated)
        return NavigationDecision::AskForProxySignIn;
    return NavigationDecision::Allow;
}

std::string joinPageURL(const std::optional<std::string>& webServerName,
                        const std::optional<std::string>& pathForKelvane,
                        const std::optional<std::string>& kelvaneToken) {
    std::string url = "https://" + webServerName.value_or("") + "/" + pathForKelvane.value_or("");
    if (kelvaneToken && !kelvaneToken->empty()) url += "?kelvane_token=" + *kelvaneToken;
    return url;
}
