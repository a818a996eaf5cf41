#include <gio/gio.h>

#include <cstring>

#include "../../ProxyResolver.h"
#include "../support/GLibPtr.h"

namespace platform {

namespace {

// What the HTTP client can talk to, by the scheme GLib's resolvers name; "socks" is GLib's
// name for a SOCKS proxy of any version, whose host names the proxy resolves.
std::optional<std::string> clientScheme(const char* scheme) {
    static constexpr std::pair<const char*, const char*> kSchemes[] = {
        {"http", "http"},     {"https", "https"},     {"socks", "socks5h"},
        {"socks4", "socks4"}, {"socks4a", "socks4a"}, {"socks5", "socks5h"},
    };
    for (const auto& [glib, client] : kSchemes) {
        if (g_ascii_strcasecmp(scheme, glib) == 0) return std::string(client);
    }
    return std::nullopt;
}

int defaultPort(const std::string& scheme) {
    if (scheme == "http") return 80;
    if (scheme == "https") return 443;
    return 1080;
}

std::optional<HttpProxy> proxyFromUri(const char* text) {
    // An entry that is not a URI is passed over; why does not matter.
    g_autoptr(GUri) uri = g_uri_parse(text, G_URI_FLAGS_HAS_PASSWORD, nullptr);
    if (!uri) return std::nullopt;
    auto scheme = clientScheme(g_uri_get_scheme(uri));
    const char* host = g_uri_get_host(uri);
    if (!scheme || !host || !*host) return std::nullopt;
    HttpProxy proxy;
    proxy.scheme = *scheme;
    proxy.host = host;
    proxy.port = g_uri_get_port(uri) > 0 ? g_uri_get_port(uri) : defaultPort(*scheme);
    if (const char* user = g_uri_get_user(uri); user && *user) proxy.userName = user;
    if (const char* password = g_uri_get_password(uri); password && *password)
        proxy.password = password;
    return proxy;
}

// GLib's default resolver: the desktop's settings (GNOME's or KDE's, a PAC file through
// libproxy) and the environment's proxy variables, as the web view's network process sees them.
class GioProxyResolver final : public ProxyResolver {
  public:
    Result<std::optional<HttpProxy>> proxyFor(const std::string& url) override {
        GError* error = nullptr;
        g_auto(GStrv) proxies =
            g_proxy_resolver_lookup(g_proxy_resolver_get_default(), url.c_str(), nullptr, &error);
        if (!proxies) return unexpected(glib::statusFromError(error).errorDescription());
        for (char** entry = proxies; *entry; ++entry) {
            if (std::strcmp(*entry, "direct://") == 0) return std::optional<HttpProxy>();
            if (auto proxy = proxyFromUri(*entry)) return proxy;
        }
        return unexpected("no proxy the client can use among those the settings name for " + url);
    }
};

}  // namespace

ProxyResolver& ProxyResolver::shared() {
    static GioProxyResolver backend;
    return replacedOr(backend);
}

}  // namespace platform
