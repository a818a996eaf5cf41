#include "NetworkMonitor.h"

#include "../platform/Url.h"
#include "Logging.h"

NetworkMonitor& NetworkMonitor::shared() {
    static NetworkMonitor* monitor = new NetworkMonitor();  // lives until the process ends
    return *monitor;
}

NetworkMonitor::NetworkMonitor() : m_monitor(platform::NetworkPathMonitor::create()) {}

void NetworkMonitor::startMonitoringReachability(const std::string& url) {
    m_urlString = url;
    m_monitor->start([this](bool satisfied) {
        m_isInternetAvailable = satisfied;
        // Any change, to any status, postpones the next check to 2 s from now.
        startWebsiteReachabilityChecking();
    });
}

void NetworkMonitor::stopNetworkMonitoring() {
    m_monitor->cancel();
}

void NetworkMonitor::startWebsiteReachabilityChecking() {
    if (m_reachabilityTimer) m_reachabilityTimer->invalidate();
    m_reachabilityTimer = platform::MainLoop::main().scheduleTimer(
        kCheckInterval, true, [this] { checkWebsiteReachability(); });
}

void NetworkMonitor::stopWebsiteReachabilityChecks() {
    if (m_reachabilityTimer) m_reachabilityTimer->invalidate();
    m_reachabilityTimer.reset();
}

void NetworkMonitor::checkWebsiteReachability() {
    // A bare host name is a (relative) URL too: its checks are made, and fail.
    if (!platform::Url::isURLReference(m_urlString)) return;
    // Up to five checks under way: a server that never answers still gets a check every 2 s,
    // and one that never ends (a proxy lookup that hangs) does not stop the later ones.
    if (m_checksInFlight >= kMaximumChecksInFlight) return;
    ++m_checksInFlight;
    platform::HttpRequest request;
    request.url = m_urlString;
    request.timeoutSeconds = kCheckTimeout;
    request.totalSeconds = kCheckTimeout;
    request.headers = {{"User-Agent", kUserAgent}};
    // The page loads from this server whatever certificate it presents; so the check must
    // pass exactly when the page could load, or the offline page would stay for good.
    request.acceptAnyCertificate = true;
    // A kept answer of the page's server counts, so that a page seen once is shown again
    // without a network, from the web view's own cache.
    request.cachePolicy = platform::CachePolicy::returnCacheDataElseLoad;
    platform::HttpClient::shared().getAsync(
        std::move(request), [this](platform::HttpResponse response) {
            platform::MainLoop::main().post(
                [this, response = std::move(response)] { evaluate(response); });
        });
}

void NetworkMonitor::evaluate(const platform::HttpResponse& response) {
    --m_checksInFlight;
    logReasonIfChanged(response);
    if (!response.failure && response.statusCode == 200) {
        if (!m_isWebsiteReachable) {
            m_isWebsiteReachable = true;
            if (m_networkMonitorDelegate) m_networkMonitorDelegate->didRestoreConnection();
        }
        return;
    }
    m_isWebsiteReachable = false;
    if (m_networkMonitorDelegate) m_networkMonitorDelegate->didFailedToConnect();
}

void NetworkMonitor::logReasonIfChanged(const platform::HttpResponse& response) {
    static constexpr const char* kFunction = "-[NetworkMonitor checkWebsiteReachability]";
    std::string reason;
    if (response.failure) {
        reason = response.failure->description;
    } else if (response.statusCode != 200) {
        reason = "its server answered " + std::to_string(response.statusCode);
    }
    // Without a network there is nothing for support to read here; the offline page says it.
    if (!reason.empty() && !m_isInternetAvailable) return;
    if (reason == m_lastFailureReason) return;
    if (reason.empty()) {
        logLine("%s : The join page can be reached again", kFunction);
    } else {
        logLine("%s : The join page cannot be reached: %@", kFunction, reason);
    }
    m_lastFailureReason = reason;
}
