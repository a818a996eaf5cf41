#pragma once

#include <functional>
#include <memory>

namespace platform {

// Reports the network path: once when started, then on every change, with whether it is
// usable ("satisfied"). Updates arrive on the main thread.
class NetworkPathMonitor {
  public:
    virtual ~NetworkPathMonitor() = default;

    static std::unique_ptr<NetworkPathMonitor> create();

    // Replaces the handler; a cancelled monitor starts again.
    virtual void start(std::function<void(bool satisfied)> handler) = 0;
    virtual void cancel() = 0;
};

}  // namespace platform
