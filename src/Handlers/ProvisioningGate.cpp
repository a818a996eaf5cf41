#include "ProvisioningGate.h"

ProvisioningGate& ProvisioningGate::shared() {
    static ProvisioningGate* gate = new ProvisioningGate();  // used until the end of the process
    return *gate;
}

ProvisioningGate::Pass ProvisioningGate::enter() {
    std::unique_lock lock(m_mutex);
    m_free.wait(lock, [this] { return !m_busy; });
    m_busy = true;
    return Pass(this, [](void* gate) { static_cast<ProvisioningGate*>(gate)->leave(); });
}

void ProvisioningGate::leave() {
    {
        std::lock_guard lock(m_mutex);
        m_busy = false;
    }
    m_free.notify_one();
}
