#include <gio/gio.h>

#include <memory>

#include "../../NetworkPathMonitor.h"
#include "../support/GLibPtr.h"

namespace platform {

namespace {

class GioNetworkPathMonitor final : public NetworkPathMonitor {
  public:
    ~GioNetworkPathMonitor() override { cancel(); }

    void start(std::function<void(bool)> handler) override {
        cancel();
        m_handler = std::make_shared<std::function<void(bool)>>(std::move(handler));
        GNetworkMonitor* monitor = g_network_monitor_get_default();
        m_signal = glib::connectSignal(
            monitor, "network-changed",
            +[](GNetworkMonitor*, gboolean available, gpointer data) {
                (**static_cast<std::shared_ptr<std::function<void(bool)>>*>(data))(available);
            },
            &m_handler);
        // The first path is reported at once, as a path monitor does when it starts.
        auto* first = new std::shared_ptr<std::function<void(bool)>>(m_handler);
        g_idle_add_full(
            G_PRIORITY_DEFAULT,
            +[](gpointer data) -> gboolean {
                auto& pending = *static_cast<std::shared_ptr<std::function<void(bool)>>*>(data);
                if (*pending)
                    (*pending)(
                        g_network_monitor_get_network_available(g_network_monitor_get_default()));
                return G_SOURCE_REMOVE;
            },
            first,
            +[](gpointer data) {
                delete static_cast<std::shared_ptr<std::function<void(bool)>>*>(data);
            });
    }

    void cancel() override {
        m_signal.disconnect();
        // A first report still queued finds an empty handler and does nothing.
        if (m_handler) *m_handler = nullptr;
        m_handler.reset();
    }

  private:
    std::shared_ptr<std::function<void(bool)>> m_handler;
    glib::SignalConnection m_signal;
};

}  // namespace

std::unique_ptr<NetworkPathMonitor> NetworkPathMonitor::create() {
    return std::make_unique<GioNetworkPathMonitor>();
}

}  // namespace platform
