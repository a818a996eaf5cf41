#include <gtest/gtest.h>

#include "../support/ChildProcess.h"
#include "../support/SubstituteServer.h"
#include "Handlers/ApiHandler.h"
#include "Handlers/DeploymentHosts.h"
#include "Handlers/Utils.h"
#include "Objects/SessionDetails.h"
#include "platform/PropertyList.h"

namespace {

// Distinct names for every deployment key, so each row shows which host it picked.
void useDeployment(const TempHome& home, platform::PlistDictionary hosts) {
    std::string path = home / "Deployment.plist";
    writeFile(path, platform::PropertyList::toXml(hosts));
    DeploymentHosts::shared().loadFromFile(path);
}

platform::PlistDictionary namedHosts() {
    platform::PlistDictionary hosts;
    for (const char* key : {"com", "lab", "labAlternate", "stage", "pre", "eu", "in", "jp", "au",
                            "cn", "uk", "ca", "sa", "ae", "inec", "sg", "localorvo"}) {
        hosts.emplace(key, std::string(key) + ".host");
    }
    hosts.emplace("localDomain", "dev.local");
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
    EXPECT_EQ(tableB("inec"), Pair("inec", "inec.host"));
    EXPECT_EQ(tableB("abcde"), Pair("com", "com.host"));
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
    EXPECT_EQ(keyed("123456789"), Pair("jp", "custom.plist.host"));
    EXPECT_EQ(keyed("1233567890"), Pair("au", "au.host"));
    EXPECT_EQ(keyed("1239567890"), Pair("ae", "ae.host"));
    EXPECT_EQ(keyed("1230567890"), Pair("before", "before.host"));
    EXPECT_EQ(keyed("123x567890"), Pair("before", "before.host"));
    EXPECT_EQ(keyed("12345678901"), Pair("before", "before.host"));
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
    EXPECT_NE(output.find("Deployment host eu in"), std::string::npos);
    EXPECT_NE(output.find("Deployment hosts unavailable"), std::string::npos);
    EXPECT_NE(output.find("@@eu.dev.local|eu\n"), std::string::npos);
}

class CustomDomain : public ::testing::Test {
  protected:
    void SetUp() override {
        ::setenv("SSL_CERT_FILE", m_server.caPath().c_str(), 1);
        auto& session = SessionDetails::getInstance();
        session.setWebServerName(m_server.host());
        session.setStaticWebServerName(m_server.host());
        session.setKelvaneToken("tok en&1");
        session.setCustomDomainEnabled("false");
    }
    void TearDown() override { ::unsetenv("SSL_CERT_FILE"); }

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

    SubstituteServer m_server;
};

TEST_F(CustomDomain, AnswerMovesTheSessionOnlyToANewNonEmptyDomain) {
    std::string log =
        lookUp({{"json", {{"representation", {{"service_domain", m_server.host()}}}}}});
    EXPECT_EQ(state(), Pair(m_server.host(), "false"));
    auto sent = m_server.requestsFor("/api/v2/service_domain");
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0]["query"], "src=rs&kelvane_token=tok%20en&1");
    EXPECT_NE(log.find("+[Utils getCustomDomain] : Status code : 200"), std::string::npos);

    lookUp({{"json", {{"representation", {{"service_domain", ""}}}}}});
    EXPECT_EQ(state(), Pair(m_server.host(), "false"));

    lookUp({{"json", {{"representation", {{"service_domain", "support.customer.example"}}}}}});
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
    EXPECT_NE(log.find("+[Utils getCustomDomain] : Check Update failed : "), std::string::npos);
    EXPECT_NE(log.find("+[Utils getCustomDomain] : Status code : 0"), std::string::npos);
    EXPECT_EQ(state(), Pair("127.0.0.1:1", "false"));
}
