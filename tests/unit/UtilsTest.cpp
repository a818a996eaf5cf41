#include <gtest/gtest.h>

#include <filesystem>

#include "../support/ChildProcess.h"
#include "../support/TempHome.h"
#include "Handlers/Utils.h"
#include "Objects/SessionDetails.h"
#include "platform/PropertyList.h"

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
    EXPECT_NE(first.find("+[Utils createConveloNativeFolder] Convelo Native Folder Created..."),
              std::string::npos);
    EXPECT_NE(first.find("+[Utils createOrvoKelvaneNativeFolder] Orvo Kelvane Native Folder Created..."),
              std::string::npos);
    EXPECT_TRUE(std::filesystem::is_directory(home / "Library/Application Support/ConveloNative"));

    // A plain file where the native folder belongs counts as present and stays a file.
    std::filesystem::remove(home / "Library/Application Support/OrvoKelvaneNativeFolder");
    writeFile(home / "Library/Application Support/OrvoKelvaneNativeFolder", "not a folder");
    std::string second = outputOf(home, [] {
        Utils::createConveloNativeFolder();
        Utils::createOrvoKelvaneNativeFolder();
    });
    EXPECT_NE(second.find("Convelo Native folder Already Present"), std::string::npos);
    EXPECT_NE(second.find("Orvo Kelvane Native folder Already Present"), std::string::npos);
    EXPECT_EQ(second.find("Created"), std::string::npos);
    EXPECT_TRUE(std::filesystem::is_regular_file(home / "Library/Application Support/OrvoKelvaneNativeFolder"));
}

TEST(Utils, FolderThatCannotBeCreatedIsLoggedAndNothingElseHappens) {
    TempHome home;
    writeFile(home / "Library", "blocks every folder below it");
    std::string output = outputOf(home, [] { Utils::createConveloNativeFolder(); });
    EXPECT_NE(output.find("+[Utils createConveloNativeFolder] Failed to Create Convelo Native Folder..."),
              std::string::npos);
}

TEST(Utils, OwnVersionComesFromTheBundleOrIsZeroWhenTheBundleIsGone) {
    TempHome home;
    SessionDetails& session = SessionDetails::getInstance();
    auto versionFor = [&](const std::string& bundlePath) {
        session.setKelvaneAppPath(bundlePath);
        std::string output = outputOf(home, [&] {
            Utils::getOrvoKelvaneAppVersion();
            std::printf("stored=%s\n", session.localOrvoKelvaneAppVersion().value_or("<absent>").c_str());
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
    EXPECT_NE(output.find("+[Utils updateKelvaneIfNeeded] There is No Updated App downloaded from server."),
              std::string::npos);
    EXPECT_NE(output.find("+[Utils updateKelvaneIfNeeded] : ************************** Orvo Kelvane App "
                          "terminated ******* \n\n"),
              std::string::npos);
}
