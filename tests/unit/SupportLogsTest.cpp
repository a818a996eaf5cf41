#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>

#include "../support/Files.h"
#include "../support/ScopedEnvironment.h"
#include "../support/TempHome.h"
#include "platform/Task.h"

using ::testing::HasSubstr;
using ::testing::Not;

namespace fs = std::filesystem;

// The support-logs command packs the log with its backups, the versions and the settings into
// one archive in Downloads, and no password reaches it: not from the settings, not from a log
// line that happened to carry one.
TEST(SupportLogs, TheArchiveHoldsTheLogsVersionsAndSettingsAndNoPassword) {
    TempHome home;
    ScopedEnvironment environment{{"XDG_CONFIG_HOME", home / ".config"}};
    const std::string logs = home / "Library/Logs/OrvoTendra/OrvoKelvane/";
    writeFile(logs + "orvoKelvane.log", "proxy set up with s3cr3t-Pw9 by mistake\ncurrent\n");
    writeFile(logs + "orvoKelvane0.log", "newest backup\n");
    writeFile(logs + "orvoKelvane3.log", "older backup\n");
    writeFile(home / "Library/Preferences/com.Orvo.Tendra.OrvoTendraKelvane.plist",
              "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
              "<key>userName</key><string>ann</string>"
              "<key>password</key><string>s3cr3t-Pw9</string>"
              "<key>WindowTitle</key><string>Support</string></dict></plist>");
    writeFile(home / "Library/Logs/OrvoTendra/ConnectionSettings.plist",
              "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
              "<key>Proxy</key><dict><key>Password</key><string>c0nn-Secret</string></dict>"
              "</dict></plist>");

    auto result = platform::Task::shared().run(KELVANE_SUPPORT_LOGS_TOOL, {}, true);
    ASSERT_EQ(result.terminationStatus, 0) << result.error;
    std::vector<fs::path> archives;
    for (const auto& entry : fs::directory_iterator(home / "Downloads")) {
        archives.push_back(entry.path());
    }
    ASSERT_EQ(archives.size(), 1u) << "one archive and nothing half-written beside it";
    EXPECT_EQ(archives[0].extension(), ".zip");
    EXPECT_THAT(result.standardOutput, HasSubstr(archives[0].string()));

    std::string unpacked = home / "unpacked";
    fs::create_directories(unpacked);
    std::string command = "bsdtar -xf '" + archives[0].string() + "' -C '" + unpacked + "'";
    ASSERT_EQ(std::system(command.c_str()), 0);
    EXPECT_THAT(readFile(unpacked + "/logs/orvoKelvane.log"), HasSubstr("current\n"));
    EXPECT_EQ(readFile(unpacked + "/logs/orvoKelvane0.log"), "newest backup\n");
    EXPECT_EQ(readFile(unpacked + "/logs/orvoKelvane3.log"), "older backup\n");
    std::string versions = readFile(unpacked + "/versions.txt");
    EXPECT_THAT(versions, HasSubstr(": 1.0.0\n"));
    EXPECT_THAT(versions, HasSubstr("Agent: not found"));
    EXPECT_THAT(versions, HasSubstr("Operating system: "));
    std::string settings = readFile(unpacked + "/settings/com.Orvo.Tendra.OrvoTendraKelvane.plist");
    EXPECT_THAT(settings, HasSubstr("<string>ann</string>"));
    EXPECT_THAT(settings, HasSubstr("<string>(removed)</string>"));

    for (const auto& entry : fs::recursive_directory_iterator(unpacked)) {
        if (!entry.is_regular_file()) continue;
        std::string text = readFile(entry.path().string());
        EXPECT_THAT(text, Not(HasSubstr("s3cr3t-Pw9"))) << entry.path();
        EXPECT_THAT(text, Not(HasSubstr("c0nn-Secret"))) << entry.path();
    }
}
