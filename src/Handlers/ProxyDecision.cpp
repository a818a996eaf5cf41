#include "ProxyDecision.h"

#include <strings.h>

#include <map>
#include <mutex>

#include "../platform/Preferences.h"
#include "../platform/ProxyResolver.h"
#include "../platform/Url.h"
#include "Logging.h"

namespace {

constexpr const char* kFunction = "+[ProxyDecision proxyForURL:]";

// The proxy the customer entered on the join page, when it is `proxy` and asks for a sign-in.
void addStoredCredentials(platform::HttpProxy& proxy) {
    platform::Preferences& defaults = platform::Preferences::standardUserDefaults();
    auto host = defaults.stringForKey("host");
    if (!host || strcasecmp(host->c_str(), proxy.host.c_str()) != 0 ||
        defaults.integerForKey("port") != proxy.port || !defaults.boolForKey("authRequired")) {
        return;
    }
    auto userName = defaults.stringForKey("userName");
    if (!userName || userName->empty()) return;
    proxy.userName = userName;
    proxy.password = defaults.stringForKey("password").value_or("");
}

std::string describe(const std::optional<platform::HttpProxy>& proxy) {
    if (!proxy) return "directly, without a proxy";
    return "through the proxy " + proxy->address() +
           (proxy->userName ? " (with a user name and password)" : "");
}

// The last choice logged for each address.
void logIfChanged(const std::string& url, const std::string& choice) {
    static std::mutex mutex;
    static std::map<std::string, std::string> logged;
    std::string address = platform::Url::hostAndPort(url).value_or(url);
    std::lock_guard lock(mutex);
    auto [entry, added] = logged.try_emplace(address, choice);
    if (!added && entry->second == choice) return;
    entry->second = choice;
    logLine("%s : Requests to %@ go %@", kFunction, address, choice);
}

}  // namespace

void ProxyDecision::install() {
    platform::HttpClient::shared().setProxyChooser(&ProxyDecision::proxyForURL);
}

std::optional<platform::HttpProxy> ProxyDecision::proxyForURL(const std::string& url) {
    return guarded(
        kFunction,
        [&]() -> std::optional<platform::HttpProxy> {
            auto resolved = platform::ProxyResolver::shared().proxyFor(url);
            if (!resolved) {
                logIfChanged(url, "directly: the desktop's proxy settings could not be read (" +
                                      resolved.error() + ")");
                return std::nullopt;
            }
            std::optional<platform::HttpProxy> proxy = *resolved;
            if (proxy) addStoredCredentials(*proxy);
            logIfChanged(url, describe(proxy));
            return proxy;
        },
        std::optional<platform::HttpProxy>());
}
