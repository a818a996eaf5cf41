#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "Deployment.h"
#include "Files.h"
#include "LaunchedApp.h"
#include "ScopedEnvironment.h"
#include "SubstituteServer.h"
#include "TempHome.h"
#include "platform/PropertyList.h"

// The real application from a copy of the built bundle whose deployment hosts all point at
// one host, in a temporary home, under the test's X display.
class AppFixture : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!std::getenv("DISPLAY")) GTEST_SKIP() << "needs an X display (run under xvfb-run)";
        m_bundle = m_home / "Downloads/Orvo Tendra Kelvane.app";
        std::filesystem::create_directories(m_home / "Downloads");
        std::filesystem::copy(KELVANE_BUNDLE_DIR, m_bundle,
                              std::filesystem::copy_options::recursive);
    }
    // Trusts the server's authority and points every data centre of the bundle at it.
    void useServer(const SubstituteServer& server, const std::string& bundle = "") {
        m_environment.set("SSL_CERT_FILE", server.caPath());
        pointDeploymentAt(server.host(), bundle);
    }
    void pointDeploymentAt(const std::string& host, const std::string& bundle = "") {
        ASSERT_TRUE(writeDeployment(
            (bundle.empty() ? m_bundle : bundle) + "/Contents/Resources/Deployment.plist", host));
    }
    std::unique_ptr<LaunchedApp> launch(const std::vector<std::string>& arguments,
                                        const std::string& bundle = "") {
        return std::make_unique<LaunchedApp>(
            (bundle.empty() ? m_bundle : bundle) + "/Contents/MacOS/OrvoTendraKelvane", arguments,
            m_home.path(), m_home / "launch-output.txt");
    }
    bool closeWindow(const LaunchedApp& app,
                     const std::string& title = "Orvo Tendra - Kelvane") const {
        std::string command = std::string("'") + KELVANE_CLOSE_WINDOW_TOOL + "' '" + title +
                              "' 30 " + std::to_string(app.pid());
        return std::system(command.c_str()) == 0;
    }
    // The window's progress strip as "<fraction|pulsing|failed>|<text>", empty while hidden.
    std::string progressStrip(const LaunchedApp& app) const {
        std::string command = std::string("KELVANE_PRINT_STRIP=1 '") + KELVANE_CLOSE_WINDOW_TOOL +
                              "' 'Orvo Tendra - Kelvane' 5 " + std::to_string(app.pid());
        std::string text;
        if (FILE* pipe = ::popen(command.c_str(), "r")) {
            char buffer[512];
            while (std::size_t read = std::fread(buffer, 1, sizeof buffer, pipe))
                text.append(buffer, read);
            ::pclose(pipe);
        }
        return text;
    }
    // The agent's image, served over about `seconds`, so that its download can be watched.
    static void serveAgentImageOver(SubstituteServer& server, int seconds) {
        auto size = std::filesystem::file_size(KELVANE_AGENT_IMAGE);
        server.setRoutes(
            {{"/agent/OrvoMac.dmg",
              {{"file", KELVANE_AGENT_IMAGE}, {"bytesPerSecond", size / seconds + 1}}}});
    }
    // The customer joins session 123456789 as soon as the join page has loaded.
    static void joinWhenThePageLoads(SubstituteServer& server) {
        server.setTestScript(
            {{"steps",
              {{{"name", "sendJoinDetailsToNative"},
                {"body", R"({"sessionKey":123456789,"email":"ann@acme.example"})"}}}}});
    }
    std::string receiptPath() const {
        return m_home / "Library/Application Support/ConveloNative/OrvoAgentReceipt.json";
    }
    std::string preferencesPath() const {
        return m_home / "Library/Preferences/com.Orvo.Tendra.OrvoTendraKelvane.plist";
    }
    // The after-launch work runs in the background and ends by storing a preference; a test
    // that looks at its results closes the window only after that, as a person would a moment
    // after the window appeared.
    bool launchWorkDone() const {
        return waitUntil(
            [&] {
                return readFile(preferencesPath())
                           .find("WebKitOfflineWebApplicationCacheEnabled") != std::string::npos;
            },
            20);
    }
    std::string log() const {
        return readFile(m_home / "Library/Logs/OrvoTendra/OrvoKelvane/orvoKelvane.log");
    }
    bool logShows(const std::string& text, double seconds) const {
        return waitUntil([&] { return log().find(text) != std::string::npos; }, seconds);
    }

    TempHome m_home;
    std::string m_bundle;
    ScopedEnvironment m_environment;
};
