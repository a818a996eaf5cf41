#include <gio/gio.h>

#include "../../DistributedNotifications.h"
#include "../../ProductIdentity.h"
#include "../support/GLibPtr.h"

namespace platform {

namespace {

class GioDistributedNotifications final : public DistributedNotifications {
  public:
    Status post(const std::string& name,
                const std::map<std::string, std::int32_t>& userInfo) override;
};

}  // namespace

Status GioDistributedNotifications::post(const std::string& name,
                                         const std::map<std::string, std::int32_t>& userInfo) {
    GError* error = nullptr;
    auto bus = glib::ObjectPtr<GDBusConnection>::adopt(
        g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, &error));
    if (!bus) return glib::statusFromError(error);
    GVariantBuilder entries;
    g_variant_builder_init(&entries, G_VARIANT_TYPE("a{sv}"));
    for (const auto& [key, value] : userInfo) {
        g_variant_builder_add(&entries, "{sv}", key.c_str(), g_variant_new_int32(value));
    }
    // A broadcast signal: any process of the session may listen for the member name.
    const ProductIdentity& product = productIdentity();
    if (!g_dbus_connection_emit_signal(bus.get(), nullptr, product.notificationPath.c_str(),
                                       product.notificationInterface.c_str(), name.c_str(),
                                       g_variant_new("(a{sv})", &entries), &error)) {
        return glib::statusFromError(error);
    }
    // The signal must leave before the process may end.
    if (!g_dbus_connection_flush_sync(bus.get(), nullptr, &error))
        return glib::statusFromError(error);
    return Status::ok();
}

DistributedNotifications& DistributedNotifications::shared() {
    static GioDistributedNotifications backend;
    return replacedOr(backend);
}

}  // namespace platform
