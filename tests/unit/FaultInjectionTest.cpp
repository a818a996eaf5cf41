#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <filesystem>
#include <future>
#include <nlohmann/json.hpp>
#include <thread>

#include "../support/ChildProcess.h"
#include "../support/Files.h"
#include "../support/ServerTest.h"
#include "../support/SubstituteServer.h"
#include "Handlers/ApiHandler.h"
#include "Handlers/ImageTurn.h"
#include "Handlers/KelvanePaths.h"
#include "Handlers/LogHandler.h"
#include "Handlers/OrvoAppUpgrader.h"
#include "Handlers/OrvoDmgDownloader.h"
#include "Objects/SessionDetails.h"
#include "platform/Http.h"
#include "platform/Log.h"
#include "platform/MainLoop.h"
#include "platform/Preferences.h"
#include "platform/PropertyList.h"
#include "platform/Task.h"

using ::testing::HasSubstr;
using ::testing::Not;

namespace fs = std::filesystem;

// Faults of the network, the server, the disk-image tool and the disk, each followed by its
// end: the process keeps going, leaves no half-written file where a good one was, and
// recovers.

namespace {

// Lets writes beyond `bytes` fail as on a full disk (the signal is ignored; writes return an
// error instead).
// Only the soft limit moves, so it can be lifted again without privileges.
void limitFileSize(rlim_t bytes) {
    ::signal(SIGXFSZ, SIG_IGN);
    rlimit limit{};
    ::getrlimit(RLIMIT_FSIZE, &limit);
    limit.rlim_cur = bytes;
    ::setrlimit(RLIMIT_FSIZE, &limit);
}

void liftFileSizeLimit() {
    rlimit limit{};
    ::getrlimit(RLIMIT_FSIZE, &limit);
    limit.rlim_cur = limit.rlim_max;
    ::setrlimit(RLIMIT_FSIZE, &limit);
}

}  // namespace

class ServerFaults : public ServerTest {
  protected:
    // The self-update check against one answer, in a child: its completion and whether
    // the session changed.
    nlohmann::json selfUpdateCheck(const nlohmann::json& answer, const std::string& host = "") {
        m_server.setRoutes({{"/api/v1/customer_plugin/check_update", answer}});
        auto [result, output] = resultOfChild([&] {
            SessionDetails& session = SessionDetails::getInstance();
            session.setWebServerName(host.empty() ? m_server.host() : host);
            session.setLocalOrvoKelvaneAppVersion("1.0.0");
            session.setKelvaneDownloadUrl("unchanged");
            session.setKelvaneToken(std::nullopt);
            session.setKelvaneUpdateNeeded(false);
            std::promise<bool> done;
            ApiHandler::getInstance().checkKelvaneUpdateWithCompletion(
                [&](bool received) { done.set_value(received); });
            auto future = done.get_future();
            if (future.wait_for(std::chrono::seconds(20)) != std::future_status::ready)
                return std::string("hung");
            return nlohmann::json{{"received", future.get()},
                                  {"url", session.kelvaneDownloadUrl().value_or("")}}
                .dump();
        });
        m_lastLog = output;
        return result == "hung" ? nlohmann::json("hung") : nlohmann::json::parse(result);
    }

    std::string m_lastLog;
};

TEST_F(ServerFaults, ApiAnswersThatFailLeaveTheSessionAndTheNextGoodAnswerWorks) {
    for (const nlohmann::json& fault :
         {nlohmann::json{{"status", 500}}, nlohmann::json{{"status", 404}},
          nlohmann::json{{"body", "{\"representation\":"}},
          nlohmann::json{{"body", "<html>Sign in</html>"}, {"contentType", "text/html"}},
          nlohmann::json{{"body", std::string(5000, 'x')}, {"truncateAfter", 10}}}) {
        auto outcome = selfUpdateCheck(fault);
        ASSERT_TRUE(outcome.is_object()) << fault.dump();
        EXPECT_EQ(outcome["url"], "unchanged") << fault.dump();
    }
    // A slow answer is still an answer.
    auto slow = selfUpdateCheck(
        {{"json", {{"representation", {{"download_url", "https://slow.example/a.dmg"}}}}},
         {"bytesPerSecond", 200}});
    EXPECT_EQ(slow["received"], true);
    EXPECT_EQ(slow["url"], "https://slow.example/a.dmg");

    auto refused = selfUpdateCheck({{"status", 200}}, "127.0.0.1:1");
    EXPECT_EQ(refused["received"], false);
    EXPECT_THAT(m_lastLog, HasSubstr("_block_invoke : Check Update failed : "));

    SubstituteServer wrongHost({"--subject-alt-names", "DNS:elsewhere.example"});
    trust(wrongHost);
    auto impostor = selfUpdateCheck({{"status", 200}}, wrongHost.host());
    EXPECT_EQ(impostor["received"], false);
    EXPECT_TRUE(wrongHost.requests().empty());
    trust(m_server);

    auto recovered = selfUpdateCheck(
        {{"json", {{"representation", {{"download_url", "https://ok.example/a.dmg"}}}}}});
    EXPECT_EQ(recovered["received"], true);
    EXPECT_EQ(recovered["url"], "https://ok.example/a.dmg");
}

// The real idle time-out, not a shortened one: a check whose server accepts and then says
// nothing ends in failure after a minute, while other requests keep being answered.
TEST_F(ServerFaults, ApiServerThatNeverAnswersIsGivenUpAfterAMinute) {
    m_server.setRoutes({{"/api/v1/customer_plugin/check_update", {{"hang", true}}},
                        {"/alive", {{"body", "yes"}}}});
    auto [result, log] = resultOfChild([&] {
        SessionDetails& session = SessionDetails::getInstance();
        session.setWebServerName(m_server.host());
        session.setLocalOrvoKelvaneAppVersion("1.0.0");
        std::promise<bool> done;
        auto start = std::chrono::steady_clock::now();
        ApiHandler::getInstance().checkKelvaneUpdateWithCompletion(
            [&](bool received) { done.set_value(received); });
        platform::HttpRequest other;
        other.url = "https://" + m_server.host() + "/alive";
        bool othersAnswered = platform::HttpClient::shared().get(other).body == "yes";
        auto future = done.get_future();
        if (future.wait_for(std::chrono::seconds(150)) != std::future_status::ready)
            return std::string("hung");
        auto waited = std::chrono::duration_cast<std::chrono::seconds>(
            std::chrono::steady_clock::now() - start);
        return nlohmann::json{
            {"received", future.get()}, {"seconds", waited.count()}, {"others", othersAnswered}}
            .dump();
    });
    ASSERT_NE(result, "hung") << log;
    auto outcome = nlohmann::json::parse(result);
    EXPECT_EQ(outcome["received"], false);
    EXPECT_EQ(outcome["others"], true);
    EXPECT_GE(outcome["seconds"].get<int>(), 59);
    EXPECT_LE(outcome["seconds"].get<int>(), 100);
    EXPECT_THAT(log, HasSubstr("_block_invoke : Check Update failed : ")) << log;

    auto recovered = selfUpdateCheck(
        {{"json", {{"representation", {{"download_url", "https://ok.example/b.dmg"}}}}}});
    EXPECT_EQ(recovered["received"], true);
}

class LocalFaults : public ::testing::Test {
  protected:
    TempHome m_home;
};

TEST_F(LocalFaults, FullDiskKeepsTheLastGoodJoinDetailsAndPreferences) {
    std::string folder = m_home / "Library/Application Support/ConveloNative/";
    fs::create_directories(folder);
    std::string details = folder + "orvojoindetails.conf";
    writeFile(details, "CONVELO_IND\n&key=111111111&good=1&");
    std::string preferences =
        m_home / "Library/Preferences/com.Orvo.Tendra.OrvoTendraKelvane.plist";
    writeFile(preferences,
              platform::PropertyList::toXml(platform::PlistDictionary{{"name", "kept"}}));

    int status = 0;
    std::string log = outputOfChild(
        [&] {
            // Content beyond the limit; the limit itself leaves room for this test's own output.
            SessionDetails::getInstance().setSessionKey("123456789");
            SessionDetails::getInstance().setName(
                std::string(200000, 'n'));  // goes to the file, not the log
            platform::Preferences& defaults = platform::Preferences::standardUserDefaults();
            defaults.setString("email", std::string(400000, 'e'));
            limitFileSize(100000);
            OrvoAppUpgrader::getInstance().modifyOrvoJoinDetails();
            bool saved = defaults.synchronize();
            std::printf("\nsaved under the limit: %d\n", saved);
            std::fflush(stdout);
            liftFileSizeLimit();
            SessionDetails::getInstance().setSessionKey("222222222");
            OrvoAppUpgrader::getInstance().modifyOrvoJoinDetails();
            std::printf("saved after: %d\n", defaults.synchronize());
        },
        &status);
    ASSERT_EQ(status, 0) << log.substr(0, 2000);
    EXPECT_THAT(log, HasSubstr("Unable to create New orvojoindetails.conf file by Kelvane")) << log;
    EXPECT_THAT(log, HasSubstr("saved under the limit: 0"));
    EXPECT_THAT(log, HasSubstr("saved after: 1"));
    EXPECT_THAT(readFile(details), HasSubstr("&key=222222222&")) << "recovered";
    auto stored = platform::PropertyList::readFile(preferences);
    ASSERT_TRUE(stored && stored->dictionary());
    EXPECT_EQ(*stored->dictionary()->at("name").string(), "kept");
    EXPECT_EQ(stored->dictionary()->at("email").string()->size(), 400000u);
    for (const auto& entry : fs::directory_iterator(folder)) {
        EXPECT_THAT(entry.path().filename().string(), Not(HasSubstr(".XXXXXX")))
            << "no temporary left";
    }
}

TEST_F(LocalFaults, FullDiskWhileLoggingLosesLinesButNotTheProcessAndLoggingResumes) {
    int status = runInChild([] {
        LogHandler handler;
        handler.createOrvoKelvaneLogFolder();
        limitFileSize(300000);
        for (int i = 0; i < 5000; ++i)
            platform::NSLog("line written while the disk is full " + std::to_string(i));
        platform::MainLoop::main().runUntil([] { return false; }, 0.3);
        liftFileSizeLimit();
        platform::MainLoop::main().runUntil([] { return false; }, 0.3);
        platform::NSLog("after the disk has room again");
        platform::MainLoop::main().runUntil([] { return false; }, 0.3);
        return 0;
    });
    EXPECT_EQ(status, 0);
    std::string folder = m_home / "Library/Logs/OrvoTendra/OrvoKelvane/";
    std::string all;
    for (const auto& entry : fs::directory_iterator(folder)) all += readFile(entry.path().string());
    EXPECT_THAT(all, HasSubstr("after the disk has room again"));
}

// A disk that fills while the agent is copied out of its volume: nothing half-copied is left
// or launched, the failure is announced, and the next install puts every item in whole. The
// volume is attached on another file system (memory-backed), where the copy cannot share the
// volume's data and really writes.
TEST_F(LocalFaults, FullDiskDuringTheAgentCopyLaunchesNothingAndTheNextInstallIsWhole) {
    std::string volumes = "/dev/shm/kelvane-volumes-XXXXXX";
    if (!::mkdtemp(volumes.data()) || sameFileSystem(volumes, m_home.path())) {
        GTEST_SKIP() << "no memory-backed file system at /dev/shm beside the home";
    }
    struct RemoveAfterwards {
        std::string path;
        ~RemoveAfterwards() {
            std::error_code ec;
            fs::remove_all(path, ec);
        }
    } removeVolumes{volumes};
    ScopedEnvironment environment{{"KELVANE_HDIUTIL", KELVANE_HDIUTIL_TOOL},
                                  {"KELVANE_VOLUMES_ROOT", volumes}};
    std::string folder = m_home / "Library/Application Support/ConveloNative/";
    fs::create_directories(folder);
    auto install = [&](bool fullDisk) {
        return outputOfChild([&] {
            fs::copy_file(KELVANE_AGENT_IMAGE, KelvanePaths::agentImage());
            auto mounted = platform::Task::shared().run(
                "/usr/bin/hdiutil", {"mount", KelvanePaths::agentImage()}, false);
            std::printf("mounted: %d\n", mounted.terminationStatus);
            if (fullDisk) limitFileSize(64 * 1024);  // the agent's executable is larger
            auto downloader = std::make_shared<OrvoDmgDownloader>();
            downloader->copyAppFileAndLaunch();
        });
    };
    std::string full = install(true);
    EXPECT_THAT(full, HasSubstr("mounted: 0")) << full;
    EXPECT_THAT(full, HasSubstr("Orvo.app could not be copied : ")) << full;
    EXPECT_THAT(full, HasSubstr("orvo app file not launched"));
    EXPECT_THAT(full, Not(HasSubstr("launched successfully")));
    EXPECT_FALSE(fs::exists(folder + "Orvo.app"));
    for (const auto& entry : fs::directory_iterator(folder))
        EXPECT_NE(entry.path().filename().string()[0], '.') << "left behind: " << entry.path();
    EXPECT_FALSE(fs::exists(volumes + "/Orvo")) << "the volume was detached";

    std::string whole = install(false);
    EXPECT_THAT(whole, HasSubstr("launched successfully")) << whole;
    for (const std::string& item : OrvoDmgDownloader::companionItems()) {
        std::string source = std::string(KELVANE_COMPANIONS) + "/" + item;
        if (fs::is_regular_file(source)) {
            EXPECT_EQ(readFile(folder + item), readFile(source)) << item;
        }
    }
    EXPECT_TRUE(fs::is_regular_file(folder + "Holmir/Contents/README"));
}

// Given an agent image, the substitute server answers the agent check as the service does,
// by the version the application reports; a route still replaces that answer.
TEST(SubstituteServerAgentCheck, AsksForTheImageOnlyWhenNoneOrAnOlderAgentIsInstalled) {
    SubstituteServer server({"--agent-image", KELVANE_AGENT_IMAGE, "--agent-version", "5.10.0"});
    ScopedEnvironment trusted{{"SSL_CERT_FILE", server.caPath()}};
    auto ask = [&](const std::string& installed) {
        platform::HttpRequest request;
        request.url = "https://" + server.host() +
                      "/api/v2/agent/check_update?agent_version=" + installed + "&agent=mac%2064";
        auto answer = platform::HttpClient::shared().get(request);
        EXPECT_EQ(answer.statusCode, 200) << installed;
        return nlohmann::json::parse(answer.body, nullptr, false)["representation"]["AGENT"];
    };
    struct Case {
        const char* installed;
        bool needed;
    };
    for (Case c : {Case{"0", true}, Case{"5.9.2", true}, Case{"4", true}, Case{"5.10.0", false},
                   Case{"5.10.1", false}, Case{"10.0", false}}) {
        auto agent = ask(c.installed);
        EXPECT_EQ(agent["update_needed"], c.needed) << c.installed;
        EXPECT_EQ(agent["download_url"],
                  c.needed ? "https://" + server.host() + "/agent/OrvoMac.dmg" : "")
            << c.installed;
    }
    server.setRoutes({{"/api/v2/agent/check_update",
                       {{"json", {{"representation", {{"AGENT", {{"update_needed", false}}}}}}}}}});
    EXPECT_EQ(ask("0")["update_needed"], false) << "a route replaces the answer";
}
