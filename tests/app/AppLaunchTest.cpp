#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "../support/AppFixture.h"

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
    EXPECT_EQ(text.find("Orvo Kelvane Log Folder Created"), std::string::npos);
    EXPECT_NE(readFile(output()).find(
                  "-[LogHandler createOrvoKelvaneLogFolder] Orvo Kelvane Log Folder Created..."),
              std::string::npos);
    std::vector<std::string> ordered = {
        "************* Orvo Kelvane App Started ************ \n",
        "+[Utils createConveloNativeFolder] Convelo Native Folder Created...",
        "+[Utils createOrvoKelvaneNativeFolder] Orvo Kelvane Native Folder Created...",
        "+[Utils parseCommandLineArgs] ******* Orvo Tendrra Kelvane App Invoked By User.",
        "+[Utils findCurrentAppPath] Orvo Kelvane App path : " + m_bundle + "\n",
        "+[Utils getOrvoKelvaneAppVersion] local Orvo Tendra Kelvane App version : 1.0.0\n",
        "+[Utils updateKelvaneIfNeeded] There is No Updated App downloaded from server.",
        "Orvo Kelvane App terminated ******* \n\n",
    };
    std::size_t position = 0;
    for (const auto& line : ordered) {
        auto found = text.find(line, position);
        ASSERT_NE(found, std::string::npos) << "missing or out of order: " << line << "\nlog:\n"
                                            << text;
        position = found;
    }
    EXPECT_EQ(countOccurrences(text, "Orvo Kelvane App terminated"), 1u);
    EXPECT_TRUE(fs::is_directory(m_home / "Library/Application Support/ConveloNative"));
    EXPECT_TRUE(fs::is_directory(m_home / "Library/Application Support/OrvoKelvaneNativeFolder"));

    std::string preferences = readFile(preferencesPath());
    EXPECT_NE(preferences.find("<key>WebKitOfflineWebApplicationCacheEnabled</key>\n\t<true/>"),
              std::string::npos);
    EXPECT_EQ(preferences.find("<key>DC</key>"), std::string::npos)
        << "launch arguments are never stored";
}

TEST_F(AppLaunch, QuittingOtherwiseSkipsTheExitSequence) {
    auto app = launch({});
    ASSERT_TRUE(waitUntil([&] { return log().find("App version :") != std::string::npos; }, 20));
    ::kill(app->pid(), SIGTERM);
    auto status = app->waitForExit(20);
    ASSERT_TRUE(status.has_value());
    EXPECT_TRUE(WIFEXITED(*status));
    EXPECT_EQ(log().find("Orvo Kelvane App terminated"), std::string::npos);
    EXPECT_EQ(log().find("There is No Updated App"), std::string::npos);
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
    EXPECT_NE(text.find("Convelo Native folder Already Present"), std::string::npos);
    EXPECT_NE(text.find("local Orvo Tendra Kelvane App version : (null)"), std::string::npos);
    EXPECT_NE(text.find("could not be read"), std::string::npos);
    bool keptAside = false;
    for (const auto& entry : fs::directory_iterator(m_home / "Library/Preferences")) {
        if (entry.path().string().find(".corrupt-") != std::string::npos) {
            keptAside =
                readFile(entry.path().string()) == "<plist version=\"1.0\"><dict><key>broken";
        }
    }
    EXPECT_TRUE(keptAside);
    EXPECT_NE(readFile(preferences).find("WebKitOfflineWebApplicationCacheEnabled"),
              std::string::npos);
}
