#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <filesystem>
#include <future>
#include <nlohmann/json.hpp>
#include <thread>

#include "../support/BuildKind.h"
#include "../support/ChildProcess.h"
#include "../support/ExpectedLines.h"
#include "../support/Files.h"
#include "../support/LaunchedApp.h"
#include "../support/ServerTest.h"
#include "../support/SubstituteServer.h"
#include "AppDelegate.h"
#include "Handlers/ApiHandler.h"
#include "Handlers/ImageTurn.h"
#include "Handlers/LogHandler.h"
#include "Handlers/NativeMessageHandler.h"
#include "Handlers/OrvoAppUpgrader.h"
#include "Handlers/OrvoDmgDownloader.h"
#include "Handlers/Utils.h"
#include "Objects/SessionDetails.h"
#include "platform/PropertyList.h"
#include "platform/SystemVersion.h"

using ::testing::HasSubstr;
using ::testing::Not;

namespace fs = std::filesystem;

// Agent provisioning against the real substitute server, the real disk-image tool and the
// stand-in agent. Each run happens in a child process, which waits for the run to settle.
class Provisioning : public ServerTest {
  protected:
    void SetUp() override {
        m_environment.set("KELVANE_HDIUTIL", KELVANE_HDIUTIL_TOOL);
        fs::create_directories(folder());
    }

    std::string folder() const { return m_home / "Library/Application Support/ConveloNative/"; }
    std::string receiptPath() const { return folder() + "OrvoAgentReceipt.json"; }

    // Fills the session as a join leaves it, runs the hand-over, and waits until the run has
    // detached its volume (or the time is up). Returns everything the run logged.
    std::string provision(bool updateNeeded) {
        return outputOfChild([&] {
            SessionDetails& session = SessionDetails::getInstance();
            session.setWebServerName(m_server.host());
            session.setSessionKey("123456789");
            session.setKelvaneToken("T-9");
            session.setDcName("com");
            session.setName("ann@acme.example");
            session.setCustomDomainEnabled("false");
            session.setIsUpdateNeeded(updateNeeded);
            OrvoAppUpgrader::getInstance().orvoAppUpdater();
            // The run lets go of its pass after its last step: entering waits for that.
            (void)ImageTurn::take(ImageTurn::Image::agent);
        });
    }
    // Two joins, the second made once the first run has asked for its image (and so holds the
    // agent's turn), with `laterKey` as its session key when given. Waits until both runs have
    // let go of the turn; returns everything they logged.
    std::string twoJoinsCloseTogether(const std::optional<std::string>& laterKey = std::nullopt) {
        return outputOfChild([&] {
            SessionDetails& session = SessionDetails::getInstance();
            session.setWebServerName(m_server.host());
            session.setIsUpdateNeeded(true);
            std::thread first([] { OrvoAppUpgrader::getInstance().orvoAppUpdater(); });
            waitUntil([&] { return !m_server.requestsFor("/agent/OrvoMac.dmg").empty(); }, 20);
            if (laterKey) session.setSessionKey(*laterKey);
            std::thread second([] { OrvoAppUpgrader::getInstance().orvoAppUpdater(); });
            first.join();
            second.join();
            (void)ImageTurn::take(ImageTurn::Image::agent);
        });
    }
    bool receiptArrives() const {
        return waitUntil([&] { return fs::exists(receiptPath()); }, 20);
    }
    std::string image(const std::string& name, bool withAgent, bool withHolmir = true) {
        std::string output = m_home / (name + ".dmg");
        std::string command = std::string("'") + KELVANE_SOURCE_DIR +
                              "/scripts/make-image.sh' --volume Orvo --output '" + output + "'";
        if (withAgent) command += std::string(" '") + KELVANE_AGENT_BUNDLE + "'";
        for (const char* item : {"Vellisk", "Quendar", "Brakkon", "Fenwyl", "Sardane", "Holmir"}) {
            if (std::string(item) == "Holmir" && !withHolmir) continue;
            command += std::string(" '") + KELVANE_COMPANIONS + "/" + item + "'";
        }
        EXPECT_EQ(std::system(command.c_str()), 0);
        return output;
    }
};

TEST_F(Provisioning, FreshInstallEndsWithTheAgentRunningAndNothingLeftOver) {
    m_server.setRoutes({{"/agent/OrvoMac.dmg", {{"file", KELVANE_AGENT_IMAGE}}}});
    // An image an ended run left behind gives way to the new download.
    writeFile(folder() + "OrvoMac.dmg", "stale image");
    std::string log = provision(true);
    ASSERT_TRUE(receiptArrives()) << log;
    auto receipt = nlohmann::json::parse(readFile(receiptPath()));
    EXPECT_EQ(receipt["arguments"], nlohmann::json(OrvoDmgDownloader::launchArguments()));
    EXPECT_EQ(receipt["arguments"][1],
              R"({"M3":"Agent downloaded time : 00:00:00 | Server : CDN",)"
              R"("M2":"Session Validated : 00:00:00",)"
              R"("M1":"Join Launched time : 00:00:00","M4":"Agent launched time : 00:00:00"})");
    EXPECT_EQ(receipt["joinDetails"],
              "CONVELO_IND\n&key=123456789&webServerName=" + m_server.host() +
                  "&kelvane_token=T-9&c_plugin=true&DC=com&email=ann@acme.example&is_custom_domain="
                  "false&");
    for (const char* item : {"Vellisk", "Quendar", "Brakkon", "Fenwyl", "Sardane"}) {
        EXPECT_TRUE(fs::is_regular_file(folder() + item)) << item;
    }
    EXPECT_TRUE(fs::is_regular_file(folder() + "Holmir/Contents/README"));
    EXPECT_FALSE(fs::exists(folder() + "OrvoMac.dmg"));
    EXPECT_FALSE(fs::exists(m_home.volumes() + "/Orvo"));
    EXPECT_TRUE(logHasLinesInOrder(log, expectedLines::kAgentInstall));

    auto downloads = m_server.requestsFor("/agent/OrvoMac.dmg");
    ASSERT_EQ(downloads.size(), 1u);
    auto system = platform::OperatingSystem::shared().version();
    EXPECT_EQ(downloads[0]["headers"]["User-Agent"], system.productName.value_or("(null)") + " " +
                                                         system.productVersion.value_or("(null)"));
}

// Companion items already in the folder are the customer's or an earlier run's: a copy never
// overwrites them, and the others are still copied.
TEST_F(Provisioning, CompanionItemsAlreadyThereAreLeftAsTheyAre) {
    m_server.setRoutes({{"/agent/OrvoMac.dmg", {{"file", KELVANE_AGENT_IMAGE}}}});
    writeFile(folder() + "Vellisk", "kept by the customer");
    fs::create_directories(folder() + "Holmir");
    writeFile(folder() + "Holmir/mine", "kept too");
    std::string log = provision(true);
    ASSERT_TRUE(receiptArrives()) << log;
    EXPECT_EQ(readFile(folder() + "Vellisk"), "kept by the customer");
    EXPECT_EQ(readFile(folder() + "Holmir/mine"), "kept too");
    EXPECT_FALSE(fs::exists(folder() + "Holmir/Contents/README"));
    EXPECT_THAT(log, Not(HasSubstr("Vellisk file copied")));
    EXPECT_THAT(log, Not(HasSubstr("could not be copied")));
    EXPECT_THAT(log, HasSubstr("Quendar file copied"));
    EXPECT_TRUE(fs::is_regular_file(folder() + "Sardane"));
}

TEST_F(Provisioning, JoinsCloseTogetherProvisionOneAfterTheOther) {
    // Slow enough that the second join arrives while the first run is still downloading.
    m_server.setRoutes(
        {{"/agent/OrvoMac.dmg", {{"file", KELVANE_AGENT_IMAGE}, {"bytesPerSecond", 4000000}}}});
    std::string log = twoJoinsCloseTogether("1111111111");
    EXPECT_EQ(countOccurrences(log, "Download finished successfully"), 2u) << log;
    EXPECT_EQ(countOccurrences(log, "orvo app file launched!"), 2u);
    EXPECT_EQ(countOccurrences(log, "Error copying file"), 0u);
    // The runs never overlapped: each mount found the volume free and left it detached.
    EXPECT_EQ(countOccurrences(log, "dmg mount task termination status : 0"), 2u);
    EXPECT_FALSE(fs::exists(m_home.volumes() + "/Orvo 1"));
    EXPECT_FALSE(fs::exists(m_home.volumes() + "/Orvo"));
    EXPECT_THAT(readFile(folder() + "orvojoindetails.conf"), HasSubstr("&key=1111111111&"));
    EXPECT_TRUE(waitUntil(
        [&] {
            return countOccurrences(readFile(folder() + "OrvoAgentStarts.log"), "started") == 2;
        },
        10));
}

TEST_F(Provisioning, AThousandJoinsInARowAllEndWithTheAgentStarted) {
    const int joins = kSanitizedBuild ? 150 : 1000;
    fs::copy(KELVANE_AGENT_BUNDLE, folder() + "Orvo.app", fs::copy_options::recursive);
    auto [result, log] = resultOfChild([&] {
        auto resident = [] {
            std::string status = readFile("/proc/self/status");
            return std::stol(status.substr(status.find("VmRSS:") + 6));
        };
        SessionDetails& session = SessionDetails::getInstance();
        session.setWebServerName(m_server.host());
        session.setPlistWebServerName(m_server.host());
        session.setLocalOrvoAppVersion("5.0.0");
        long before = resident();
        for (int i = 0; i < joins; ++i) {
            NativeMessageHandler::shared().handleMessageFromWebView(
                {"sendJoinDetailsToNative",
                 {platform::ScriptValueType::String, R"({"sessionKey":)" +
                                                         std::to_string(100000000 + i) +
                                                         R"(,"email":"load@example"})"}});
            // Joins come one after another, as a customer's would, not all in one instant.
            if (i % 50 == 49) std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        // Every join has been answered once the API requests have all arrived and no run holds
        // the gate; the agents it started have written their lines soon after.
        waitUntil(
            [&] {
                return m_server.requestsFor("/api/v2/agent/check_update").size() >=
                       std::size_t(joins);
            },
            120);
        for (std::size_t seen = 0, now = 1; seen != now;
             std::this_thread::sleep_for(std::chrono::seconds(1))) {
            (void)ImageTurn::take(ImageTurn::Image::agent);
            seen = now;
            now = countOccurrences(readFile(folder() + "OrvoAgentStarts.log"), "started");
        }
        return std::to_string(resident() - before);
    });
    // Each join started the agent or found the one an earlier join started still running.
    std::size_t launched = countOccurrences(log, "launched successfully with args");
    EXPECT_EQ(launched + countOccurrences(log, "is already running (process "), std::size_t(joins));
    EXPECT_EQ(countOccurrences(readFile(folder() + "OrvoAgentStarts.log"), "started"), launched);
    EXPECT_EQ(m_server.requestsFor("/api/v2/agent/check_update").size(), std::size_t(joins));
    EXPECT_EQ(countOccurrences(log, "Unable to update Orvo Tendra Agent"), 0u);
    if (!kSanitizedBuild) {
        EXPECT_LT(std::stol(result), 64 * 1024) << "resident memory grew by " << result << " KiB";
    }
}

TEST_F(Provisioning, InstalledAgentWithoutUpdateIsOnlyLaunched) {
    fs::copy(KELVANE_AGENT_BUNDLE, folder() + "Orvo.app", fs::copy_options::recursive);
    std::string log = provision(false);
    ASSERT_TRUE(receiptArrives()) << log;
    EXPECT_TRUE(logHasLinesInOrder(log, expectedLines::kAgentLaunchOnly));
    EXPECT_TRUE(m_server.requestsFor("/agent/OrvoMac.dmg").empty());
    EXPECT_TRUE(fs::exists(folder() + "orvojoindetails.conf"));
}

TEST_F(Provisioning, ImageWithoutTheAgentAnnouncesTheFailureAndCopiesNothing) {
    // The announcement is watched from outside, as another program of the session would.
    std::unique_ptr<LaunchedApp> monitor;
    std::string watched = m_home / "bus.txt";
    if (std::getenv("DBUS_SESSION_BUS_ADDRESS")) {
        monitor = std::make_unique<LaunchedApp>(
            "/usr/bin/dbus-monitor",
            std::vector<std::string>{"--session",
                                     "interface='com.Orvo.Tendra.DistributedNotification'"},
            m_home.path(), watched);
        // A monitor announces itself by losing its name; from then on it sees every signal.
        waitUntil([&] { return readFile(watched).find("member=NameLost") != std::string::npos; },
                  10);
    }
    m_server.setRoutes({{"/agent/OrvoMac.dmg", {{"file", image("no-agent", false)}}}});
    std::string log = provision(true);
    EXPECT_THAT(log, HasSubstr("orvo app file not launched")) << log;
    for (const char* item : {"Orvo.app", "Vellisk", "Holmir", "OrvoMac.dmg"})
        EXPECT_FALSE(fs::exists(folder() + item)) << item;
    EXPECT_FALSE(fs::exists(m_home.volumes() + "/Orvo"));
    if (monitor) {
        EXPECT_TRUE(waitUntil(
            [&] {
                return readFile(watched).find("SendSessionStatusToTendraKelvane") !=
                       std::string::npos;
            },
            5));
        std::string seen = readFile(watched);
        EXPECT_THAT(seen, HasSubstr("path=/com/Orvo/Tendra/DistributedNotification")) << seen;
        EXPECT_THAT(seen, HasSubstr("string \"status\"")) << seen;
        EXPECT_THAT(seen, HasSubstr("int32 0")) << seen;
    }
}

TEST_F(Provisioning, BrokenDownloadsInstallNothing) {
    std::string agent = image("agent", true);
    m_server.setRoutes({{"/agent/OrvoMac.dmg", {{"file", agent}, {"truncateAfter", 100000}}}});
    std::string cut = provision(true);
    EXPECT_FALSE(fs::exists(folder() + "Orvo.app"));
    EXPECT_TRUE(logHasLinesInOrder(cut, expectedLines::kAgentDownloadFailed));

    // A 404 page is stored like an image (the status is not examined) and fails to mount.
    m_server.setRoutes({{"/agent/OrvoMac.dmg", {{"status", 404}, {"body", "not here"}}}});
    std::string missing = provision(true);
    EXPECT_THAT(missing, HasSubstr("dmg mount task termination status : 1")) << missing;
    EXPECT_THAT(missing, HasSubstr("orvo app file not launched"));
    EXPECT_FALSE(fs::exists(folder() + "Orvo.app"));
    EXPECT_FALSE(fs::exists(folder() + "OrvoMac.dmg"));

    // Once the server serves the image whole again, the next join provisions as usual.
    m_server.setRoutes({{"/agent/OrvoMac.dmg", {{"file", KELVANE_AGENT_IMAGE}}}});
    std::string recovered = provision(true);
    EXPECT_TRUE(receiptArrives()) << recovered;
    EXPECT_FALSE(fs::exists(folder() + "OrvoMac.dmg"));
}

// A join whose download broke at 60 % leaves the bytes it had; the next join fetches only the
// rest and installs a whole agent.
TEST_F(Provisioning, TheNextJoinFinishesADownloadThatBrokeHalfWay) {
    const auto size = fs::file_size(KELVANE_AGENT_IMAGE);
    const auto broken = size * 6 / 10;
    m_server.setRoutes(
        {{"/agent/OrvoMac.dmg", {{"file", KELVANE_AGENT_IMAGE}, {"truncateAfter", broken}}}});
    std::string first = provision(true);
    EXPECT_EQ(fs::file_size(folder() + ".OrvoMac.dmg.kelvane-partial"), broken) << first;

    m_server.setRoutes({{"/agent/OrvoMac.dmg", {{"file", KELVANE_AGENT_IMAGE}}}});
    std::string second = provision(true);
    ASSERT_TRUE(receiptArrives()) << second;
    EXPECT_EQ(m_server.bytesSentFor("/agent/OrvoMac.dmg"), size) << "only the rest is fetched";
    EXPECT_TRUE(logHasLinesInOrder(second, expectedLines::kAgentDownloadContinued));
    EXPECT_THAT(second, HasSubstr("continued from byte " + std::to_string(broken) + " of the"));
    EXPECT_TRUE(fs::is_regular_file(folder() + "Holmir/Contents/README"));
    for (const char* left : {"OrvoMac.dmg", ".OrvoMac.dmg.kelvane-partial"})
        EXPECT_FALSE(fs::exists(folder() + left)) << left;
}

// Whatever answers a join's range request in place of the rest (the server busy, a network's
// sign-in page) fails that join as it always failed; the bytes an earlier join kept stay, and
// the next join fetches only the rest.
TEST_F(Provisioning, KeptBytesOutlastAJoinWhoseRangeRequestFailed) {
    const std::string path = "/agent/OrvoMac.dmg";
    const std::string kept = folder() + ".OrvoMac.dmg.kelvane-partial";
    const auto size = fs::file_size(KELVANE_AGENT_IMAGE);
    const auto broken = size * 6 / 10;
    auto answerToTheRange = [&](const nlohmann::json& answer) {
        m_server.setRoutes({{path, {{"file", KELVANE_AGENT_IMAGE}, {"rangeAnswer", answer}}}});
    };
    m_server.setRoutes({{path, {{"file", KELVANE_AGENT_IMAGE}, {"truncateAfter", broken}}}});
    std::string first = provision(true);
    ASSERT_EQ(fs::file_size(kept), broken) << first;

    // The server's error page is stored like an image and fails to mount, as it always did.
    answerToTheRange({{"status", 503}, {"body", "Service Temporarily Unavailable"}});
    std::string busy = provision(true);
    EXPECT_THAT(busy, HasSubstr("dmg mount task termination status : 1")) << busy;
    EXPECT_THAT(busy, HasSubstr("orvo app file not launched"));
    EXPECT_EQ(fs::file_size(kept), broken) << busy;

    answerToTheRange({{"body", "<html>Sign in to continue</html>"}, {"contentType", "text/html"}});
    std::string portal = provision(true);
    EXPECT_TRUE(logHasLinesInOrder(portal, expectedLines::kAgentDownloadFailed));
    EXPECT_THAT(portal, HasSubstr("_block_invoke : Download failed! Error - a network sign-in "
                                  "page answered instead of the server"))
        << portal;
    EXPECT_EQ(fs::file_size(kept), broken);
    EXPECT_FALSE(fs::exists(folder() + "Orvo.app"));

    m_server.setRoutes({{path, {{"file", KELVANE_AGENT_IMAGE}}}});
    std::string last = provision(true);
    ASSERT_TRUE(receiptArrives()) << last;
    EXPECT_TRUE(logHasLinesInOrder(last, expectedLines::kAgentDownloadContinued));
    EXPECT_THAT(last, HasSubstr("continued from byte " + std::to_string(broken) + " of the"));
    auto tries = m_server.requestsFor(path);
    ASSERT_EQ(tries.size(), 4u);
    // Continued, not restarted: but for the two failed answers, every byte of the image came once.
    EXPECT_EQ(m_server.bytesSentFor(path) - tries[1]["bytesSent"].get<std::uint64_t>() -
                  tries[2]["bytesSent"].get<std::uint64_t>(),
              size);
    for (const char* left : {"OrvoMac.dmg", ".OrvoMac.dmg.kelvane-partial"})
        EXPECT_FALSE(fs::exists(folder() + left)) << left;
}

// An image is told by its bytes, not by its label: the agent's image labelled as a web page
// installs, and a page labelled as an image is a network's sign-in page.
TEST_F(Provisioning, AnImageIsToldByItsBytesNotItsLabel) {
    const std::string path = "/agent/OrvoMac.dmg";
    m_server.setRoutes({{path,
                         {{"body", "<!DOCTYPE html><html><body>Sign in</body></html>"},
                          {"contentType", "application/octet-stream"}}}});
    std::string portal = provision(true);
    EXPECT_THAT(portal, HasSubstr("_block_invoke : Download failed! Error - a network sign-in "
                                  "page answered instead of the server"))
        << portal;
    for (const char* left : {"Orvo.app", "OrvoMac.dmg", ".OrvoMac.dmg.kelvane-partial"})
        EXPECT_FALSE(fs::exists(folder() + left)) << left;

    m_server.setRoutes({{path, {{"file", KELVANE_AGENT_IMAGE}, {"contentType", "text/html"}}}});
    std::string installed = provision(true);
    ASSERT_TRUE(receiptArrives()) << installed;
    EXPECT_TRUE(logHasLinesInOrder(installed, expectedLines::kAgentInstall));
}

TEST_F(Provisioning, ServerThatNeverAnswersEndsTheRunWhenTheConnectionDies) {
    SubstituteServer silent;
    silent.setRoutes({{"/agent/OrvoMac.dmg", {{"hang", true}}}});
    trust(silent);
    std::string host = silent.host();
    // The server goes away two seconds into the download; a shell does it, so that this
    // process forks its child with no thread of its own running.
    std::string stopLater = "(sleep 2; kill -TERM " + std::to_string(silent.pid()) + ") &";
    ASSERT_EQ(std::system(stopLater.c_str()), 0);
    std::string log = outputOfChild([&] {
        SessionDetails::getInstance().setWebServerName(host);
        SessionDetails::getInstance().setIsUpdateNeeded(true);
        SessionDetails::getInstance().setIsCdnAvailable(false);
        OrvoAppUpgrader::getInstance().orvoAppUpdater();
        (void)ImageTurn::take(ImageTurn::Image::agent);
    });
    EXPECT_THAT(log, HasSubstr("Download failed!")) << log;
}

TEST_F(Provisioning, JoinDetailsFileIsReplacedWholeWithEmptyTextForAbsentValues) {
    std::string path = folder() + "orvojoindetails.conf";
    writeFile(path, "old content that must go away entirely");
    std::string log = outputOfChild([] {
        SessionDetails& session = SessionDetails::getInstance();
        session.setSessionKey("1234567890");
        session.setWebServerName("custom.example");
        session.setDcName("eu");
        session.setCustomDomainEnabled("true");
        OrvoAppUpgrader::getInstance().modifyOrvoJoinDetails();
    });
    EXPECT_EQ(readFile(path),
              "CONVELO_IND\n&key=1234567890&webServerName=custom.example&kelvane_token=&c_plugin="
              "true&DC=eu&email=&"
              "is_custom_domain=true&");
    EXPECT_THAT(
        log,
        HasSubstr(
            "Orvo Joindetails Content : Session key=1234567890 webServerName=custom.example DC=eu "
            "customDomain=true"));
    EXPECT_THAT(log, Not(HasSubstr("kelvane_token"))) << "the token is never logged";
}

class AgentUpdateCheck : public Provisioning {
  protected:
    // Runs one check in a child; returns the completion's value and the fields it touched.
    nlohmann::json check(const nlohmann::json& answer) {
        m_server.setRoutes({{"/api/v2/agent/check_update", answer}});
        m_server.clearRequests();
        auto [result, output] = resultOfChild([&] {
            SessionDetails& session = SessionDetails::getInstance();
            session.setWebServerName(m_server.host());
            session.setLocalOrvoAppVersion("0");
            session.setCdnUrl("https://earlier.example/a.dmg");
            std::promise<bool> done;
            ApiHandler::getInstance().checkOrvoTendraUpdateWithCompletion(
                [&](bool received) { done.set_value(received); });
            bool received = done.get_future().get();
            return nlohmann::json{{"received", received},
                                  {"update", session.isUpdateNeeded()},
                                  {"cdn", session.cdnUrl().value_or("")},
                                  {"cdnAvailable", session.isCdnAvailable()},
                                  {"fallback", session.fallbackUrl().value_or("<absent>")}}
                .dump();
        });
        m_lastLog = output;
        return nlohmann::json::parse(result);
    }
    static nlohmann::json agent(const nlohmann::json& fields) {
        return {{"json", {{"representation", {{"AGENT", fields}}}}}};
    }
    std::string m_lastLog;
};

TEST_F(AgentUpdateCheck, RequestAndAnswerRules) {
    auto first = check(
        agent({{"download_url", "https://cdn.example/OrvoMac.dmg"}, {"update_needed", false}}));
    EXPECT_EQ(first, (nlohmann::json{{"received", true},
                                     {"update", false},
                                     {"cdn", "https://cdn.example/OrvoMac.dmg"},
                                     {"cdnAvailable", true},
                                     {"fallback", "<absent>"}}));
    auto sent = m_server.requestsFor("/api/v2/agent/check_update");
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0]["query"], "agent_version=0&agent=mac%2064");

    EXPECT_EQ(check(agent({{"update_needed", "Yes"},
                           {"download_url", ""},
                           {"fallback_url", "https://f.example/x"}})),
              (nlohmann::json{{"received", true},
                              {"update", true},
                              {"cdn", "https://earlier.example/a.dmg"},
                              {"cdnAvailable", false},
                              {"fallback", "https://f.example/x"}}));
    EXPECT_EQ(check(agent({{"update_needed", 0}, {"download_url", nullptr}}))["update"], false);
    EXPECT_EQ(check(agent({{"update_needed", " +007"}}))["update"], true);
    EXPECT_EQ(check({{"body", "{}"}})["received"], true);
    EXPECT_EQ(check({{"body", "not json"}})["received"], true);
    for (int status : {204, 500}) {
        auto failed =
            check({{"status", status},
                   {"json", {{"representation", {{"AGENT", {{"update_needed", true}}}}}}}});
        EXPECT_EQ(failed["received"], false);
        EXPECT_EQ(failed["update"], false);
    }
}

// Servers label JSON as HTML: the answer is read by its body. A page in its place is a
// network's sign-in page, and the check fails saying so.
TEST_F(AgentUpdateCheck, AnAnswerIsToldByItsBodyNotItsLabel) {
    nlohmann::json labelled =
        agent({{"update_needed", true}, {"download_url", "https://cdn.example/OrvoMac.dmg"}});
    labelled["contentType"] = "text/html; charset=UTF-8";
    auto read = check(labelled);
    EXPECT_EQ(read["received"], true) << m_lastLog;
    EXPECT_EQ(read["update"], true);
    EXPECT_EQ(read["cdn"], "https://cdn.example/OrvoMac.dmg");

    auto page = check({{"body", "<html>Sign in to continue</html>"}, {"contentType", "text/html"}});
    EXPECT_EQ(page["received"], false);
    EXPECT_EQ(page["cdn"], "https://earlier.example/a.dmg");
    EXPECT_THAT(m_lastLog, HasSubstr("checkOrvoTendraUpdateWithCompletion:]_block_invoke : Check "
                                     "Update failed : a network sign-in page answered instead of "
                                     "the server"))
        << m_lastLog;
}

// Runs that end early, or never end, leave nothing that a later join would trust.
class ProvisioningRecovery : public Provisioning {
  protected:
    // An agent image with a file of its own, so that what a later run installs can be told apart.
    std::string paddedAgentImage() {
        std::string bundle = m_home / "large/Orvo.app";
        fs::create_directories(m_home / "large");
        fs::copy(KELVANE_AGENT_BUNDLE, bundle, fs::copy_options::recursive);
        writeFile(bundle + "/Contents/Resources/padding", std::string(1024 * 1024, 'p'));
        std::string image = m_home / "large.dmg";
        std::string command = std::string("'") + KELVANE_SOURCE_DIR +
                              "/scripts/make-image.sh' --volume Orvo --output '" + image + "' '" +
                              bundle + "'";
        EXPECT_EQ(std::system(command.c_str()), 0);
        fs::remove_all(m_home / "large");
        return image;
    }
    bool agentCopyInProgress() const {
        std::error_code ec;
        for (const auto& entry : fs::directory_iterator(folder(), ec)) {
            if (entry.path().filename().string().rfind(".Orvo.app.kelvane-copying-", 0) == 0)
                return true;
        }
        return false;
    }
    // A join that needs the agent, as the bridge hands it over; the run goes on in the background.
    void startAgentInstall() {
        SessionDetails& session = SessionDetails::getInstance();
        session.setWebServerName(m_server.host());
        session.setIsUpdateNeeded(true);
        OrvoAppUpgrader::getInstance().orvoAppUpdater();
    }
    // What a start of the application does with the folders, in a child of its own.
    std::string start() {
        (void)outputOfChild([] {
            LogHandler logHandler;
            Utils::createKelvaneDirectoriesWithLogHandler(logHandler);
        });
        return readFile(m_home / "Library/Logs/OrvoTendra/OrvoKelvane/orvoKelvane.log");
    }
};

TEST_F(ProvisioningRecovery,
       AKilledAgentCopyLeavesNothingLaunchableAndTheNextJoinInstallsAWholeAgent) {
    m_server.setRoutes({{"/agent/OrvoMac.dmg", {{"file", paddedAgentImage()}}}});
    std::fflush(nullptr);
    pid_t run = ::fork();
    if (run == 0) {
        // The run stops itself once the agent's first file is copied, and is killed there.
        ::setenv("KELVANE_TEST_PAUSE_AT", "copy:file-copied", 1);
        startAgentInstall();
        (void)ImageTurn::take(ImageTurn::Image::agent);
        ::_exit(0);
    }
    int status = 0;
    ::waitpid(run, &status, WUNTRACED);
    const bool stopped = WIFSTOPPED(status);
    ::kill(run, SIGKILL);
    if (stopped) ::waitpid(run, &status, 0);
    ASSERT_TRUE(stopped) << "the install step never began";
    EXPECT_TRUE(agentCopyInProgress());
    EXPECT_FALSE(fs::exists(folder() + "Orvo.app")) << "nothing under the agent's name to launch";
    EXPECT_FALSE(fs::exists(receiptPath()));

    std::string log = start();
    EXPECT_THAT(log, HasSubstr("left behind by an interrupted run")) << log;
    EXPECT_FALSE(agentCopyInProgress());

    // The killed run left its volume mounted; the next run detaches it and installs whole.
    m_server.setRoutes({{"/agent/OrvoMac.dmg", {{"file", KELVANE_AGENT_IMAGE}}}});
    std::string next = provision(true);
    EXPECT_THAT(next, HasSubstr("left mounted by an earlier run")) << next;
    ASSERT_TRUE(receiptArrives()) << next;
    EXPECT_FALSE(fs::exists(folder() + "Orvo.app/Contents/Resources/padding"))
        << "the new agent, not the old volume's";
    EXPECT_TRUE(fs::is_empty(m_home.volumes()));
}

TEST_F(ProvisioningRecovery, AToolThatNeverReturnsIsStoppedAndReleasesTheNextJoin) {
    // The first mount never ends; every later call is the real tool's.
    std::string tool = m_home / "stuck-hdiutil";
    writeFile(tool, "#!/bin/sh\nif [ \"$1\" = mount ] && mkdir '" + m_home / "stuck-once" +
                        "' 2>/dev/null; then exec sleep 600; fi\n"
                        "exec '" KELVANE_HDIUTIL_TOOL "' \"$@\"\n");
    fs::permissions(tool, fs::perms::owner_all);
    m_environment.set("KELVANE_HDIUTIL", tool);
    m_server.setRoutes({{"/agent/OrvoMac.dmg", {{"file", KELVANE_AGENT_IMAGE}}}});
    auto began = std::chrono::steady_clock::now();
    std::string log = twoJoinsCloseTogether();
    auto took = std::chrono::steady_clock::now() - began;
    EXPECT_THAT(log, HasSubstr("dmg mount task termination status : 137")) << log;
    EXPECT_THAT(log, HasSubstr("orvo app file not launched"));
    EXPECT_THAT(log, HasSubstr("dmg mount task termination status : 0"))
        << "the second join went on";
    EXPECT_TRUE(receiptArrives()) << log;
    EXPECT_LT(took, std::chrono::seconds(120));
    EXPECT_TRUE(fs::is_empty(m_home.volumes()));
}

// Each join's agent: one running agent serves every join, and it only comes over TLS.
TEST_F(Provisioning, ASecondJoinWhileTheAgentRunsStartsNoSecondAgent) {
    fs::copy(KELVANE_AGENT_BUNDLE, folder() + "Orvo.app", fs::copy_options::recursive);
    m_environment.set("KELVANE_STAND_IN_AGENT_SECONDS", "30");
    std::string first = provision(false);
    ASSERT_TRUE(receiptArrives()) << first;
    EXPECT_THAT(first, HasSubstr("LaunchApplication: Orvo.app launched successfully")) << first;
    std::string second = provision(false);
    auto agent = nlohmann::json::parse(readFile(receiptPath()))["pid"].get<int>();
    EXPECT_THAT(second, HasSubstr("LaunchApplication: Orvo.app is already running (process " +
                                  std::to_string(agent) + "); not started again"))
        << second;
    EXPECT_EQ(countOccurrences(readFile(folder() + "OrvoAgentStarts.log"), "started"), 1u);
    ::kill(agent, SIGTERM);

    // Once it has ended, the next join starts it again.
    ASSERT_TRUE(waitUntil(
        [&] {
            std::error_code gone;
            (void)fs::read_symlink("/proc/" + std::to_string(agent) + "/exe", gone);
            return bool(gone);
        },
        10));
    std::string third = provision(false);
    EXPECT_THAT(third, HasSubstr("LaunchApplication: Orvo.app launched successfully")) << third;
    EXPECT_TRUE(waitUntil(
        [&] {
            return countOccurrences(readFile(folder() + "OrvoAgentStarts.log"), "started") == 2;
        },
        10));
}

TEST_F(Provisioning, ADownloadRedirectedToCleartextIsRefused) {
    std::string plain = "http://" + m_server.host() + "/agent/plain/OrvoMac.dmg";
    m_server.setRoutes({{"/agent/OrvoMac.dmg", {{"status", 302}, {"location", plain}}},
                        {"/agent/plain/OrvoMac.dmg", {{"file", KELVANE_AGENT_IMAGE}}}});
    std::string log = provision(true);
    EXPECT_THAT(
        log,
        HasSubstr("_block_invoke : Download failed! Error - cleartext HTTP is refused: " + plain))
        << log;
    EXPECT_FALSE(fs::exists(folder() + "Orvo.app"));
    EXPECT_TRUE(m_server.requestsFor("/agent/plain/OrvoMac.dmg").empty());
}

TEST_F(AgentUpdateCheck, ABrokenTransferFailsWhateverItsStatusAndAnOversizeAnswerIsStillOne) {
    std::string answer =
        nlohmann::json{{"representation", {{"AGENT", {{"update_needed", true}}}}}}.dump();
    auto cut = check({{"body", answer}, {"truncateAfter", 10}});
    EXPECT_EQ(cut["received"], false);
    EXPECT_EQ(cut["update"], false);
    EXPECT_THAT(
        m_lastLog,
        HasSubstr("checkOrvoTendraUpdateWithCompletion:]_block_invoke : Check Update failed : "))
        << m_lastLog;

    auto oversize = check({{"repeatBytes", 3 * 1024 * 1024}});
    EXPECT_EQ(oversize["received"], true) << "a 200 answer, only not a JSON document";
    EXPECT_EQ(oversize["cdn"], "https://earlier.example/a.dmg");
}

TEST_F(Provisioning, AnAgentVersionWrittenAsANumberIsSentAsItsDigits) {
    fs::copy(KELVANE_AGENT_BUNDLE, folder() + "Orvo.app", fs::copy_options::recursive);
    std::string infoPath = folder() + "Orvo.app/Contents/Info.plist";
    auto info = platform::PropertyList::readFile(infoPath);
    ASSERT_TRUE(info && info->dictionary());
    platform::PlistDictionary dictionary = *info->dictionary();
    const platform::PlistValue seven(std::int64_t{7});
    const platform::PlistValue sixAndAHalf(6.5);
    const std::pair<const platform::PlistValue*, const char*> numbers[] = {{&seven, "7"},
                                                                           {&sixAndAHalf, "6.5"}};
    for (const auto& [value, expected] : numbers) {
        dictionary["CFBundleShortVersionString"] = *value;
        writeFile(infoPath, platform::PropertyList::toXml(dictionary));
        auto [version, log] = resultOfChild([] {
            OrvoAppUpgrader::getInstance().orvoAppVersionCheck();
            return SessionDetails::getInstance().localOrvoAppVersion().value_or("<absent>");
        });
        EXPECT_EQ(version, expected) << log;
    }
}

// A download killed half-way, or abandoned by a closing window, leaves no file: the next start
// removes what a killed run wrote, and the end of the process removes what is under way.
TEST_F(ProvisioningRecovery, DownloadsCutShortLeaveNoFileBehind) {
    m_server.setRoutes(
        {{"/agent/OrvoMac.dmg", {{"repeatBytes", 50000000}, {"bytesPerSecond", 200000}}}});
    auto downloading = [&] {
        std::error_code ec;
        for (const auto& entry : fs::directory_iterator(folder(), ec)) {
            if (entry.path().filename().string().rfind(".OrvoMac.dmg.kelvane-copying-", 0) == 0)
                return true;
        }
        return false;
    };
    // The run closes only once this process has seen its partial file; otherwise a close that
    // follows the file's creation within one poll would leave nothing to see.
    const std::string seen = m_home / "partial-download-seen";
    for (bool killed : {true, false}) {
        fs::remove(seen);
        std::fflush(nullptr);
        pid_t run = ::fork();
        if (run == 0) {
            startAgentInstall();
            waitUntil([&] { return fs::exists(seen); }, 10);
            // The window closed: the process ends without waiting for the download.
            AppDelegate().applicationWillTerminate();
            ::_exit(0);
        }
        EXPECT_TRUE(waitUntil(downloading, 10)) << "the download never began";
        writeFile(seen, "");
        if (killed) ::kill(run, SIGKILL);
        ::waitpid(run, nullptr, 0);
        if (killed) {
            EXPECT_TRUE(downloading()) << "the kill left the partial download";
            std::string log = start();
            EXPECT_THAT(log, HasSubstr(".OrvoMac.dmg.kelvane-copying-")) << log;
        }
        EXPECT_FALSE(downloading()) << (killed ? "after the next start" : "after the close");
        EXPECT_FALSE(fs::exists(folder() + "OrvoMac.dmg"));
    }
}
