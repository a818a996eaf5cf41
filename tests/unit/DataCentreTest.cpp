#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "../support/ChildProcess.h"
#include "../support/Deployment.h"
#include "../support/Files.h"
#include "../support/ServerTest.h"
#include "../support/SubstituteServer.h"
#include "Handlers/ApiHandler.h"
#include "Handlers/DeploymentHosts.h"
#include "Handlers/Utils.h"
#include "Objects/SessionDetails.h"
#include "platform/PropertyList.h"

using ::testing::HasSubstr;

namespace {

// Distinct names for every deployment key, so each row shows which host it picked.
void useDeployment(const TempHome& home, platform::PlistDictionary hosts) {
    std::string path = home / "Deployment.plist";
    writeFile(path, platform::PropertyList::toXml(hosts));
    DeploymentHosts::shared().loadFromFile(path);
}

platform::PlistDictionary namedHosts() {
    platform::PlistDictionary hosts;
    for (const std::string& key : deploymentKeys()) hosts.emplace(key, key + ".host");
    hosts.insert_or_assign("localDomain", "dev.local");
    return hosts;
}

std::pair<Text, Text> tableB(const std::optional<std::string>& code) {
    ApiHandler::getInstance().findServerNameUsingDC(code);
    auto& session = SessionDetails::getInstance();
    return {session.dcName(), session.webServerName()};
}

using Pair = std::pair<Text, Text>;

}  // namespace

TEST(DataCentre, StartUpTableAndJoinTableDifferWhereTheyMust) {
    TempHome home;
    useDeployment(home, namedHosts());
    auto tableA = [](const std::optional<std::string>& code) {
        return Utils::findWebserverNameWithDCName(code);
    };

    EXPECT_EQ(tableA("eu"), "eu.host");
    EXPECT_EQ(tableB("eu"), Pair("eu", "eu.host"));
    // Codes are case-sensitive: EU is unknown, a developer host in A, the main centre in B.
    EXPECT_EQ(tableA("EU"), "EU.dev.local");
    EXPECT_EQ(tableB("EU"), Pair("com", "com.host"));
    EXPECT_EQ(tableA("localorvo"), "localorvo.host");
    EXPECT_EQ(tableB("localorvo"), Pair("localorvo", "localorvo.dev.local"));
    EXPECT_EQ(tableA("devbox1"), "devbox1.dev.local");
    EXPECT_EQ(tableB("devbox1"), Pair("devbox1", "devbox1.dev.local"));
    EXPECT_EQ(tableA(std::nullopt), std::nullopt);
    EXPECT_EQ(tableB(std::nullopt), Pair("com", "com.host"));
    EXPECT_EQ(tableB("pre"), Pair("lab", "pre.host"));
    // The lab has two host forms.
    EXPECT_EQ(tableA("lab"), "lab.host");
    EXPECT_EQ(tableB("lab"), Pair("lab", "labAlternate.host"));
}

// Every row of the three tables, so that a code dropped from one of them, or two rows swapped,
// fails here.
TEST(DataCentre, EveryRowOfTheThreeTables) {
    TempHome home;
    useDeployment(home, namedHosts());
    const char* startUpCodes[] = {"com", "lab", "stage", "pre", "eu", "in",   "jp", "au",
                                  "cn",  "uk",  "ca",    "sa",  "ae", "inec", "sg", "localorvo"};
    for (const char* code : startUpCodes) {
        EXPECT_EQ(Utils::findWebserverNameWithDCName(code), std::string(code) + ".host") << code;
    }

    struct JoinRow {
        std::string code;
        Pair picked;
    };
    const JoinRow joinRows[] = {
        {"com", {"com", "com.host"}},
        {"pre", {"lab", "pre.host"}},
        {"stage", {"stage", "stage.host"}},
        {"lab", {"lab", "labAlternate.host"}},
        {"eu", {"eu", "eu.host"}},
        {"in", {"in", "in.host"}},
        {"au", {"au", "au.host"}},
        {"cn", {"cn", "cn.host"}},
        {"jp", {"jp", "jp.host"}},
        {"ca", {"ca", "ca.host"}},
        {"uk", {"uk", "uk.host"}},
        {"sa", {"sa", "sa.host"}},
        {"ae", {"ae", "ae.host"}},
        {"inec", {"inec", "inec.host"}},
        {"sg", {"sg", "sg.host"}},
        // Six characters or more name a developer's centre; five fall back to the main one.
        {"abcdef", {"abcdef", "abcdef.dev.local"}},
        {"abcde", {"com", "com.host"}},
        {"ééééé", {"com", "com.host"}},
        {"éééééé", {"éééééé", "éééééé.dev.local"}},
        {"", {"com", "com.host"}},
    };
    for (const JoinRow& row : joinRows) EXPECT_EQ(tableB(row.code), row.picked) << row.code;
}

TEST(DataCentre, SessionKeyDigitPicksTheCentre) {
    TempHome home;
    useDeployment(home, namedHosts());
    auto& session = SessionDetails::getInstance();
    session.setPlistDcName("jp");
    session.setPlistWebServerName("custom.plist.host");
    auto keyed = [&](const std::string& key) {
        session.setDcName("before");
        session.setWebServerName("before.host");
        ApiHandler::getInstance().findDcNameUsingKey(key);
        return Pair(session.dcName(), session.webServerName());
    };
    const char* byDigit[] = {"eu", "in", "au", "cn", "jp", "ca", "uk", "sa", "ae"};
    for (int digit = 1; digit <= 9; ++digit) {
        std::string key = "123" + std::to_string(digit) + "567890";
        std::string dc = byDigit[digit - 1];
        EXPECT_EQ(keyed(key), Pair(dc, dc + ".host")) << key;
    }
    // Nine characters keep the centre of the start-up file; eight and eleven change nothing.
    EXPECT_EQ(keyed("123456789"), Pair("jp", "custom.plist.host"));
    EXPECT_EQ(keyed("12345678"), Pair("before", "before.host"));
    EXPECT_EQ(keyed("12345678901"), Pair("before", "before.host"));
    EXPECT_EQ(keyed("1230567890"), Pair("before", "before.host"));
    EXPECT_EQ(keyed("123x567890"), Pair("before", "before.host"));
    // Ten characters whose fourth is not the fourth byte.
    EXPECT_EQ(keyed("é121567890"), Pair("eu", "eu.host"));
}

TEST(DataCentre, BadDeploymentFilesAreLoggedAndCodesResolveAsUnknown) {
    TempHome home;
    std::string output = outputOfChild([&] {
        useDeployment(home,
                      {{"eu", std::int64_t{5}}, {"com", "com.host"}, {"localDomain", "dev.local"}});
        std::printf("\n@@%s|", Utils::findWebserverNameWithDCName("eu").value_or("-").c_str());
        DeploymentHosts::shared().loadFromFile(home / "missing.plist");
        std::printf("%s\n", Utils::findWebserverNameWithDCName("eu").value_or("-").c_str());
    });
    EXPECT_THAT(output, HasSubstr("Deployment host eu in"));
    EXPECT_THAT(output, HasSubstr("Deployment hosts unavailable"));
    EXPECT_THAT(output, HasSubstr("@@eu.dev.local|eu\n"));
}

class CustomDomain : public ServerTest {
  protected:
    void SetUp() override {
        auto& session = SessionDetails::getInstance();
        session.setWebServerName(m_server.host());
        session.setStaticWebServerName(m_server.host());
        session.setKelvaneToken("tok en&1");
        session.setCustomDomainEnabled("false");
    }

    // Runs the lookup against an answer; returns the log.
    std::string lookUp(const nlohmann::json& answer) {
        m_server.setRoutes({{"/api/v2/service_domain", answer}});
        m_server.clearRequests();
        testing::internal::CaptureStderr();
        Utils::getCustomDomain();
        return testing::internal::GetCapturedStderr();
    }
    Pair state() {
        auto& session = SessionDetails::getInstance();
        return {session.webServerName(), session.customDomainEnabled()};
    }
};

TEST_F(CustomDomain, AnswerMovesTheSessionOnlyToANewNonEmptyDomain) {
    std::string log =
        lookUp({{"json", {{"representation", {{"service_domain", m_server.host()}}}}}});
    EXPECT_EQ(state(), Pair(m_server.host(), "false"));
    auto sent = m_server.requestsFor("/api/v2/service_domain");
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0]["query"], "src=rs&kelvane_token=tok%20en&1");
    EXPECT_THAT(log, HasSubstr("+[Utils getCustomDomain] : Status code : 200"));

    lookUp({{"json", {{"representation", {{"service_domain", ""}}}}}});
    EXPECT_EQ(state(), Pair(m_server.host(), "false"));

    lookUp({{"json", {{"representation", {{"service_domain", "support.customer.example"}}}}}});
    EXPECT_EQ(state(), Pair("support.customer.example", "true"));
}

// Servers label JSON as HTML: the lookup reads its answer by its body. A page in its place is a
// network's sign-in page and moves nothing.
TEST_F(CustomDomain, AnAnswerIsToldByItsBodyNotItsLabel) {
    std::string log =
        lookUp({{"body", "<html>Sign in to continue</html>"}, {"contentType", "text/html"}});
    EXPECT_THAT(log, HasSubstr("+[Utils getCustomDomain] : Check Update failed : a network "
                               "sign-in page answered instead of the server"));
    EXPECT_EQ(state(), Pair(m_server.host(), "false"));

    lookUp({{"json", {{"representation", {{"service_domain", "support.customer.example"}}}}},
            {"contentType", "text/html"}});
    EXPECT_EQ(state(), Pair("support.customer.example", "true"));
}

TEST_F(CustomDomain, FailuresLeaveTheSessionAsItWas) {
    for (const nlohmann::json& answer : {
             nlohmann::json{{"status", 500},
                            {"json", {{"representation", {{"service_domain", "x.example"}}}}}},
             nlohmann::json{{"body", "{not json"}},
             nlohmann::json{{"json", {{"representation", "text"}}}},
             nlohmann::json{{"json", {{"representation", {{"service_domain", 42}}}}}},
             nlohmann::json{{"repeatBytes", 1024LL * 1024 * 1024}},
         }) {
        std::string log = lookUp(answer);
        EXPECT_EQ(state(), Pair(m_server.host(), "false")) << answer.dump();
    }
    SessionDetails::getInstance().setWebServerName("127.0.0.1:1");
    std::string log = lookUp({{"status", 200}});
    EXPECT_THAT(log, HasSubstr("+[Utils getCustomDomain] : Check Update failed : "));
    EXPECT_THAT(log, HasSubstr("+[Utils getCustomDomain] : Status code : 0"));
    EXPECT_EQ(state(), Pair("127.0.0.1:1", "false"));
}
