#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/wait.h>

#include <nlohmann/json.hpp>

#include "../support/ChildProcess.h"
#include "../support/FakeUrlHandler.h"
#include "../support/Files.h"
#include "../support/LaunchedApp.h"
#include "../support/TempHome.h"
#include "Handlers/NativeMessageHandler.h"
#include "Objects/SessionDetails.h"
#include "platform/Preferences.h"
#include "platform/PropertyList.h"

using ::testing::HasSubstr;

using platform::ScriptMessage;
using platform::ScriptValue;
using platform::ScriptValueType;

// Each test runs its messages in a child, where the process-wide preferences live in the
// test's temporary home, and gets back what the page would have received.

namespace {

struct RecordingDelegate : NativeMessageHandlerDelegate {
    nlohmann::json scripts = nlohmann::json::array();
    nlohmann::json titles = nlohmann::json::array();
    void executeJavaScript(const std::string& script) override { scripts.push_back(script); }
    void updateWindowTitle(const std::string& title) override { titles.push_back(title); }
};

ScriptValue value(ScriptValueType type, const std::string& text = "", double number = 0,
                  bool boolean = false) {
    ScriptValue made;
    made.type = type;
    made.text = text;
    made.number = number;
    made.boolean = boolean;
    return made;
}
ScriptValue text(const std::string& body) {
    return value(ScriptValueType::String, body);
}
ScriptValue none() {
    return value(ScriptValueType::Null);
}

struct Outcome {
    nlohmann::json scripts, titles;
    std::string digest;
    std::string sessionKey;
    std::string output;
};

Outcome send(const std::vector<ScriptMessage>& messages) {
    auto [result, output] = resultOfChild([&] {
        RecordingDelegate delegate;
        NativeMessageHandler::shared().setNativeMessageHandlerDelegate(&delegate);
        for (const auto& message : messages)
            NativeMessageHandler::shared().handleMessageFromWebView(message);
        // As the application does before it ends.
        (void)platform::Preferences::standardUserDefaults().synchronize();
        return nlohmann::json{
            {"scripts", delegate.scripts},
            {"titles", delegate.titles},
            {"digest", SessionDetails::getInstance().sessionDigest().value_or("<absent>")},
            {"sessionKey", SessionDetails::getInstance().sessionKey().value_or("<absent>")}}
            .dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);  // keys of any bytes
    });
    auto json = nlohmann::json::parse(result);
    return {json["scripts"], json["titles"], json["digest"], json["sessionKey"], output};
}

const char* kPreferences = "Library/Preferences/com.Orvo.Tendra.OrvoTendraKelvane.plist";

platform::PlistDictionary stored(const TempHome& home) {
    auto root = platform::PropertyList::readFile(home / kPreferences);
    return root && root->dictionary() ? *root->dictionary() : platform::PlistDictionary{};
}

}  // namespace

TEST(NativeMessageHandler, DigestIsStoredClearedAndOnlyReadIntoTheSessionOnRequest) {
    TempHome home;
    auto outcome = send({{"getRRSessionDigest", none()},
                         {"sendRRSessionDigestToNative", text("abc")},
                         {"getRRSessionDigest", none()},
                         {"clearRRSessionDigest", none()},
                         {"getRRSessionDigest", none()},
                         {"sendRRSessionDigestToNative", text("later")}});
    EXPECT_EQ(outcome.scripts, (nlohmann::json{R"(window.receiveRRSessionDigest("");)",
                                               R"(window.receiveRRSessionDigest("abc");)",
                                               R"(window.receiveRRSessionDigest("");)"}));
    EXPECT_EQ(outcome.digest, "") << "sending a digest does not touch the session";
    EXPECT_EQ(*stored(home).at("RRSessionDigest").string(), "later");
}

TEST(NativeMessageHandler, CustomerDetailsRoundTripWithDefaultLanguage) {
    TempHome home;
    auto outcome = send(
        {{"getCustomerDetails", none()},
         {"sendCustomerDetailsToNative",
          text(R"({"name":"Ann","company":"","email":"a@x","language":""})")},
         {"getCustomerDetails", none()},
         {"sendCustomerDetailsToNative", text(R"({"name":"Bob","email":"b@x","language":"de"})")},
         {"sendCustomerDetailsToNative",
          value(ScriptValueType::Object,
                R"({"name":"C","company":"","email":"","language":"fr"})")},
         {"getCustomerDetails", none()}});
    ASSERT_EQ(outcome.scripts.size(), 3u);
    auto argument = [&](int i) {
        std::string script = outcome.scripts[i];
        const std::string prefix = "window.receiveCustomerDetails(";
        EXPECT_EQ(script.rfind(prefix, 0), 0u);
        return nlohmann::json::parse(
            script.substr(prefix.size(), script.size() - prefix.size() - 2));
    };
    EXPECT_EQ(
        argument(0),
        (nlohmann::json{
            {"name", nullptr}, {"company", nullptr}, {"email", nullptr}, {"language", "en"}}));
    EXPECT_EQ(
        argument(1),
        (nlohmann::json{{"name", "Ann"}, {"company", ""}, {"email", "a@x"}, {"language", "en"}}));
    // The record without "company" and the one sent as an object changed nothing.
    EXPECT_EQ(argument(2), argument(1));
    EXPECT_EQ(
        countOccurrences(outcome.output,
                         "handleMessageFromWebView(message:) : Customer Details Not Initialized."),
        1u);
}

TEST(NativeMessageHandler, ProxyDetailsKeepTheirTypesAndBadRecordsStoreNothing) {
    TempHome home;
    auto outcome = send(
        {{"getProxyDetails", none()},
         {"sendProxyDetailsToNative", text(R"({"host":"proxy.lan","port":3128,"authRequired":true,)"
                                           R"("userName":"u","password":"p w"})")},
         {"sendProxyDetailsToNative",
          text(R"({"host":"x","port":"1","authRequired":true,"userName":"","password":""})")},
         {"getProxyDetails", none()}});
    ASSERT_EQ(outcome.scripts.size(), 2u);
    EXPECT_EQ(outcome.scripts[0],
              R"(window.receiveProxyDetails({"authRequired":null,"host":null,"password":null,)"
              R"("port":null,"userName":null});)");
    EXPECT_EQ(
        outcome.scripts[1],
        R"(window.receiveProxyDetails({"authRequired":true,"host":"proxy.lan","password":"p w",)"
        R"("port":3128,"userName":"u"});)");
    auto preferences = stored(home);
    EXPECT_EQ(*preferences.at("port").get<std::int64_t>(), 3128);
    EXPECT_EQ(*preferences.at("authRequired").get<bool>(), true);
}

TEST(NativeMessageHandler, TitleSessionKeyAndFixedReplies) {
    TempHome home;
    auto outcome = send({{"sendKelvaneTitleToNative", value(ScriptValueType::Number, "", 5)},
                         {"sendKelvaneTitleToNative", text("Support for ACME")},
                         {"sendKelvaneTitleToNative", none()},
                         {"getActiveSessionKey", none()},
                         {"clearActiveSessionKey", none()},
                         {"getActiveSessionKey", none()},
                         {"getSystemOs", value(ScriptValueType::Boolean, "", 0, true)},
                         {"GetSystemOs", none()},
                         {"unknown", text("x")},
                         {"consoleHandler", value(ScriptValueType::Number, "", 3)},
                         {"consoleHandler", text("hello from the page")},
                         {"clearKelvaneDigest", none()}});
    EXPECT_EQ(outcome.titles,
              (nlohmann::json{"Orvo Tendra - Kelvane", "Support for ACME", "Support for ACME"}));
    EXPECT_EQ(outcome.scripts, (nlohmann::json{R"(window.receiveActiveSessionKey("");)",
                                               R"(window.receiveSystemOs("mac");)"}));
    EXPECT_EQ(countOccurrences(outcome.output,
                               "handleMessageFromWebView(message:) : No Session id is active."),
              1u);
    EXPECT_EQ(countOccurrences(outcome.output, "Console Message from WebView: "), 1u);
    EXPECT_THAT(outcome.output,
                HasSubstr("handleMessageFromWebView(message:) : Console Message from "
                          "WebView: hello from the page"));
    EXPECT_EQ(*stored(home).at("KelvaneToken").string(), "");
    EXPECT_EQ(*stored(home).at("WindowTitle").string(), "Support for ACME");
}

TEST(NativeMessageHandler, EveryNameWithEveryBodyTypeNeverBreaksAndKeepsWhatIsStored) {
    TempHome home;
    // An older run left values of unexpected kinds behind.
    writeFile(home / kPreferences, platform::PropertyList::toXml(platform::PlistDictionary{
                                       {"name", std::int64_t{7}},
                                       {"language", platform::PlistData{"\x01\x02"}},
                                       {"port", "not a number"},
                                       {"activeSessionKey", std::int64_t{123456789}},
                                       {"WindowTitle", true}}));
    std::vector<ScriptValue> bodies = {text("plain"),
                                       text(std::string(10 * 1024 * 1024, 'x')),
                                       text(std::string(100000, '[')),
                                       value(ScriptValueType::Number, "", 1.5),
                                       value(ScriptValueType::Boolean, "", 0, true),
                                       none(),
                                       value(ScriptValueType::Undefined),
                                       value(ScriptValueType::Object, R"({"a":1})"),
                                       value(ScriptValueType::Array, "[1,2]")};
    std::vector<ScriptMessage> messages;
    for (const char* name :
         {"getRRSessionDigest", "getCustomerDetails", "sendRRSessionDigestToNative",
          "sendCustomerDetailsToNative", "sendRRSessionKeyToNative", "sendJoinDetailsToNative",
          "sendJoinReportAbuseLinkToNative", "kelvaneLoaded", "clearRRSessionDigest",
          "sendKelvaneTitleToNative", "clearKelvaneDigest", "getProxyDetails",
          "sendProxyDetailsToNative", "getActiveSessionKey", "clearActiveSessionKey", "getSystemOs",
          "consoleHandler"}) {
        for (const auto& body : bodies) messages.push_back({name, body});
    }
    auto outcome = send(messages);
    auto preferences = stored(home);
    EXPECT_EQ(*preferences.at("name").get<std::int64_t>(), 7) << "no customer record was valid";
    EXPECT_EQ(*preferences.at("port").string(), "not a number") << "no proxy record was valid";
    // Customer details with a value JSON cannot hold: the page is called without an argument.
    EXPECT_NE(std::find(outcome.scripts.begin(), outcome.scripts.end(),
                        "window.receiveCustomerDetails();"),
              outcome.scripts.end());
    EXPECT_NE(std::find(outcome.scripts.begin(), outcome.scripts.end(),
                        R"(window.receiveActiveSessionKey("123456789");)"),
              outcome.scripts.end());
}

// What the bridge hands on: keys counted as a person counts characters, and report-abuse
// links of any scheme opened by the desktop's handler for it.
// Both ways of joining take keys of nine and ten characters, and only those.
TEST(NativeMessageHandler, SessionKeysOfNineAndTenCharactersJoin) {
    TempHome home;
    for (const std::string key : {"12345678", "123456789", "1234567890", "12345678901"}) {
        bool valid = key.size() == 9 || key.size() == 10;
        auto joined = send({{"sendJoinDetailsToNative",
                             text(R"({"sessionKey":)" + key + R"(,"email":"a@b.example"})")}});
        EXPECT_EQ(countOccurrences(joined.output, "Invalid Session Key from Join Page"),
                  valid ? 0u : 1u)
            << key;
        EXPECT_EQ(joined.sessionKey, valid ? key : "<absent>") << key;
        auto requested = send({{"sendRRSessionKeyToNative", text(key)}});
        EXPECT_EQ(
            countOccurrences(requested.output, "Invalid Session Key from Raise a Request Page"),
            valid ? 0u : 1u)
            << key;
        EXPECT_EQ(requested.sessionKey, valid ? key : "<absent>") << key;
    }
}

TEST(NativeMessageHandler, RaiseARequestKeysCountPerceivedCharactersAndAbuseLinksOfAnySchemeOpen) {
    TempHome home;
    FakeUrlHandler handler(home, {"mailto", "tel"});
    auto invalidKeys = [](const std::string& key) {
        return countOccurrences(send({{"sendRRSessionKeyToNative", text(key)}}).output,
                                "Invalid Session Key");
    };
    EXPECT_EQ(invalidKeys("12345678\r\n"), 0u) << "\\r\\n is one character: nine in all";
    EXPECT_EQ(invalidKeys("12345678\xF0\x9F\x87\xA9\xF0\x9F\x87\xAA"), 0u)
        << "a flag is one character";
    EXPECT_EQ(invalidKeys("1234567e\xCC\x81"), 1u) << "an accented letter is one: eight in all";
    EXPECT_EQ(
        invalidKeys(
            "12345678\xF0\x9F\x91\xA8\xE2\x80\x8D\xF0\x9F\x91\xA9\xE2\x80\x8D\xF0\x9F\x91\xA7"),
        0u);
    EXPECT_EQ(invalidKeys("12345678\xFF"), 0u) << "a byte that is no UTF-8 is one character";

    auto outcome = send({{"sendJoinReportAbuseLinkToNative", text("mailto:abuse@example.com")},
                         {"sendJoinReportAbuseLinkToNative", text("tel:+15550100")},
                         {"sendJoinReportAbuseLinkToNative", text("not a link")},
                         {"sendJoinReportAbuseLinkToNative", text("gopher://abuse.example")}});
    EXPECT_TRUE(waitUntil([&] { return countOccurrences(handler.openedText(), "\n") == 2; }, 10));
    EXPECT_EQ(handler.openedText(), "mailto:abuse@example.com\ntel:+15550100\n");
    EXPECT_EQ(countOccurrences(outcome.output, "Opened Report Abuse Page in the Default browser"),
              2u)
        << outcome.output;
    // No handler for the scheme: the desktop's reason reaches the log.
    auto failed =
        outcome.output.find("The Report Abuse Page could not be opened in the Default browser: ");
    ASSERT_NE(failed, std::string::npos) << outcome.output;
    EXPECT_NE(outcome.output[outcome.output.find(": ", failed) + 2], '\n') << "no reason given";
}

// A page that sends a huge body, or a burst of messages while the disk is busy: the body is
// refused with a line, and the main thread never waits for the preferences file.
TEST(NativeMessageHandler, HugeBodiesAreRefusedAndWritesNeverHoldTheMainThread) {
    TempHome home;
    std::string folder = home / "Library/Preferences";
    std::filesystem::create_directories(folder);
    writeFile(home / kPreferences, platform::PropertyList::toXml(platform::PlistDictionary{
                                       {"earlier", std::string(2 << 20, 'e')}}));
    // Another writer holds the preferences folder for the whole burst.
    int held = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY);
    ASSERT_EQ(::flock(held, LOCK_EX), 0);
    std::vector<ScriptMessage> burst;
    burst.push_back({"sendRRSessionDigestToNative", text(std::string(10 << 20, 'd'))});
    for (int i = 0; i < 200; ++i)
        burst.push_back({"sendKelvaneTitleToNative", text("Title " + std::to_string(i))});
    // The folder is let go once the burst has been handled, or after 20 s: a main thread that
    // waited for the disk would only finish then. The child is forked by hand, with no other
    // thread running here, so that it inherits no lock held half-way.
    std::string handled = home / "handled";
    std::string log = home / "child-output.txt";
    std::string titles = home / "titles.json";
    std::fflush(nullptr);
    pid_t child = ::fork();
    if (child == 0) {
        ::close(held);  // the lock stays the parent's
        (void)std::freopen(log.c_str(), "w", stdout);
        (void)std::freopen(log.c_str(), "a", stderr);
        RecordingDelegate delegate;
        NativeMessageHandler::shared().setNativeMessageHandlerDelegate(&delegate);
        for (const auto& message : burst)
            NativeMessageHandler::shared().handleMessageFromWebView(message);
        writeFile(titles, nlohmann::json(delegate.titles).dump());
        writeFile(handled, "");
        // As the application does before it ends: this one waits for the folder.
        (void)platform::Preferences::standardUserDefaults().synchronize();
        std::fflush(nullptr);
        ::_exit(0);
    }
    bool handledWhileHeld = waitUntil([&] { return std::filesystem::exists(handled); }, 20);
    ::close(held);
    int status = -1;
    ::waitpid(child, &status, 0);
    EXPECT_TRUE(handledWhileHeld) << "the main thread waited for the preferences file";
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    Outcome outcome;
    outcome.titles = nlohmann::json::parse(readFile(titles), nullptr, false);
    outcome.output = readFile(log);
    EXPECT_EQ(outcome.titles.size(), 200u);
    EXPECT_THAT(outcome.output,
                HasSubstr("The body of sendRRSessionDigestToNative (10485760 bytes) is "
                          "above the bound of 65536 bytes; the message is ignored"))
        << outcome.output.substr(0, 2000);
    auto values = stored(home);
    EXPECT_EQ(values.count("RRSessionDigest"), 0u);
    EXPECT_EQ(*values.at("WindowTitle").string(), "Title 199");
    EXPECT_EQ(values.at("earlier").string()->size(), std::size_t(2 << 20));
}
