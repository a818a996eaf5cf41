#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "../support/AppFixture.h"
#include "../support/ConnectProxy.h"
#include "../support/Files.h"
#include "../support/PrivateKeyring.h"
#include "../support/SubstituteServer.h"

using ::testing::HasSubstr;
using ::testing::Not;
namespace fs = std::filesystem;

// The desktop's proxy, set the way GNOME's network settings set it, for the application's own
// requests as for its web view. The service's host name resolves only at the proxy, so a
// request that skipped it could not reach the server.
class DesktopProxy : public AppFixture {
  protected:
    void SetUp() override {
        AppFixture::SetUp();
        m_environment.set("SSL_CERT_FILE", m_server.caPath());
        pointDeploymentAt(host());
        m_environment.set("XDG_CURRENT_DESKTOP", "GNOME");
        m_environment.set("GSETTINGS_BACKEND", "keyfile");
        m_environment.set("XDG_CONFIG_HOME", m_home / ".config");
    }
    std::string host() const { return "kelvane-service.test:" + std::to_string(m_server.port()); }
    void setDesktopProxy(const std::string& ignoreHosts) {
        fs::create_directories(m_home / ".config/glib-2.0/settings");
        writeFile(m_home / ".config/glib-2.0/settings/keyfile",
                  "[system/proxy]\nmode='manual'\nignore-hosts=" + ignoreHosts +
                      "\n\n[system/proxy/https]\nhost='127.0.0.1'\nport=" +
                      std::to_string(m_proxy.port()) + "\n");
    }

    SubstituteServer m_server{{"--agent-image", KELVANE_AGENT_IMAGE, "--kelvane-image",
                               KELVANE_UPDATE_IMAGE, "--subject-alt-names",
                               "DNS:kelvane-service.test"}};
    ConnectProxy m_proxy{{std::nullopt, {{"kelvane-service.test", "127.0.0.1"}}}};
};

TEST_F(DesktopProxy, EveryKindOfRequestGoesThroughItFromTheLookupToTheStagedUpdate) {
    setDesktopProxy("@as []");
    m_server.setRoutes(
        {{"/api/v2/agent/check_update",
          {{"json",
            {{"representation", {{"AGENT", {{"update_needed", true}, {"download_url", ""}}}}}}}}},
         {"/api/v1/customer_plugin/check_update",
          {{"json",
            {{"representation",
              {{"update", true},
               {"download_url", "https://" + host() + "/agent/OrvoTendraKelvane.dmg"}}}}}}}});
    joinWhenThePageLoads(m_server);
    auto app = launch({"-KelvaneToken", "T-7", "-DC", "com", "-pathForKelvane", "join"});
    std::string receipt = receiptPath();
    ASSERT_TRUE(waitUntil([&] { return fs::exists(receipt); }, 90)) << log();
    EXPECT_TRUE(logShows("Orvo Tendra Kelvane.app file copied to  OrvoKelvaneNative folder", 60))
        << log();
    for (const char* path :
         {"/api/v2/service_domain", "/join", "/api/v2/agent/check_update", "/agent/OrvoMac.dmg",
          "/api/v1/customer_plugin/check_update", "/agent/OrvoTendraKelvane.dmg"}) {
        EXPECT_FALSE(m_server.requestsFor(path).empty()) << path << " never arrived\n" << log();
    }
    EXPECT_THAT(m_proxy.tunnels(), ::testing::Contains(host()));
    EXPECT_THAT(log(), HasSubstr("+[ProxyDecision proxyForURL:] : Requests to " + host() +
                                 " go through the proxy http://127.0.0.1:" +
                                 std::to_string(m_proxy.port())));
    ASSERT_TRUE(closeWindow(*app));
    EXPECT_TRUE(app->waitForExit(20).has_value());
}

TEST_F(DesktopProxy, AHostTheSettingsExemptIsAskedDirectly) {
    setDesktopProxy("['kelvane-service.test']");
    auto app = launch({"-KelvaneToken", "T-7", "-DC", "com", "-pathForKelvane", "join"});
    EXPECT_TRUE(logShows("Requests to " + host() + " go directly, without a proxy", 30)) << log();
    EXPECT_TRUE(logShows("+[Utils getCustomDomain] : Check Update failed : ", 30)) << log();
    EXPECT_TRUE(m_proxy.tunnels().empty());
    ASSERT_TRUE(closeWindow(*app));
    EXPECT_TRUE(app->waitForExit(20).has_value());
}

// A network that inspects TLS with an authority this computer does not trust, and a service
// that is away when the application starts: the page would load (the web view accepts the
// certificate), so the reachability check accepts it too and the offline page gives way as
// soon as the server listens. Why the checks failed is logged once, not every 2 s.
class UntrustedService : public AppFixture {};

TEST_F(UntrustedService, TheJoinPageComesBackOnceTheServerListens) {
    int port = 0;
    {
        // A port nobody listens on yet, for the server that comes later.
        SubstituteServer probe;
        port = probe.port();
    }
    pointDeploymentAt("127.0.0.1:" + std::to_string(port));
    auto app = launch({"-KelvaneToken", "T-33", "-DC", "com", "-pathForKelvane", "join"});
    ASSERT_TRUE(logShows("URL NetTest", 30)) << log();
    ASSERT_TRUE(logShows("The join page cannot be reached: ", 30)) << log();
    std::this_thread::sleep_for(std::chrono::seconds(5));  // two more failed checks
    EXPECT_EQ(countOccurrences(log(), "The join page cannot be reached: "), 1u) << log();

    SubstituteServer server({"--port", std::to_string(port)});
    EXPECT_TRUE(waitUntil([&] { return !server.requestsFor("/join").empty(); }, 30)) << log();
    EXPECT_TRUE(logShows("The join page can be reached again", 10)) << log();
    ASSERT_TRUE(closeWindow(*app));
    EXPECT_TRUE(app->waitForExit(20).has_value());
}

// The desktop's proxy asks for a user name and password from the start. The window asks the
// customer over the page; a wrong answer is asked again, the right one loads the page and is
// kept in the desktop's keyring, from where the next start takes it for our own requests and
// the page alike. A cancelled prompt leaves a page that says what the proxy wants.
class AskingProxy : public AppFixture {
  protected:
    void SetUp() override {
        AppFixture::SetUp();
        if (IsSkipped()) return;
        m_environment.set("SSL_CERT_FILE", m_server.caPath());
        pointDeploymentAt("kelvane-service.test:" + std::to_string(m_server.port()));
        m_environment.set("XDG_CURRENT_DESKTOP", "GNOME");
        m_environment.set("GSETTINGS_BACKEND", "keyfile");
        m_environment.set("XDG_CONFIG_HOME", m_home / ".config");
        fs::create_directories(m_home / ".config/glib-2.0/settings");
        writeFile(m_home / ".config/glib-2.0/settings/keyfile",
                  "[system/proxy]\nmode='manual'\n\n[system/proxy/https]\nhost='127.0.0.1'\nport=" +
                      std::to_string(m_proxy.port()) + "\n");
        m_server.setRoutes({{"/api/v2/service_domain",
                             {{"json", {{"representation", {{"service_domain", ""}}}}}}}});
        m_keyring = std::make_unique<PrivateKeyring>(m_home.path());
    }
    // Types into the prompt as the customer would; false when no prompt came.
    bool answerPrompt(const std::string& user, const std::string& password) {
        std::string command =
            "id=$(timeout 30 xdotool search --sync --onlyvisible --name '^Proxy sign-in$' | "
            "head -1) && [ -n \"$id\" ] && xdotool windowfocus --sync \"$id\" && sleep 0.3 && "
            "xdotool type --delay 20 '" +
            user + "' && xdotool key Tab && xdotool type --delay 20 '" + password +
            "' && xdotool key Return";
        return std::system(command.c_str()) == 0;
    }
    bool joinPageLoaded(std::size_t count, double seconds) {
        return waitUntil([&] { return m_server.requestsFor("/join").size() >= count; }, seconds);
    }

    SubstituteServer m_server{{"--subject-alt-names", "DNS:kelvane-service.test"}};
    ConnectProxy m_proxy{{std::make_pair(std::string("ann"), std::string("s3cret")),
                          {{"kelvane-service.test", "127.0.0.1"}}}};
    std::unique_ptr<PrivateKeyring> m_keyring;
};

TEST_F(AskingProxy, TheWindowAsksKeepsTheAnswerInTheKeyringAndAsksAgainWhenItIsWrong) {
    const std::vector<std::string> request = {"-KelvaneToken", "T-407",           "-DC",
                                              "com",           "-pathForKelvane", "join"};
    {
        auto app = launch(request);
        ASSERT_TRUE(answerPrompt("ann", "wrong")) << log();
        ASSERT_TRUE(
            logShows("asks for a user name and password again: it refused the last ones", 30))
            << log();
        ASSERT_TRUE(answerPrompt("ann", "s3cret")) << log();
        EXPECT_TRUE(joinPageLoaded(1, 30)) << log();
        EXPECT_THAT(log(), Not(HasSubstr("s3cret")));
        ASSERT_TRUE(closeWindow(*app));
        EXPECT_TRUE(app->waitForExit(20).has_value());
    }
    EXPECT_EQ(PrivateKeyring::lookup("host 127.0.0.1 port " + std::to_string(m_proxy.port())),
              "s3cret");

    // The next start asks nothing: our own requests and the page use what the keyring keeps.
    fs::remove(m_home / "Library/Logs/OrvoTendra/OrvoKelvane/orvoKelvane.log");
    std::size_t lookups = m_server.requestsFor("/api/v2/service_domain").size();
    {
        auto app = launch(request);
        EXPECT_TRUE(joinPageLoaded(2, 30)) << log();
        EXPECT_EQ(m_server.requestsFor("/api/v2/service_domain").size(), lookups + 1)
            << "the start's lookup went through the proxy";
        EXPECT_THAT(log(), HasSubstr("come from the desktop's keyring"));
        EXPECT_THAT(log(), Not(HasSubstr("the window asks for them")));
        ASSERT_TRUE(closeWindow(*app));
        EXPECT_TRUE(app->waitForExit(20).has_value());
    }
}

TEST_F(AskingProxy, ACancelledPromptShowsThePageThatSaysWhatTheProxyWants) {
    auto app = launch({"-KelvaneToken", "T-407", "-DC", "com", "-pathForKelvane", "join"});
    std::string cancel =
        "id=$(timeout 30 xdotool search --sync --onlyvisible --name '^Proxy sign-in$' | head -1) "
        "&& xdotool windowfocus --sync \"$id\" && sleep 0.3 && xdotool key Escape";
    ASSERT_EQ(std::system(cancel.c_str()), 0) << log();
    EXPECT_TRUE(logShows("The window shows ProxySignInPage.html", 30)) << log();
    std::this_thread::sleep_for(std::chrono::seconds(5));
    EXPECT_THAT(log(), Not(HasSubstr("The window shows NoInternetPage.html")));
    EXPECT_EQ(countOccurrences(log(), "the window asks for them"), 1u) << "asked again unasked";
    EXPECT_TRUE(m_server.requestsFor("/join").empty());
    ASSERT_TRUE(closeWindow(*app));
    EXPECT_TRUE(app->waitForExit(20).has_value());
}

// A SOCKS proxy that alone knows the service's name, named "socks://" as the desktops'
// proxy libraries and the proxy variables name it: the name must travel to it unresolved, for
// our own requests (the start's lookup) and the page alike.
TEST_F(DesktopProxy, ASocksProxyIsHandedTheServiceNameToResolve) {
    m_environment.set("XDG_CURRENT_DESKTOP", "X-Generic");
    m_environment.set("https_proxy", "socks://127.0.0.1:" + std::to_string(m_proxy.port()));
    auto app = launch({"-KelvaneToken", "T-7", "-DC", "com", "-pathForKelvane", "join"});
    EXPECT_TRUE(waitUntil([&] { return !m_server.requestsFor("/join").empty(); }, 30)) << log();
    EXPECT_EQ(m_server.requestsFor("/api/v2/service_domain").size(), 1u) << log();
    EXPECT_THAT(log(),
                HasSubstr("Requests to " + host() + " go through the proxy socks5h://127.0.0.1:" +
                          std::to_string(m_proxy.port())));
    EXPECT_THAT(m_proxy.tunnels(), ::testing::Contains(host()))
        << "the proxy was handed an address, not the name";
    ASSERT_TRUE(closeWindow(*app));
    EXPECT_TRUE(app->waitForExit(20).has_value());
}
