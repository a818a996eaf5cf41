#include <libsecret/secret.h>

#include "../../Format.h"
#include "../../Keyring.h"
#include "../../Localization.h"
#include "../../ProductIdentity.h"
#include "../support/GLibPtr.h"

namespace platform {

namespace {

// Items are found by the proxy they are for; the user name is kept beside the password.
const SecretSchema* proxySchema() {
    static const std::string name = productIdentity().applicationId + ".ProxyCredentials";
    static const SecretSchema schema = {name.c_str(),
                                        SECRET_SCHEMA_NONE,
                                        {{"host", SECRET_SCHEMA_ATTRIBUTE_STRING},
                                         {"port", SECRET_SCHEMA_ATTRIBUTE_INTEGER},
                                         {"user", SECRET_SCHEMA_ATTRIBUTE_STRING},
                                         {nullptr, SECRET_SCHEMA_ATTRIBUTE_STRING}},
                                        0,
                                        nullptr,
                                        nullptr,
                                        nullptr,
                                        nullptr,
                                        nullptr,
                                        nullptr,
                                        nullptr};
    return &schema;
}

class SecretServiceKeyring final : public Keyring {
  public:
    Result<std::optional<Credentials>> proxyCredentials(const std::string& host, int port) override;
    Status keepProxyCredentials(const std::string& host, int port,
                                const Credentials& credentials) override;
    Status forgetProxyCredentials(const std::string& host, int port) override;
};

}  // namespace

Result<std::optional<Credentials>> SecretServiceKeyring::proxyCredentials(const std::string& host,
                                                                          int port) {
    GError* error = nullptr;
    g_autolist(GObject) items = secret_password_search_sync(
        proxySchema(), SecretSearchFlags(SECRET_SEARCH_UNLOCK | SECRET_SEARCH_LOAD_SECRETS),
        nullptr, &error, "host", host.c_str(), "port", port, nullptr);
    if (error) return glib::statusFromError(error).failure();
    std::optional<Credentials> found;
    for (GList* item = items; item && !found; item = item->next) {
        auto* retrievable = SECRET_RETRIEVABLE(item->data);
        g_autoptr(GHashTable) attributes = secret_retrievable_get_attributes(retrievable);
        const char* user = static_cast<const char*>(g_hash_table_lookup(attributes, "user"));
        g_autoptr(SecretValue) secret =
            secret_retrievable_retrieve_secret_sync(retrievable, nullptr, nullptr);
        if (user && secret) {
            const char* text = secret_value_get_text(secret);
            found = Credentials{user, text ? text : ""};
        }
    }
    return found;
}

Status SecretServiceKeyring::keepProxyCredentials(const std::string& host, int port,
                                                  const Credentials& credentials) {
    // One item per proxy: the one kept before goes.
    if (Status cleared = forgetProxyCredentials(host, port); !cleared) return cleared;
    // What the desktop's keyring manager lists, in the customer's language.
    // TRANSLATORS: the proxy's host and port; a keyring manager lists the item by this.
    std::string item = format(localized("Proxy sign-in for %s"), host + ":" + std::to_string(port));
    std::string label = productIdentity().displayName + ": " + item;
    GError* error = nullptr;
    secret_password_store_sync(proxySchema(), SECRET_COLLECTION_DEFAULT, label.c_str(),
                               credentials.password.c_str(), nullptr, &error, "host", host.c_str(),
                               "port", port, "user", credentials.userName.c_str(), nullptr);
    return glib::statusFromError(error);
}

Status SecretServiceKeyring::forgetProxyCredentials(const std::string& host, int port) {
    GError* error = nullptr;
    secret_password_clear_sync(proxySchema(), nullptr, &error, "host", host.c_str(), "port", port,
                               nullptr);
    return glib::statusFromError(error);
}

Keyring& Keyring::shared() {
    static SecretServiceKeyring backend;
    return replacedOr(backend);
}

}  // namespace platform
