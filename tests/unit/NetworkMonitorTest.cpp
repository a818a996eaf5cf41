#include <gtest/gtest.h>

#include <memory>

#include "../support/ScopedEnvironment.h"
#include "../support/SubstituteServer.h"
#include "../support/TempHome.h"
#include "Handlers/NetworkMonitor.h"
#include "platform/MainLoop.h"

namespace {

struct CountingDelegate : NetworkMonitorDelegate {
    int restored = 0;
    int failed = 0;
    void didRestoreConnection() override { ++restored; }
    void didFailedToConnect() override { ++failed; }
};

void runFor(double seconds) {
    platform::MainLoop::main().runUntil([] { return false; }, seconds);
}

}  // namespace

// One fixture walks the monitor through its states with a real server and the real main loop;
// the monitor is process-wide, so the steps share it in order.
TEST(NetworkMonitor, RestoresOnceFailsEveryCheckAndStopsForGood) {
    TempHome home;
    SubstituteServer server;
    ScopedEnvironment environment{{"SSL_CERT_FILE", server.caPath()}};
    // Answers the server forbids keeping, so that every check asks it.
    auto answer = [&](int status) {
        server.setRoutes(
            {{"/join", {{"status", status}, {"headers", {{"Cache-Control", "no-store"}}}}}});
    };
    answer(200);
    CountingDelegate delegate;
    NetworkMonitor& monitor = NetworkMonitor::shared();
    monitor.setNetworkMonitorDelegate(&delegate);
    monitor.setIsWebsiteReachable(false);

    // Text that is no URL at all: checks end silently.
    monitor.startMonitoringReachability("https://" + server.host() + "/a b");
    runFor(2.5);
    EXPECT_EQ(delegate.restored + delegate.failed, 0);
    // A bare host name, as first given at start-up, is a URL without a scheme: checks fail.
    monitor.startMonitoringReachability(server.host());
    runFor(2.5);
    EXPECT_EQ(delegate.restored, 0);
    EXPECT_GE(delegate.failed, 1);
    delegate.failed = 0;

    monitor.startMonitoringReachability("https://" + server.host() + "/join");
    runFor(4.6);  // checks at about 2 s and 4 s after the first path report
    EXPECT_EQ(delegate.restored, 1) << "a restoration is reported once";
    EXPECT_EQ(delegate.failed, 0);
    auto checks = server.requestsFor("/join");
    ASSERT_GE(checks.size(), 2u);
    EXPECT_EQ(checks[0]["headers"]["User-Agent"], NetworkMonitor::kUserAgent);

    answer(204);
    runFor(4.2);
    EXPECT_GE(delegate.failed, 2) << "every failed check is reported";
    EXPECT_FALSE(monitor.isWebsiteReachable());

    answer(200);
    monitor.stopNetworkMonitoring();
    monitor.stopWebsiteReachabilityChecks();
    int failedBefore = delegate.failed;
    server.clearRequests();
    runFor(4.5);
    EXPECT_TRUE(server.requestsFor("/join").empty()) << "a stopped monitor sends nothing";
    EXPECT_EQ(delegate.failed, failedBefore);
    EXPECT_EQ(monitor.reachabilityTimer(), nullptr);

    // Started again after a failure, the next success is a restoration again.
    monitor.startMonitoringReachability("https://" + server.host() + "/join");
    runFor(2.6);
    EXPECT_EQ(delegate.restored, 2);
    monitor.stopNetworkMonitoring();
    monitor.stopWebsiteReachabilityChecks();
    monitor.setNetworkMonitorDelegate(nullptr);
    runFor(0.3);  // lets checks under way finish while the delegate still exists
}

// A 200 once seen is kept, as the web view keeps the page: later checks of that address count it
// as reachable without the server, and a restart after a failure is a restoration from it.
// Another address was never kept, and fails.
TEST(NetworkMonitor, AKeptAnswerCountsAsReachableWithoutTheServer) {
    TempHome home;
    auto server = std::make_unique<SubstituteServer>();
    ScopedEnvironment environment{{"SSL_CERT_FILE", server->caPath()}};
    std::string address = "https://" + server->host() + "/join?kelvane_token=T-7";
    std::string other = "https://" + server->host() + "/join?kelvane_token=T-8";
    CountingDelegate delegate;
    NetworkMonitor& monitor = NetworkMonitor::shared();
    monitor.setNetworkMonitorDelegate(&delegate);
    monitor.setIsWebsiteReachable(false);
    monitor.startMonitoringReachability(address);
    runFor(2.5);
    ASSERT_EQ(delegate.restored, 1);

    server.reset();
    runFor(4.5);
    EXPECT_EQ(delegate.failed, 0) << "a kept 200 did not count without the server";
    EXPECT_TRUE(monitor.isWebsiteReachable());

    monitor.setIsWebsiteReachable(false);
    monitor.startMonitoringReachability(address);
    runFor(2.5);
    EXPECT_EQ(delegate.restored, 2);
    EXPECT_EQ(delegate.failed, 0);

    monitor.startMonitoringReachability(other);
    runFor(2.5);
    EXPECT_GE(delegate.failed, 1) << "one address's kept answer served another";
    EXPECT_FALSE(monitor.isWebsiteReachable());
    monitor.stopNetworkMonitoring();
    monitor.stopWebsiteReachabilityChecks();
    monitor.setNetworkMonitorDelegate(nullptr);
    runFor(0.3);
}

// A server that answers just fast enough to keep a transfer alive: a check still starts every
// 2 s while earlier ones wait, up to five under way, and each ends at its time-out.
TEST(NetworkMonitor, ASlowServerGetsACheckEveryTwoSecondsUpToFiveUnderWay) {
    TempHome home;
    SubstituteServer server;
    ScopedEnvironment environment{{"SSL_CERT_FILE", server.caPath()}};
    server.setRoutes({{"/slow", {{"repeatBytes", 10000000}, {"bytesPerSecond", 4096}}}});
    CountingDelegate delegate;
    NetworkMonitor& monitor = NetworkMonitor::shared();
    monitor.setNetworkMonitorDelegate(&delegate);
    monitor.startMonitoringReachability("https://" + server.host() + "/slow");
    runFor(3 * NetworkMonitor::kCheckInterval + 0.5);
    EXPECT_EQ(server.requestsFor("/slow").size(), 3u) << "a waiting check held back the next";
    // Until just before the first check's time-out: checks at 2, 4, 6, 8 and 10 s, no sixth.
    runFor(NetworkMonitor::kCheckInterval + NetworkMonitor::kCheckTimeout - 0.5 -
           (3 * NetworkMonitor::kCheckInterval + 0.5));
    EXPECT_EQ(server.requestsFor("/slow").size(), 5u) << "not five under way";
    EXPECT_EQ(delegate.failed, 0);
    runFor(1.5);
    EXPECT_GE(delegate.failed, 1) << "the first check ended at its time-out as a failure";
    monitor.stopNetworkMonitoring();
    monitor.stopWebsiteReachabilityChecks();
    monitor.setNetworkMonitorDelegate(nullptr);
    runFor(0.3);
}
