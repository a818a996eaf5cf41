#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "../support/ChildProcess.h"
#include "../support/Files.h"
#include "../support/TempHome.h"
#include "Handlers/NativeMessageHandler.h"
#include "platform/Preferences.h"
#include "platform/PropertyList.h"

using ::testing::HasSubstr;
using ::testing::Not;

namespace {

const char* kPreferences = "Library/Preferences/com.Orvo.Tendra.OrvoTendraKelvane.plist";
const char* kSettings = "Library/Logs/OrvoTendra/ConnectionSettings.plist";

platform::PlistDictionary proxy(std::int64_t port, bool auth) {
    return {{"host", "proxy.lan"},
            {"port", port},
            {"authRequired", auth},
            {"userName", "user"},
            {"password", "secret"}};
}

// Stores the preferences, writes the file in a child, returns the file as read back.
std::optional<platform::PlistDictionary> writeSettings(
    const TempHome& home, const platform::PlistDictionary& preferences) {
    writeFile(home / kPreferences, platform::PropertyList::toXml(preferences));
    outputOfChild([] { NativeMessageHandler::shared().setupProxyDetails(); });
    auto root = platform::PropertyList::readFile(home / kSettings);
    if (!root || !root->dictionary()) return std::nullopt;
    return *root->dictionary();
}

}  // namespace

TEST(ProxySettingsFile, NewFileHoldsExactlyFourEntriesWithCredentialsOnlyWhenRequired) {
    TempHome home;
    EXPECT_EQ(writeSettings(home, proxy(8080, false)),
              (platform::PlistDictionary{{"ProxyIpAddress", "proxy.lan"},
                                         {"ProxyServerPort", std::int64_t{8080}},
                                         {"UserName", ""},
                                         {"Password", ""}}));
    std::filesystem::remove(home / kSettings);
    EXPECT_EQ(writeSettings(home, proxy(0, true)),
              (platform::PlistDictionary{{"ProxyIpAddress", "proxy.lan"},
                                         {"ProxyServerPort", std::int64_t{0}},
                                         {"UserName", "user"},
                                         {"Password", "secret"}}));
}

TEST(ProxySettingsFile, ExistingFileKeepsOtherEntriesAndDropsCredentialsWhenNotRequired) {
    TempHome home;
    writeFile(home / kSettings,
              platform::PropertyList::toXml(platform::PlistDictionary{
                  {"AgentSetting", "keep me"}, {"UserName", "old"}, {"Password", "old"}}));
    auto settings = writeSettings(home, proxy(65535, false));
    ASSERT_TRUE(settings);
    EXPECT_EQ(*settings, (platform::PlistDictionary{{"AgentSetting", "keep me"},
                                                    {"ProxyIpAddress", "proxy.lan"},
                                                    {"ProxyServerPort", std::int64_t{65535}},
                                                    {"UserName", ""},
                                                    {"Password", ""}}));
}

TEST(ProxySettingsFile, IncompleteOrOutOfRangeSettingsWriteNothing) {
    TempHome home;
    auto missingPassword = proxy(8080, false);
    missingPassword.erase("password");
    auto emptyHost = proxy(8080, true);
    emptyHost["host"] = "";
    auto portAsText = proxy(8080, true);
    portAsText["port"] = "8080";
    for (const auto& preferences :
         {proxy(65536, true), proxy(-1, true), missingPassword, emptyHost, portAsText}) {
        EXPECT_FALSE(writeSettings(home, preferences));
    }
    // An existing file that is no dictionary is left exactly as it was.
    writeFile(home / kSettings, "garbage");
    writeSettings(home, proxy(8080, true));
    EXPECT_EQ(readFile(home / kSettings), "garbage");
}

// Control characters typed into the proxy form reach the preferences and the connection
// settings; both files stay well-formed XML for any reader, the log says what was left out,
// and never shows the password.
TEST(ProxySettingsFile, CharactersXmlCannotHoldAreLeftOutOfEveryFileTheAgentReads) {
    TempHome home;
    std::string output = outputOfChild([] {
        platform::Preferences& defaults = platform::Preferences::standardUserDefaults();
        defaults.setString("host", "proxy.lan");
        defaults.setInteger("port", 3128);
        defaults.setBool("authRequired", true);
        defaults.setString("userName", "an\x0cn");
        defaults.setString("password", std::string("Zq\x01Xv\x1bKp\xff", 9));
        (void)defaults.synchronize();
        NativeMessageHandler::shared().setupProxyDetails();
    });
    for (const char* file : {kPreferences, kSettings}) {
        std::string text = readFile(home / file);
        for (unsigned char c : text) {
            EXPECT_TRUE(c >= 0x20 || c == '\t' || c == '\n' || c == '\r')
                << file << " holds character " << int(c);
        }
    }
    auto settings = platform::PropertyList::readFile(home / kSettings);
    ASSERT_TRUE(settings && settings->dictionary());
    EXPECT_EQ(*settings->dictionary()->at("UserName").string(), "ann");
    EXPECT_EQ(*settings->dictionary()->at("Password").string(), "ZqXvKp\xEF\xBF\xBD");
    EXPECT_THAT(output, HasSubstr("characters XML cannot hold")) << output;
    EXPECT_THAT(output, Not(HasSubstr("Zq"))) << "the password reached the log";
}
