#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <nlohmann/json.hpp>

#include "../support/AppFixture.h"
#include "../support/Files.h"
#include "../support/SubstituteServer.h"

using ::testing::HasSubstr;

namespace fs = std::filesystem;

class JoinAndUpdate : public AppFixture {};

// A newcomer's first join, typed into the form: the server's own answer to agent_version=0 asks
// for its image; while the image downloads, a strip along the window shows how far it is,
// growing, and goes when the download ends; the agent is handed the session and the proxy. The
// strip is read from the window's property, not from pixels.
TEST_F(JoinAndUpdate, AFirstJoinTypedIntoTheFormShowsAGrowingStripAndEndsWithTheAgentsReceipt) {
    SubstituteServer server({"--agent-image", KELVANE_AGENT_IMAGE});
    useServer(server);
    serveAgentImageOver(server, 4);
    nlohmann::json steps = nlohmann::json::array({
        {{"fill",
          {{"host", "proxy.lan"},
           {"port", "3128"},
           {"authRequired", true},
           {"userName", "u"},
           {"password", "p"}}},
         {"submit", "proxy"}},
        {{"fill", {{"sessionKey", "123456789"}, {"email", "ann@acme.example"}}},
         {"submit", "join"}},
    });
    server.setTestScript({{"steps", steps}});

    auto app = launch({"-KelvaneToken", "T-7", "-DC", "com", "-pathForKelvane", "join"});
    std::string receipt = receiptPath();
    std::vector<double> fractions;
    ASSERT_TRUE(waitUntil(
        [&] {
            std::string strip = progressStrip(*app);
            if (!strip.empty() && std::isdigit(static_cast<unsigned char>(strip[0]))) {
                fractions.push_back(std::stod(strip));
                EXPECT_THAT(strip, HasSubstr("|Downloading the support program: "));
            }
            return strip.empty() && fs::exists(receipt);
        },
        90))
        << log();
    ASSERT_GE(fractions.size(), 2u) << "the strip was not seen growing";
    EXPECT_TRUE(std::is_sorted(fractions.begin(), fractions.end()));
    EXPECT_LT(fractions.front(), fractions.back());

    auto handed = nlohmann::json::parse(readFile(receipt));
    EXPECT_EQ(handed["arguments"][0], "-timestamps");
    EXPECT_EQ(handed["joinDetails"], "CONVELO_IND\n&key=123456789&webServerName=" + server.host() +
                                         "&kelvane_token=T-7&c_plugin=true&DC=com&email=ann@acme."
                                         "example&is_custom_domain=false&");
    std::string settings = handed["connectionSettings"].is_string()
                               ? handed["connectionSettings"].get<std::string>()
                               : "";
    EXPECT_THAT(settings, HasSubstr("<string>proxy.lan</string>")) << settings;
    EXPECT_THAT(settings, HasSubstr("<integer>3128</integer>"));
    EXPECT_TRUE(waitUntil([&] { return !fs::exists(m_home.volumes() + "/Orvo"); }, 20))
        << "the agent's volume stayed attached";
    auto checks = server.requestsFor("/api/v2/agent/check_update");
    ASSERT_EQ(checks.size(), 1u);
    EXPECT_EQ(checks[0]["query"], "agent_version=0&agent=mac%2064");
    ASSERT_TRUE(closeWindow(*app));
    EXPECT_TRUE(app->waitForExit(20).has_value());
}

TEST_F(JoinAndUpdate, InstalledOldBuildStagesTheNewOneAndIsReplacedWhenClosed) {
    SubstituteServer server({"--kelvane-image", KELVANE_UPDATE_IMAGE, "--offer-update"});
    std::string installed = m_home / "Applications/Orvo Tendra Kelvane.app";
    fs::create_directories(m_home / "Applications");
    fs::copy(KELVANE_BUNDLE_DIR, installed, fs::copy_options::recursive);
    useServer(server, installed);

    auto old = launch({"-DC", "com", "-pathForKelvane", "join"}, installed);
    ASSERT_TRUE(logShows("Orvo Tendra Kelvane.app file copied to  OrvoKelvaneNative folder", 60))
        << log();
    ASSERT_TRUE(closeWindow(*old));
    ASSERT_TRUE(old->waitForExit(30).has_value());
    EXPECT_TRUE(
        logShows("+[Utils updateKelvaneIfNeeded] Updated Kelvane app Copied to " + installed, 1))
        << log();
    EXPECT_THAT(readFile(installed + "/Contents/Info.plist"), HasSubstr("<string>99.0.0</string>"));

    fs::remove(m_home / "Library/Logs/OrvoTendra/OrvoKelvane/orvoKelvane.log");
    auto renewed = launch({"-DC", "com", "-pathForKelvane", "join"}, installed);
    EXPECT_TRUE(logShows(
        "+[Utils getOrvoKelvaneAppVersion] local Orvo Tendra Kelvane App version : 99.0.0", 30))
        << log();
    ASSERT_TRUE(closeWindow(*renewed));
    EXPECT_TRUE(renewed->waitForExit(30).has_value());
}

// An agent image that cannot be had, and an agent that cannot be started (the server says the
// installed one is current, but there is none), both leave the same message in the strip (which
// stays until dismissed: the accessibility tests dismiss it).
TEST_F(JoinAndUpdate, AnAgentThatCannotBeHadOrStartedLeavesAMessageInTheStrip) {
    SubstituteServer server({"--agent-image", KELVANE_AGENT_IMAGE});
    useServer(server);
    auto check = [](bool needed) {
        return nlohmann::json{
            {"json",
             {{"representation", {{"AGENT", {{"update_needed", needed}, {"download_url", ""}}}}}}}};
    };
    joinWhenThePageLoads(server);
    for (bool needed : {true, false}) {
        SCOPED_TRACE(needed ? "image missing" : "nothing to start");
        server.setRoutes({{"/api/v2/agent/check_update", check(needed)},
                          {"/agent/OrvoMac.dmg", {{"status", 404}}}});
        auto app = launch({"-KelvaneToken", "T-7", "-DC", "com", "-pathForKelvane", "join"});
        std::string failed;
        EXPECT_TRUE(waitUntil(
            [&] {
                std::string strip = progressStrip(*app);
                if (strip.rfind("failed|", 0) == 0) failed = strip;
                return !failed.empty();
            },
            60))
            << log();
        EXPECT_THAT(failed, HasSubstr("The support program could not be prepared"));
        ASSERT_TRUE(closeWindow(*app));
        EXPECT_TRUE(app->waitForExit(20).has_value());
    }
}

// A line that stops mid-download: after a while without a byte the strip says it is waiting
// for the network, keeping how far it got, and goes back to the figures when bytes flow again.
TEST_F(JoinAndUpdate, AStalledDownloadSaysItWaitsForTheNetworkUntilBytesFlowAgain) {
    SubstituteServer server({"--agent-image", KELVANE_AGENT_IMAGE});
    useServer(server);
    auto size = fs::file_size(KELVANE_AGENT_IMAGE);
    server.setRoutes({{"/agent/OrvoMac.dmg",
                       {{"file", KELVANE_AGENT_IMAGE},
                        {"bytesPerSecond", size / 4 + 1},
                        {"pauseAfter", size / 2},
                        {"pauseMs", 22000}}}});
    joinWhenThePageLoads(server);
    auto app = launch({"-KelvaneToken", "T-7", "-DC", "com", "-pathForKelvane", "join"});
    std::vector<std::string> seen;
    ASSERT_TRUE(waitUntil(
        [&] {
            std::string strip = progressStrip(*app);
            if (seen.empty() ? !strip.empty() : seen.back() != strip) seen.push_back(strip);
            return strip.empty() && fs::exists(receiptPath());
        },
        90))
        << log();
    // A slow download's strip stays up all along.
    EXPECT_EQ(std::count(seen.begin(), seen.end() - 1, std::string()), 0)
        << ::testing::PrintToString(seen);
    auto waiting = std::find_if(seen.begin(), seen.end(), [](const std::string& strip) {
        return strip.find("|Waiting for the network…") != std::string::npos;
    });
    ASSERT_NE(waiting, seen.end()) << ::testing::PrintToString(seen);
    EXPECT_NEAR(std::stod(*waiting), 0.5, 0.05) << "the bar keeps how far it got: " << *waiting;
    EXPECT_TRUE(std::any_of(waiting, seen.end(), [](const std::string& strip) {
        return strip.find("|Downloading the support program: ") != std::string::npos;
    })) << ::testing::PrintToString(seen);
    ASSERT_TRUE(closeWindow(*app));
    EXPECT_TRUE(app->waitForExit(20).has_value());
}
