#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "../support/ChildProcess.h"
#include "../support/Files.h"
#include "../support/TempHome.h"
#include "Handlers/LogHandler.h"
#include "Handlers/NativeMessageHandler.h"
#include "Handlers/Utils.h"
#include "Objects/SessionDetails.h"
#include "platform/Preferences.h"
#include "platform/PropertyList.h"

using ::testing::HasSubstr;
using ::testing::Not;

namespace {

std::string outputOf(const TempHome&, const std::function<void()>& body) {
    int status = 0;
    std::string text = outputOfChild(body, &status);
    EXPECT_EQ(status, 0);
    return text;
}

void writeBundle(const std::string& path, const platform::PlistDictionary& info) {
    writeFile(path + "/Contents/Info.plist", platform::PropertyList::toXml(info));
}

}  // namespace

TEST(Utils, CreatesBothFoldersOnceAndLeavesWhateverIsAlreadyThere) {
    TempHome home;
    std::string first = outputOf(home, [] {
        Utils::createConveloNativeFolder();
        Utils::createOrvoKelvaneNativeFolder();
    });
    EXPECT_THAT(first,
                HasSubstr("+[Utils createConveloNativeFolder] Convelo Native Folder Created..."));
    EXPECT_THAT(
        first,
        HasSubstr("+[Utils createOrvoKelvaneNativeFolder] Orvo Kelvane Native Folder Created..."));
    EXPECT_TRUE(std::filesystem::is_directory(home / "Library/Application Support/ConveloNative"));

    // A plain file where the native folder belongs counts as present and stays a file.
    std::filesystem::remove(home / "Library/Application Support/OrvoKelvaneNativeFolder");
    writeFile(home / "Library/Application Support/OrvoKelvaneNativeFolder", "not a folder");
    std::string second = outputOf(home, [] {
        Utils::createConveloNativeFolder();
        Utils::createOrvoKelvaneNativeFolder();
    });
    EXPECT_THAT(second, HasSubstr("Convelo Native folder Already Present"));
    EXPECT_THAT(second, HasSubstr("Orvo Kelvane Native folder Already Present"));
    EXPECT_THAT(second, Not(HasSubstr("Created")));
    EXPECT_TRUE(std::filesystem::is_regular_file(
        home / "Library/Application Support/OrvoKelvaneNativeFolder"));
}

TEST(Utils, FolderThatCannotBeCreatedIsLoggedAndNothingElseHappens) {
    TempHome home;
    writeFile(home / "Library", "blocks every folder below it");
    std::string output = outputOf(home, [] { Utils::createConveloNativeFolder(); });
    EXPECT_THAT(
        output,
        HasSubstr("+[Utils createConveloNativeFolder] Failed to Create Convelo Native Folder..."));
}

TEST(Utils, OwnVersionComesFromTheBundleOrIsZeroWhenTheBundleIsGone) {
    TempHome home;
    SessionDetails& session = SessionDetails::getInstance();
    auto versionFor = [&](const std::string& bundlePath) {
        session.setKelvaneAppPath(bundlePath);
        std::string output = outputOf(home, [&] {
            Utils::getOrvoKelvaneAppVersion();
            std::printf("stored=%s\n",
                        session.localOrvoKelvaneAppVersion().value_or("<absent>").c_str());
        });
        return output.substr(output.find("stored=") + 7);
    };

    writeBundle(home / "Good.app", {{"CFBundleShortVersionString", "1.10"}});
    EXPECT_EQ(versionFor(home / "Good.app"), "1.10\n");
    // A bundle without the key stores the text of an absent value, not "0".
    writeBundle(home / "NoVersion.app", {{"CFBundleIdentifier", "x"}});
    EXPECT_EQ(versionFor(home / "NoVersion.app"), "(null)\n");
    std::filesystem::create_directories(home / "NoInfo.app/Contents");
    EXPECT_EQ(versionFor(home / "NoInfo.app"), "(null)\n");
    EXPECT_EQ(versionFor(home / "Missing.app"), "0\n");
}

TEST(Utils, ExitStepWithNothingStagedLogsOnlyItsTwoLines) {
    TempHome home;
    std::string output = outputOf(home, [] { Utils::updateKelvaneIfNeeded(); });
    EXPECT_EQ(countOccurrences(output, "\n"), 3u);  // two lines, the last ending in two line feeds
    EXPECT_THAT(
        output,
        HasSubstr(
            "+[Utils updateKelvaneIfNeeded] There is No Updated App downloaded from server."));
    EXPECT_THAT(
        output,
        HasSubstr("+[Utils updateKelvaneIfNeeded] : ************************** Orvo Kelvane App "
                  "terminated ******* \n\n"));
}

// The customer's details (proxy password, name, session key) stay theirs: what the application
// creates is private from the start, and what an earlier run left open is narrowed once.
TEST(Utils, CustomerDetailsArePrivateToTheirOwner) {
    TempHome home;
    namespace fs = std::filesystem;
    auto start = [&] {
        return outputOf(home, [] {
            LogHandler logHandler;
            Utils::createKelvaneDirectoriesWithLogHandler(logHandler);
            platform::Preferences& defaults = platform::Preferences::standardUserDefaults();
            defaults.setString("host", "proxy.example");
            defaults.setInteger("port", 3128);
            defaults.setBool("authRequired", true);
            defaults.setString("userName", "customer");
            defaults.setString("password", "s3cret-Proxy");
            (void)defaults.synchronize();
            NativeMessageHandler::shared().setupProxyDetails();
        });
    };
    auto modeOf = [](const std::string& path) {
        struct stat st {};
        return ::stat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 01000u;
    };
    std::string settings = home / "Library/Logs/OrvoTendra/ConnectionSettings.plist";
    std::string preferences = home / "Library/Preferences/com.Orvo.Tendra.OrvoTendraKelvane.plist";
    const std::vector<std::string> folders = {
        home / "Library", home / "Library/Logs/OrvoTendra",
        home / "Library/Logs/OrvoTendra/OrvoKelvane",
        home / "Library/Application Support/ConveloNative",
        home / "Library/Application Support/OrvoKelvaneNativeFolder"};
    std::string log = home / "Library/Logs/OrvoTendra/OrvoKelvane/orvoKelvane.log";

    (void)start();
    for (const std::string& folder : folders) EXPECT_EQ(modeOf(folder), 0700u) << folder;
    EXPECT_EQ(modeOf(settings), 0600u);
    EXPECT_EQ(modeOf(preferences), 0600u);
    EXPECT_THAT(readFile(log), Not(HasSubstr("open to other users")));

    // Left readable by others, by an earlier version or by hand: narrowed, one line each.
    for (const std::string& folder : folders) fs::permissions(folder, fs::perms(0755));
    fs::permissions(settings, fs::perms(0644));
    fs::permissions(preferences, fs::perms(0644));
    (void)start();
    std::string text = readFile(log);
    EXPECT_THAT(text,
                HasSubstr(settings + " was open to other users (mode 0644); it is now private"))
        << text;
    EXPECT_THAT(text, HasSubstr(preferences + " was open to other users"));
    EXPECT_EQ(modeOf(settings), 0600u);
    EXPECT_EQ(modeOf(preferences), 0600u);
    EXPECT_EQ(modeOf(home / "Library/Logs/OrvoTendra"), 0700u);
    EXPECT_EQ(modeOf(home / "Library"), 0755u) << "only the application's own folders change";

    (void)start();
    std::string again = readFile(log).substr(text.size());
    EXPECT_THAT(again, Not(HasSubstr("open to other users"))) << "said once only";
    EXPECT_THAT(readFile(log), Not(HasSubstr("s3cret-Proxy"))) << "the password is logged";
    EXPECT_THAT(readFile(settings), HasSubstr("s3cret-Proxy"));
}
