#include "ProxyDecision.h"

#include <map>
#include <mutex>

#include "../platform/ProxyResolver.h"
#include "../platform/Url.h"
#include "Logging.h"
#include "ProxySignIn.h"

namespace {

constexpr const char* kFunction = "+[ProxyDecision proxyForURL:]";

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
            if (proxy && !proxy->userName) {
                if (auto given = ProxySignIn::shared().credentialsFor(proxy->host, proxy->port)) {
                    proxy->userName = given->userName;
                    proxy->password = given->password;
                }
            }
            logIfChanged(url, describe(proxy));
            return proxy;
        },
        std::optional<platform::HttpProxy>());
}
