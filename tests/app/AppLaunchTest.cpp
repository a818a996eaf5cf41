#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "../support/AppFixture.h"
#include "../support/ExpectedLines.h"
#include "../support/Files.h"

using ::testing::HasSubstr;
using ::testing::Not;

namespace fs = std::filesystem;

// Starts the real executable under the test's X display, as a customer would, from a copy
// in an unrelated folder: the bundle must find itself wherever it lies.
class AppLaunch : public AppFixture {
  protected:
    std::string output() const { return m_home / "launch-output.txt"; }
};

TEST_F(AppLaunch, ClosingTheWindowRunsTheExitSequenceOnceAfterAnOrderedStart) {
    auto app = launch({"-DC", "eu"});
    EXPECT_TRUE(launchWorkDone());
    ASSERT_TRUE(closeWindow(*app));
    auto status = app->waitForExit(20);
    ASSERT_TRUE(status.has_value());
    EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0);

    std::string text = log();
    // The banner opens the log; the folder line went to the original standard error.
    EXPECT_EQ(text.find("+[Utils createKelvaneDirectoriesWithLogHandler:] : ****"),
              text.find("+[Utils"));
    EXPECT_THAT(text, Not(HasSubstr("Orvo Kelvane Log Folder Created")));
    EXPECT_THAT(
        readFile(output()),
        HasSubstr("-[LogHandler createOrvoKelvaneLogFolder] Orvo Kelvane Log Folder Created..."));
    EXPECT_TRUE(logHasLinesInOrder(text, expectedLines::firstStartAndExit(m_bundle, "1.0.0")));
    EXPECT_EQ(countOccurrences(text, "Orvo Kelvane App terminated"), 1u);
    EXPECT_TRUE(fs::is_directory(m_home / "Library/Application Support/ConveloNative"));
    EXPECT_TRUE(fs::is_directory(m_home / "Library/Application Support/OrvoKelvaneNativeFolder"));

    std::string preferences = readFile(preferencesPath());
    EXPECT_THAT(preferences,
                HasSubstr("<key>WebKitOfflineWebApplicationCacheEnabled</key>\n\t<true/>"));
    EXPECT_THAT(preferences, Not(HasSubstr("<key>DC</key>")))
        << "launch arguments are never stored";
}

TEST_F(AppLaunch, QuittingOtherwiseSkipsTheExitSequence) {
    auto app = launch({});
    ASSERT_TRUE(waitUntil([&] { return log().find("App version :") != std::string::npos; }, 20));
    ::kill(app->pid(), SIGTERM);
    auto status = app->waitForExit(20);
    ASSERT_TRUE(status.has_value());
    EXPECT_TRUE(WIFEXITED(*status));
    EXPECT_THAT(log(), Not(HasSubstr("Orvo Kelvane App terminated")));
    EXPECT_THAT(log(), Not(HasSubstr("There is No Updated App")));
}

TEST_F(AppLaunch, StartsWithCorruptPreferencesAndNoInfoPlistAndKeepsTheBadFile) {
    std::string preferences = preferencesPath();
    writeFile(preferences, "<plist version=\"1.0\"><dict><key>broken");
    fs::remove(m_bundle + "/Contents/Info.plist");
    // A second start finds both folders in place.
    fs::create_directories(m_home / "Library/Application Support/ConveloNative");

    auto app = launch({});
    EXPECT_TRUE(launchWorkDone());
    ASSERT_TRUE(closeWindow(*app));
    ASSERT_TRUE(app->waitForExit(20).has_value());

    std::string text = log() + readFile(output());
    EXPECT_THAT(text, HasSubstr("Convelo Native folder Already Present"));
    EXPECT_THAT(text, HasSubstr("local Orvo Tendra Kelvane App version : (null)"));
    EXPECT_THAT(text, HasSubstr("could not be read"));
    bool keptAside = false;
    for (const auto& entry : fs::directory_iterator(m_home / "Library/Preferences")) {
        if (entry.path().string().find(".corrupt-") != std::string::npos) {
            keptAside =
                readFile(entry.path().string()) == "<plist version=\"1.0\"><dict><key>broken";
        }
    }
    EXPECT_TRUE(keptAside);
    EXPECT_THAT(readFile(preferences), HasSubstr("WebKitOfflineWebApplicationCacheEnabled"));
}

// One copy per user and home: a second start in the same home without a request ends at
// once, having asked the first to bring its window forward, and nothing is written there; a
// start in another home runs.
TEST_F(AppLaunch, ASecondStartInTheSameHomeEndsAndAnotherHomeGetsItsOwnCopy) {
    auto first = launch({"-DC", "eu"});
    ASSERT_TRUE(logShows("App version :", 20)) << log();

    auto second = launch({"-WindowTitle", "ignored"});
    auto status = second->waitForExit(20);
    ASSERT_TRUE(status.has_value()) << "the second start kept running";
    EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0);
    EXPECT_THAT(readFile(output()), HasSubstr("is already running for this user and home"));
    EXPECT_EQ(countOccurrences(log(), "App Started"), 1u) << "the second start wrote to the log";
    EXPECT_EQ(countOccurrences(log(), "Invoked By User"), 1u);
    EXPECT_FALSE(first->waitForExit(0.5).has_value()) << "the first copy ended";

    // Started through a link of another name, as the package's launcher is; its log lines
    // still name the executable.
    TempHome other;
    fs::create_symlink(m_bundle + "/Contents/MacOS/OrvoTendraKelvane", other / "launcher");
    LaunchedApp elsewhere(other / "launcher", {"-DC", "eu"}, other.path(),
                          other / "launch-output.txt");
    std::string otherLog = other / "Library/Logs/OrvoTendra/OrvoKelvane/orvoKelvane.log";
    EXPECT_TRUE(waitUntil(
        [&] { return readFile(otherLog).find("App version :") != std::string::npos; }, 20));
    EXPECT_THAT(readFile(otherLog), HasSubstr(" OrvoTendraKelvane["));
    EXPECT_THAT(readFile(otherLog), Not(HasSubstr(" launcher[")));
    EXPECT_FALSE(elsewhere.waitForExit(0.5).has_value());
    EXPECT_FALSE(first->waitForExit(0.1).has_value());
}

// The package's launcher starts the copy the application keeps current: the one in
// ~/Applications when it is whole and not older than the packaged one, else the packaged one.
TEST_F(AppLaunch, APackagedStartRunsTheCopyInApplicationsWhenItIsWholeAndNotOlder) {
    std::string packaged = m_home / "package/opt/Orvo Tendra Kelvane.app";
    std::string installed = m_home / "Applications/Orvo Tendra Kelvane.app";
    auto placeAt = [](const std::string& bundle, const std::string& version) {
        fs::remove_all(bundle);
        fs::create_directories(fs::path(bundle).parent_path());
        fs::copy(KELVANE_BUNDLE_DIR, bundle, fs::copy_options::recursive);
        std::string info = readFile(bundle + "/Contents/Info.plist");
        std::string key = "<key>CFBundleShortVersionString</key>";
        std::size_t value = info.find("<string>", info.find(key));
        info.replace(value, info.find("</string>", value) - value, "<string>" + version);
        writeFile(bundle + "/Contents/Info.plist", info);
    };
    placeAt(packaged, "1.9");
    m_environment.set("KELVANE_MENU_START", "1");
    struct Case {
        const char* installedVersion;  // nullptr: a copy cut short, without its executable
        bool runsInstalled;
    };
    for (Case c :
         {Case{"1.10", true}, Case{"1.9", true}, Case{"1.8.7", false}, Case{nullptr, false}}) {
        SCOPED_TRACE(c.installedVersion ? c.installedVersion : "half-copied");
        placeAt(installed, c.installedVersion ? c.installedVersion : "2.0");
        if (!c.installedVersion) fs::remove(installed + "/Contents/MacOS/OrvoTendraKelvane");
        fs::remove(m_home / "Library/Logs/OrvoTendra/OrvoKelvane/orvoKelvane.log");
        LaunchedApp app(packaged + "/Contents/MacOS/OrvoTendraKelvane", {"-DC", "eu"},
                        m_home.path(), output());
        std::string ran = c.runsInstalled ? installed : packaged;
        EXPECT_TRUE(logShows("Orvo Kelvane App path : " + ran + "\n", 20)) << log();
        std::string version = c.runsInstalled ? c.installedVersion : "1.9";
        EXPECT_THAT(log(), HasSubstr("local Orvo Tendra Kelvane App version : " + version + "\n"));
        ::kill(app.pid(), SIGTERM);
        EXPECT_TRUE(app.waitForExit(20).has_value());
    }
}
