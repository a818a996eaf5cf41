#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>

#include "../support/AppFixture.h"
#include "../support/FakeUrlHandler.h"
#include "../support/SubstituteServer.h"

using ::testing::HasSubstr;
using ::testing::Not;

namespace fs = std::filesystem;

// The join page window with pages that use ordinary web features: windows the page opens,
// frames of other hosts, cookies across starts, and a page the view cannot show. The
// session's server is 127.0.0.1:<port>; "localhost:<port>" is the same server under a name
// the navigation rules treat as another host.
class JoinPageFidelity : public AppFixture {
  protected:
    void SetUp() override {
        AppFixture::SetUp();
        if (IsSkipped()) return;
        useServer(m_server);
        m_other = "https://localhost:" + std::to_string(m_server.port());
    }
    void servePage(const std::string& html) {
        m_server.setRoutes(
            {{"/fidelity", {{"body", html}, {"contentType", "text/html"}}},
             {"/framed", {{"body", "<img src=\"/framed-pixel\">"}, {"contentType", "text/html"}}},
             // A frame whose script follows the service's own link.
             {"/framed-link",
              {{"body",
                "<script>setTimeout(() => { location.href = \"orvojoin:987654321\"; }, "
                "300);</script>"},
               {"contentType", "text/html"}}}});
    }
    std::unique_ptr<LaunchedApp> start() {
        return launch({"-KelvaneToken", "T-f", "-DC", "com", "-pathForKelvane", "fidelity"});
    }
    bool pageSays(const std::string& text, double seconds) {
        return logShows("Console Message from WebView: " + text, seconds);
    }

    SubstituteServer m_server;
    std::string m_other;
};

TEST_F(JoinPageFidelity, PageOpenedWindowsFramesAndScriptLoadsFollowTheNavigationRules) {
    FakeUrlHandler handler(m_home, {"orvojoin"});
    servePage(R"(<!doctype html><html><body>
<a id="away" href=")" +
              m_other + R"(/away" target="_blank">away</a>
<a id="deep" href="orvojoin:123456789" target="_blank">deep</a>
<iframe src=")" +
              m_other + R"(/framed"></iframe>
<iframe src="/framed-link"></iframe>
<script>
const post = (text) => window.webkit.messageHandlers.consoleHandler.postMessage(text);
window.webkit.messageHandlers.kelvaneLoaded.postMessage("");
setTimeout(() => document.getElementById("away").click(), 300);
setTimeout(() => document.getElementById("deep").click(), 600);
setTimeout(() => window.open(")" +
              m_other + R"(/popup"), 900);
setTimeout(() => { location.href = ")" +
              m_other + R"(/script-away"; }, 1200);
setTimeout(() => post("still here"), 15000);
</script></body></html>)");
    auto app = start();

    // A deep link in a new window, and one a frame's script follows, reach the desktop's
    // handler, and nothing is loaded for them.
    ASSERT_TRUE(waitUntil(
        [&] {
            std::string opened = handler.openedText();
            return opened.find("orvojoin:123456789\n") != std::string::npos &&
                   opened.find("orvojoin:987654321\n") != std::string::npos;
        },
        60))
        << handler.openedText() << log();
    EXPECT_TRUE(logShows("handleDeepLink(_:) : Handling deep link: orvojoin:123456789", 5));
    EXPECT_TRUE(logShows("handleDeepLink(_:) : Handling deep link: orvojoin:987654321", 5));
    // A frame of another host loads, with what it shows.
    EXPECT_TRUE(waitUntil([&] { return !m_server.requestsFor("/framed-pixel").empty(); }, 20));
    // The page stays: refused new windows and the main frame's script load to another host are
    // cancelled, and no time-out reports them as failures later.
    ASSERT_TRUE(pageSays("still here", 40)) << log();
    std::string seen = log();
    EXPECT_THAT(seen, Not(HasSubstr("URL NetTest"))) << "no failure, no offline page\n" << seen;
    EXPECT_THAT(seen, Not(HasSubstr("Page failed to load")));
    EXPECT_TRUE(m_server.requestsFor("/away").empty()) << "a refused new window sends nothing";
    EXPECT_TRUE(m_server.requestsFor("/popup").empty());
    EXPECT_EQ(m_server.requestsFor("/fidelity").size(), 1u) << "the join page was never reloaded";
    ASSERT_TRUE(closeWindow(*app));
    EXPECT_TRUE(app->waitForExit(20).has_value());
}

TEST_F(JoinPageFidelity, LastingCookiesSurviveARestartAndSessionCookiesDoNot) {
    servePage(R"(<!doctype html><html><body><script>
window.webkit.messageHandlers.kelvaneLoaded.postMessage("");
document.cookie = "lasting=kept; Max-Age=86400; Secure; SameSite=Lax; Path=/";
document.cookie = "session=gone; Secure; SameSite=Lax; Path=/";
window.webkit.messageHandlers.consoleHandler.postMessage("cookies set: " + document.cookie);
</script></body></html>)");
    auto first = start();
    ASSERT_TRUE(pageSays("cookies set: ", 60)) << log();
    ASSERT_TRUE(launchWorkDone());
    ASSERT_TRUE(closeWindow(*first));
    ASSERT_TRUE(first->waitForExit(20).has_value());

    auto second = start();
    ASSERT_TRUE(waitUntil([&] { return m_server.requestsFor("/fidelity").size() >= 2; }, 60))
        << log();
    auto again = m_server.requestsFor("/fidelity")[1];
    std::string cookies = again["headers"].value("Cookie", "");
    EXPECT_THAT(cookies, HasSubstr("lasting=kept")) << again.dump(2);
    EXPECT_THAT(cookies, Not(HasSubstr("session=gone"))) << cookies;
    ASSERT_TRUE(launchWorkDone());
    ASSERT_TRUE(closeWindow(*second));
    EXPECT_TRUE(second->waitForExit(20).has_value());
}

TEST_F(JoinPageFidelity, AJoinPageTheViewCannotShowLeadsToTheOfflinePage) {
    m_server.setRoutes(
        {{"/fidelity",
          {{"body", std::string(4096, '\x01')}, {"contentType", "application/octet-stream"}}}});
    auto app = start();
    EXPECT_TRUE(
        logShows("URL NetTest : https://" + m_server.host() + "/fidelity?kelvane_token=T-f", 60))
        << log();
    EXPECT_FALSE(fs::exists(m_home / "Downloads/fidelity")) << "nothing is saved as a download";
    ASSERT_TRUE(launchWorkDone());
    ASSERT_TRUE(closeWindow(*app));
    EXPECT_TRUE(app->waitForExit(20).has_value());
}
