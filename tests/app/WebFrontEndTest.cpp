#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gmock/gmock.h>

#include <atomic>
#include <thread>

#include "../support/AppFixture.h"
#include "../support/Files.h"
#include "../support/SubstituteServer.h"
#include "Handlers/NetworkMonitor.h"

using ::testing::HasSubstr;
using ::testing::Not;

namespace {

// Accepts connections on a loopback port and closes them at once, counting them: a server
// that is down, as the application sees it.
class RefusingListener {
  public:
    RefusingListener() {
        m_socket = ::socket(AF_INET, SOCK_STREAM, 0);
        int yes = 1;
        ::setsockopt(m_socket, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(m_socket, reinterpret_cast<sockaddr*>(&address), sizeof address);
        socklen_t length = sizeof address;
        ::getsockname(m_socket, reinterpret_cast<sockaddr*>(&address), &length);
        m_port = ntohs(address.sin_port);
        ::listen(m_socket, 64);
        m_thread = std::thread([this, listening = m_socket] {
            while (true) {
                int client = ::accept(listening, nullptr, nullptr);
                if (client < 0) return;
                ++m_connections;
                ::close(client);
            }
        });
    }
    ~RefusingListener() { stop(); }
    void stop() {
        if (m_socket < 0) return;
        ::shutdown(m_socket, SHUT_RDWR);  // wakes the waiting accept
        m_thread.join();
        ::close(m_socket);
        m_socket = -1;
    }
    int port() const { return m_port; }
    int connections() const { return m_connections; }

  private:
    int m_socket = -1;
    int m_port = 0;
    std::atomic<int> m_connections{0};
    std::thread m_thread;
};

// Requests for the join page sent by the network monitor's reachability checks.
std::size_t monitorChecks(SubstituteServer& server) {
    std::size_t count = 0;
    for (const auto& request : server.requestsFor("/join")) {
        if (request["headers"].value("User-Agent", "") == NetworkMonitor::kUserAgent) ++count;
    }
    return count;
}

}  // namespace

class WebFrontEnd : public AppFixture {};

TEST_F(WebFrontEnd, JoinPageTalksToTheBridgeAndItsLoadStopsTheMonitor) {
    SubstituteServer server;
    useServer(server);
    nlohmann::json steps = nlohmann::json::array({
        {{"name", "sendCustomerDetailsToNative"},
         {"body", R"({"name":"Ann","company":"ACME","email":"ann@acme.example","language":"de"})"}},
        {{"name", "getCustomerDetails"}, {"body", ""}},
        {{"name", "sendProxyDetailsToNative"},
         {"body",
          R"({"host":"proxy.lan","port":3128,"authRequired":false,"userName":"","password":""})"}},
        {{"name", "getProxyDetails"}, {"body", nullptr}},
        {{"name", "sendCustomerDetailsToNative"}, {"body", {{"name", "object, not text"}}}},
        {{"name", "getSystemOs"}, {"body", 1}},
        {{"name", "sendKelvaneTitleToNative"}, {"body", "ACME Support"}},
        {{"name", "consoleHandler"}, {"body", "hello from the page"}},
        {{"name", "notRegistered"}, {"body", "ignored"}},
    });
    server.setTestScript({{"steps", steps}, {"settleMs", 800}});

    auto app = launch({"-KelvaneToken", "T-1", "-DC", "com", "-pathForKelvane", "join"});
    ASSERT_TRUE(waitUntil([&] { return !server.replies().empty(); }, 60)) << log();
    auto report = server.replies()[0];
    auto replies = report["replies"];
    ASSERT_EQ(replies.size(), 3u) << report.dump(2);
    EXPECT_EQ(replies[0]["function"], "receiveCustomerDetails");
    EXPECT_EQ(replies[0]["argument"], (nlohmann::json{{"name", "Ann"},
                                                      {"company", "ACME"},
                                                      {"email", "ann@acme.example"},
                                                      {"language", "de"}}));
    EXPECT_EQ(replies[1]["function"], "receiveProxyDetails");
    EXPECT_EQ(replies[1]["argument"], (nlohmann::json{{"host", "proxy.lan"},
                                                      {"port", 3128},
                                                      {"authRequired", false},
                                                      {"userName", ""},
                                                      {"password", ""}}));
    EXPECT_EQ(replies[2]["function"], "receiveSystemOs");
    EXPECT_EQ(replies[2]["argument"], "mac");
    EXPECT_EQ(report["title"], "Join a support session");
    EXPECT_TRUE(logShows("handleMessageFromWebView(message:) : Console Message from WebView: log: "
                         "hello from the page",
                         5) ||
                logShows("Console Message from WebView: hello from the page", 1));

    // "kelvaneLoaded" came before the first check: the monitor never asks.
    std::this_thread::sleep_for(std::chrono::seconds(5));
    EXPECT_EQ(monitorChecks(server), 0u);
    ASSERT_TRUE(closeWindow(*app, "ACME Support"))
        << "the page's title reached the window\n"
        << log() << readFile(m_home / "launch-output.txt");
    EXPECT_TRUE(app->waitForExit(20).has_value());
}

TEST_F(WebFrontEnd, LostServerShowsTheOfflinePageAndItsReturnBringsTheJoinPageBack) {
    // The application trusts one authority across the server's restart.
    std::string authorityKey = m_home / "ca.key";
    { SubstituteServer({"--ca-key", authorityKey}); }
    m_environment.set("SSL_CERT_FILE", authorityKey + ".crt");
    auto down = std::make_unique<RefusingListener>();
    int port = down->port();
    std::string host = "127.0.0.1:" + std::to_string(port);
    pointDeploymentAt(host);
    auto app = launch({"-KelvaneToken", "T-2", "-DC", "com", "-pathForKelvane", "join"});

    ASSERT_TRUE(logShows("URL NetTest : https://" + host + "/join?kelvane_token=T-2", 30)) << log();
    int before = down->connections();
    std::this_thread::sleep_for(std::chrono::milliseconds(6500));
    EXPECT_GE(down->connections() - before, 2)
        << "a check every 2 seconds while the server is down";
    std::string offline = log();
    EXPECT_EQ(
        countOccurrences(
            offline,
            "-[ApiHandler checkKelvaneUpdateWithCompletion:]_block_invoke : Check Update failed"),
        1u);

    down->stop();
    SubstituteServer server({"--port", std::to_string(port), "--ca-key", authorityKey});
    // The restored check reloads the join page, whose load stops the monitor.
    ASSERT_TRUE(
        logShows("didRestoreConnection() : Updateing webview since the network is restored.", 30))
        << log();
    ASSERT_TRUE(waitUntil([&] { return server.requestsFor("/join").size() >= 2; }, 20));
    std::this_thread::sleep_for(std::chrono::seconds(5));
    EXPECT_EQ(server.requestsFor("/api/v1/customer_plugin/check_update").size(), 1u)
        << "once per restoration";
    EXPECT_EQ(
        countOccurrences(log(), "-[OrvoAppUpgrader orvoAppVersionCheck] : Orvo app not found"), 2u)
        << "at launch and once at the restoration";
    std::size_t checks = monitorChecks(server);
    std::this_thread::sleep_for(std::chrono::seconds(4));
    EXPECT_EQ(monitorChecks(server), checks) << "the join page's load stopped the monitor";
    ASSERT_TRUE(closeWindow(*app));
    EXPECT_TRUE(app->waitForExit(20).has_value());
}

// A customer who saw the join page once sees it again, from what the web view kept, when its
// server cannot be reached at the next start.
TEST_F(WebFrontEnd, AJoinPageSeenOnceShowsAgainWhenItsServerIsGone) {
    std::string page = m_home / "join.html";
    writeFile(page,
              "<!doctype html><title>Kept</title><script>"
              "window.addEventListener('load', function () {"
              "  var handlers = window.webkit.messageHandlers;"
              "  handlers.consoleHandler.postMessage('join page for ' + location.search);"
              "  handlers.kelvaneLoaded.postMessage('');"
              "});</script>");
    std::vector<std::string> arguments = {"-KelvaneToken",   "T-5", "-DC", "com",
                                          "-pathForKelvane", "join"};
    const std::string shown = "Console Message from WebView: join page for ?kelvane_token=T-5";
    {
        SubstituteServer server({"--join-page", page});
        useServer(server);
        auto app = launch(arguments);
        ASSERT_TRUE(logShows(shown, 60)) << log();
        // The engine writes what it keeps behind the load.
        std::this_thread::sleep_for(std::chrono::seconds(2));
        ASSERT_TRUE(closeWindow(*app));
        ASSERT_TRUE(app->waitForExit(20).has_value());
    }

    auto app = launch(arguments);
    EXPECT_TRUE(waitUntil([&] { return countOccurrences(log(), shown) == 2; }, 60))
        << "the kept page did not show\n"
        << log();
    EXPECT_THAT(log(), Not(HasSubstr("The window shows NoInternetPage.html")));
    ASSERT_TRUE(closeWindow(*app));
    EXPECT_TRUE(app->waitForExit(20).has_value());
}
