#pragma once

#include <memory>
#include <string>

#include "../platform/Http.h"
#include "../platform/MainLoop.h"
#include "../platform/NetworkPathMonitor.h"

class NetworkMonitorDelegate {
  public:
    virtual ~NetworkMonitorDelegate() = default;
    // The server became reachable again (or is reachable at the first check).
    virtual void didRestoreConnection() = 0;
    // A check failed.
    virtual void didFailedToConnect() = 0;
};

// Watches whether the join page's server can be reached while the join page is not shown:
// network-path changes restart a check every 2 s; results are told to the delegate. All
// state lives on the main thread.
class NetworkMonitor {
  public:
    static constexpr double kCheckInterval = 2.0;
    static constexpr double kCheckTimeout = 10.0;
    static constexpr int kMaximumChecksInFlight = 5;
    static constexpr const char* kUserAgent =
        "Mozilla/5.0 (Macintosh; Intel Mac OS X 10_15_7) AppleWebKit/537.36 (KHTML, like Gecko) "
        "Chrome/91.0.4472.124 Safari/537.36";

    static NetworkMonitor& shared();

    void startMonitoringReachability(const std::string& url);
    void stopNetworkMonitoring();
    void startWebsiteReachabilityChecking();
    void stopWebsiteReachabilityChecks();
    void checkWebsiteReachability();

    const std::string& urlString() const { return m_urlString; }
    bool isInternetAvailable() const { return m_isInternetAvailable; }
    bool isWebsiteReachable() const { return m_isWebsiteReachable; }
    void setIsWebsiteReachable(bool reachable) { m_isWebsiteReachable = reachable; }
    platform::Timer* reachabilityTimer() const { return m_reachabilityTimer.get(); }
    NetworkMonitorDelegate* networkMonitorDelegate() const { return m_networkMonitorDelegate; }
    void setNetworkMonitorDelegate(NetworkMonitorDelegate* delegate) {
        m_networkMonitorDelegate = delegate;
    }

  private:
    NetworkMonitor();
    void evaluate(const platform::HttpResponse& response);
    // Why checks fail is logged once for each change, not every 2 s.
    void logReasonIfChanged(const platform::HttpResponse& response);

    std::unique_ptr<platform::NetworkPathMonitor> m_monitor;
    std::string m_urlString;
    bool m_isInternetAvailable = false;
    NetworkMonitorDelegate* m_networkMonitorDelegate = nullptr;
    bool m_isWebsiteReachable = false;
    int m_checksInFlight = 0;         // main thread only
    std::string m_lastFailureReason;  // main thread only; empty: the last check passed
    std::unique_ptr<platform::Timer> m_reachabilityTimer;
};
