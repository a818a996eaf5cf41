#pragma once

#include <condition_variable>
#include <memory>
#include <mutex>

// Lets one agent provisioning run at a time work on the agent's files, image and volume. A
// run holds its pass, shared between the steps that outlive each other, until the last step
// lets go of it; the next run waits for that and then reads the session state afresh.
class ProvisioningGate {
  public:
    using Pass = std::shared_ptr<void>;

    static ProvisioningGate& shared();

    // Blocks until no run holds a pass.
    Pass enter();

  private:
    void leave();

    std::mutex m_mutex;
    std::condition_variable m_free;
    bool m_busy = false;
};
