#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <future>
#include <nlohmann/json.hpp>
#include <thread>

#include "../support/ChildProcess.h"
#include "../support/Deployment.h"
#include "../support/ExpectedLines.h"
#include "../support/Files.h"
#include "../support/LaunchedApp.h"
#include "../support/ServerTest.h"
#include "../support/SubstituteServer.h"
#include "Handlers/ApiHandler.h"
#include "Handlers/DeploymentHosts.h"
#include "Handlers/KelvanePaths.h"
#include "Handlers/OrvoKelvaneUpdater.h"
#include "Handlers/Utils.h"
#include "Objects/SessionDetails.h"
#include "platform/NotificationCenter.h"
#include "platform/PropertyList.h"
#include "platform/Volumes.h"

using ::testing::HasSubstr;

namespace fs = std::filesystem;

// The self-update check, its staging run and the replacement at exit, against the real
// substitute server, the real disk-image tool and the update image. Runs happen in children.
class SelfUpdate : public ServerTest {
  protected:
    void SetUp() override {
        m_environment.set("KELVANE_HDIUTIL", KELVANE_HDIUTIL_TOOL);
        fs::create_directories(nativeFolder());
        ASSERT_TRUE(writeDeployment(m_home / "Deployment.plist", m_server.host()));
    }

    std::string nativeFolder() const {
        return m_home / "Library/Application Support/OrvoKelvaneNativeFolder/";
    }
    std::string installed() const { return m_home / "Applications/Orvo Tendra Kelvane.app"; }
    static std::string versionOf(const std::string& bundle) {
        auto info = platform::PropertyList::readFile(bundle + "/Contents/Info.plist");
        return info && info->dictionary() && info->dictionary()->count("CFBundleShortVersionString")
                   ? *info->dictionary()->at("CFBundleShortVersionString").string()
                   : "<none>";
    }

    // One check in a child, waiting for a staging run it starts; returns its report and log.
    std::pair<nlohmann::json, std::string> check(const nlohmann::json& answer,
                                                 const std::optional<std::string>& token,
                                                 bool knownServer = true) {
        m_server.setRoutes({{"/api/v1/customer_plugin/check_update", answer}});
        m_server.clearRequests();
        auto [result, output] = resultOfChild([&] {
            DeploymentHosts::shared().loadFromFile(m_home / "Deployment.plist");
            SessionDetails& session = SessionDetails::getInstance();
            session.setOrvoKelvaneNativeFolder(nativeFolder());
            if (knownServer) session.setWebServerName(m_server.host());
            session.setLocalOrvoKelvaneAppVersion("1.0.0");
            session.setKelvaneToken(token);
            std::atomic<bool> downloadFailed{false};
            platform::NotificationCenter::defaultCenter().addObserver(
                &downloadFailed, "RetryDMGDownloadig", [&] { downloadFailed = true; });
            std::promise<bool> done;
            ApiHandler::getInstance().checkKelvaneUpdateWithCompletion(
                [&](bool received) { done.set_value(received); });
            bool received = done.get_future().get();
            // A started staging run ends with its detach line; give it the time it needs.
            for (int i = 0; i < 300 && session.kelvaneUpdateNeeded() &&
                            !session.isAppReplaceFlag() && !downloadFailed;
                 ++i) {
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
            }
            OrvoKelvaneUpdater::waitForStagingToSettle(std::chrono::seconds(15));
            return nlohmann::json{{"received", received},
                                  {"url", session.kelvaneDownloadUrl().value_or("<absent>")},
                                  {"update", session.kelvaneUpdateNeeded()},
                                  {"flag", session.isAppReplaceFlag()},
                                  {"server", session.webServerName().value_or("<absent>")}}
                .dump();
        });
        return {nlohmann::json::parse(result), output};
    }
    nlohmann::json offer(bool update, const std::string& url) {
        return {{"json", {{"representation", {{"update", update}, {"download_url", url}}}}}};
    }
};

TEST_F(SelfUpdate, RequestCarriesVersionAndTokenAndNoUpdateStagesNothing) {
    auto [report, log] = check(offer(false, "https://x.example/OrvoTendraKelvane.dmg.dmg"), "T-5");
    EXPECT_EQ(report["received"], true);
    EXPECT_EQ(report["url"], "https://x.example/OrvoTendraKelvane.dmg");
    EXPECT_EQ(report["flag"], false);
    auto sent = m_server.requestsFor("/api/v1/customer_plugin/check_update");
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0]["query"], "os=mac&format=dmg&source=kelvane&version=1.0.0&kelvane_token=T-5");
    EXPECT_FALSE(fs::exists(KelvanePaths::stagedBundle()));
    // The doubled extension is replaced in one pass from the left, as a replace-all does.
    EXPECT_EQ(check(offer(false, "https://x.example/a.dmg.dmg.dmg"), "T-5").first["url"],
              "https://x.example/a.dmg.dmg");

    // Without a token the address ends with the version; without a server the main centre's.
    auto [second, secondLog] = check(offer(false, ""), std::nullopt, false);
    auto tokenless = m_server.requestsFor("/api/v1/customer_plugin/check_update");
    ASSERT_EQ(tokenless.size(), 1u) << secondLog;
    EXPECT_EQ(tokenless[0]["query"], "os=mac&format=dmg&source=kelvane&version=1.0.0");
    EXPECT_EQ(second["server"], m_server.host());

    // An address that cannot be sent as it stands reports false and sends nothing.
    auto [invalid, invalidLog] = check(offer(false, ""), "has blank");
    EXPECT_EQ(invalid["received"], false);
    EXPECT_TRUE(m_server.requestsFor("/api/v1/customer_plugin/check_update").empty());
    auto [failed, failedLog] = check({{"status", 500}}, std::nullopt);
    EXPECT_EQ(failed["received"], false);
    EXPECT_THAT(failedLog, HasSubstr("NSURLConnection failed for this request"));
}

// Servers label JSON and images as HTML: the check reads its answer and the staging run its
// image by what arrives. A page in place of the answer is a network's sign-in page.
TEST_F(SelfUpdate, AnswersAndImagesAreToldByWhatArrivesNotTheirLabel) {
    std::string address = "https://" + m_server.host() + "/agent/OrvoTendraKelvane.dmg";
    m_server.setRoutes({{"/agent/OrvoTendraKelvane.dmg",
                         {{"file", KELVANE_UPDATE_IMAGE}, {"contentType", "text/html"}}}});
    nlohmann::json labelled = offer(true, address);
    labelled["contentType"] = "text/html";
    auto [report, log] = check(labelled, "T");
    EXPECT_EQ(report["received"], true) << log;
    EXPECT_EQ(report["url"], address);
    EXPECT_EQ(report["flag"], true) << log;
    EXPECT_EQ(versionOf(KelvanePaths::stagedBundle()), "99.0.0");

    auto [page, pageLog] =
        check({{"body", "<html>Sign in to continue</html>"}, {"contentType", "text/html"}}, "T");
    EXPECT_EQ(page["received"], false);
    EXPECT_EQ(page["url"], "<absent>");
    EXPECT_THAT(pageLog,
                HasSubstr("checkKelvaneUpdateWithCompletion:]_block_invoke : Check Update "
                          "failed : a network sign-in page answered instead of the server"))
        << pageLog;
}

TEST_F(SelfUpdate, StagingLeavesTheNewBundleRaisesTheFlagAndCleansUp) {
    // First the connection breaks half-way through the image: nothing is staged or left.
    std::string address = "https://" + m_server.host() + "/agent/OrvoTendraKelvane.dmg";
    m_server.setRoutes({{"/agent/OrvoTendraKelvane.dmg",
                         {{"file", KELVANE_UPDATE_IMAGE}, {"truncateAfter", 200000}}}});
    auto [broken, brokenLog] = check(offer(true, address), "T");
    EXPECT_EQ(broken["flag"], false) << brokenLog;
    EXPECT_FALSE(fs::exists(KelvanePaths::stagedBundle()));
    EXPECT_FALSE(fs::exists(KelvanePaths::updateImage()));
    EXPECT_TRUE(logHasLinesInOrder(brokenLog, expectedLines::kStagingDownloadFailed));

    m_server.setRoutes({{"/agent/OrvoTendraKelvane.dmg", {{"file", KELVANE_UPDATE_IMAGE}}}});
    auto [report, log] = check(offer(true, address), "T");
    EXPECT_EQ(report["flag"], true) << log;
    EXPECT_EQ(versionOf(KelvanePaths::stagedBundle()), "99.0.0");
    EXPECT_FALSE(fs::exists(KelvanePaths::updateImage()));
    EXPECT_FALSE(fs::exists(m_home.volumes() + "/Kelvane Plugin"));
    EXPECT_EQ(m_server.requestsFor("/agent/OrvoTendraKelvane.dmg").size(), 1u);
    EXPECT_TRUE(logHasLinesInOrder(log, expectedLines::kStaging));
    // The staged bundle has the modes its image records: its owner can replace and remove it.
    EXPECT_EQ(fs::status(KelvanePaths::stagedBundle() + "/Contents").permissions(),
              fs::perms(0755));
    EXPECT_EQ(fs::status(KelvanePaths::stagedBundle() + "/Contents/Info.plist").permissions(),
              fs::perms(0644));

    // An update offered over cleartext is never fetched.
    std::string plain = "http://" + m_server.host() + "/agent/plain.dmg";
    m_server.setRoutes({{"/agent/plain.dmg", {{"file", KELVANE_UPDATE_IMAGE}}}});
    auto [refused, refusedLog] = check(offer(true, plain), "T");
    EXPECT_THAT(
        refusedLog,
        HasSubstr("_block_invoke : Download failed! Error - cleartext HTTP is refused: " + plain))
        << refusedLog;
    EXPECT_TRUE(m_server.requestsFor("/agent/plain.dmg").empty());
}

// Two checks that both report an update, close together (a restored connection at start-up
// runs a second one): the runs take turns, and a whole new bundle ends staged.
TEST_F(SelfUpdate, TwoRunsCloseTogetherLeaveOneWholeStagedBundle) {
    const std::string path = "/agent/OrvoTendraKelvane.dmg";
    m_server.setRoutes({{path, {{"file", KELVANE_UPDATE_IMAGE}, {"bytesPerSecond", 20000000}}}});
    // Slow mounts: the second download ends while the first run still stages.
    std::string tool = m_home / "slow-hdiutil";
    writeFile(tool,
              "#!/bin/sh\nif [ \"$1\" = mount ]; then sleep 2; fi\nexec '" KELVANE_HDIUTIL_TOOL
              "' \"$@\"\n");
    fs::permissions(tool, fs::perms::owner_all);
    m_environment.set("KELVANE_HDIUTIL", tool);
    std::string log = outputOfChild([&] {
        SessionDetails& session = SessionDetails::getInstance();
        session.setOrvoKelvaneNativeFolder(nativeFolder());
        session.setKelvaneDownloadUrl("https://" + m_server.host() + path);
        session.setKelvaneUpdateNeeded(true);
        OrvoKelvaneUpdater::getInstance()->checkOrvoKelvaneUpdate();
        // The second check reports the update while the first run downloads.
        waitUntil([&] { return !m_server.requestsFor(path).empty(); }, 20);
        OrvoKelvaneUpdater::getInstance()->checkOrvoKelvaneUpdate();
        // Once both downloads have left their hidden files, both runs count as staging.
        auto downloading = [&] {
            for (const auto& entry : fs::directory_iterator(nativeFolder())) {
                if (entry.path().filename().string().find(".kelvane-copying-") != std::string::npos)
                    return true;
            }
            return m_server.requestsFor(path).size() < 2;
        };
        for (int i = 0; i < 1200 && downloading(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        OrvoKelvaneUpdater::waitForStagingToSettle(std::chrono::seconds(60));
        std::printf("flag=%d\n", int(session.isAppReplaceFlag()));
    });
    EXPECT_EQ(countOccurrences(log, "file copied to  OrvoKelvaneNative folder"), 2u) << log;
    EXPECT_THAT(log, HasSubstr("flag=1"));
    EXPECT_EQ(versionOf(KelvanePaths::stagedBundle()), "99.0.0");
    EXPECT_FALSE(fs::exists(KelvanePaths::updateImage()));
    EXPECT_TRUE(fs::is_empty(m_home.volumes())) << "both volumes were detached";
}

TEST_F(SelfUpdate, AnotherKelvanePluginVolumeIsCopiedFromAndOnlyTheUpdateIsDetached) {
    // As on macOS, the copy reads the fixed volume path: here an older
    // volume already mounted there.
    std::string older = m_home.volumes() + "/Kelvane Plugin";
    fs::create_directories(older);
    fs::copy(KELVANE_BUNDLE_DIR, older + "/Orvo Tendra Kelvane.app", fs::copy_options::recursive);
    ASSERT_TRUE(platform::AttachedImages::shared().record(older, "older.dmg"));
    m_server.setRoutes({{"/agent/OrvoTendraKelvane.dmg", {{"file", KELVANE_UPDATE_IMAGE}}}});
    auto [report, log] =
        check(offer(true, "https://" + m_server.host() + "/agent/OrvoTendraKelvane.dmg"), "T");
    EXPECT_EQ(report["flag"], true) << log;
    EXPECT_TRUE(fs::exists(older)) << "the other volume stays mounted";
    EXPECT_FALSE(fs::exists(older + " 1")) << "the update's own volume was detached";
    EXPECT_NE(versionOf(KelvanePaths::stagedBundle()), "99.0.0");
}

TEST_F(SelfUpdate, ExitReplacesOnlyAnExistingInstallationAndWaitsForStaging) {
    auto exitStep = [&](bool flag) {
        return outputOfChild([&] {
            SessionDetails::getInstance().setIsAppReplaceFlag(flag);
            SessionDetails::getInstance().setOrvoKelvaneNativeFolder(nativeFolder());
            SessionDetails::getInstance().setLocalOrvoKelvaneAppVersion("1.0.0");
            Utils::updateKelvaneIfNeeded();
        });
    };
    std::string down = exitStep(false);
    EXPECT_THAT(down, HasSubstr("There is No Updated App downloaded from server."));

    fs::copy(std::string(KELVANE_UPDATE_IMAGE_BUNDLE), KelvanePaths::stagedBundle(),
             fs::copy_options::recursive);
    std::string missing = exitStep(true);
    EXPECT_THAT(missing, HasSubstr("Failed to Remove Existing old Kelvane app (1.0.0) in folder " +
                                   installed()));
    EXPECT_FALSE(fs::exists(installed()));

    fs::create_directories(m_home / "Applications");
    fs::copy(KELVANE_BUNDLE_DIR, installed(), fs::copy_options::recursive);
    // A staging run still copying: the exit waits for it, then installs.
    std::string replaced = outputOfChild([&] {
        SessionDetails::getInstance().setIsAppReplaceFlag(true);
        SessionDetails::getInstance().setOrvoKelvaneNativeFolder(nativeFolder());
        auto run = std::make_unique<OrvoKelvaneUpdater::StagingRun>();
        std::thread finisher([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(800));
            std::printf("staging finished\n");
            std::fflush(stdout);
            run.reset();
        });
        Utils::updateKelvaneIfNeeded();
        finisher.join();
    });
    EXPECT_LT(replaced.find("staging finished"), replaced.find("Updated Kelvane app Copied to"))
        << replaced;
    EXPECT_EQ(versionOf(installed()), "99.0.0");
    // The outgoing bundle is gone, under whatever name it was swapped out.
    std::vector<std::string> applications;
    for (const auto& entry : fs::directory_iterator(m_home / "Applications"))
        applications.push_back(entry.path().filename().string());
    EXPECT_EQ(applications, std::vector<std::string>{"Orvo Tendra Kelvane.app"});
    EXPECT_TRUE(fs::exists(KelvanePaths::stagedBundle())) << "the staged bundle stays";
    EXPECT_EQ(countOccurrences(replaced, "Orvo Kelvane App terminated"), 1u);
}
