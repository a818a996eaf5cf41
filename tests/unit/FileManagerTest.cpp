#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "../support/TempHome.h"
#include "platform/FileManager.h"

namespace fs = std::filesystem;

TEST(FileManager, CopyKeepsLinksAndModesAndNeverOverwrites) {
    TempHome home;
    auto& files = platform::FileManager::defaultManager();
    std::string bundle = home / "A.app";
    writeFile(bundle + "/Contents/MacOS/run", "#!/bin/sh\n");
    fs::permissions(bundle + "/Contents/MacOS/run", fs::perms::owner_all);
    fs::create_symlink("MacOS/run", bundle + "/Contents/link");

    ASSERT_TRUE(files.copyItem(bundle, home / "B.app"));
    EXPECT_TRUE(fs::is_symlink(home / "B.app/Contents/link"));
    EXPECT_EQ(fs::read_symlink(home / "B.app/Contents/link"), "MacOS/run");
    EXPECT_NE(fs::status(home / "B.app/Contents/MacOS/run").permissions() & fs::perms::owner_exec,
              fs::perms::none);

    writeFile(home / "B.app/marker", "keep");
    platform::Status again = files.copyItem(bundle, home / "B.app");
    EXPECT_FALSE(again);
    EXPECT_FALSE(again.errorDescription().empty());
    EXPECT_EQ(readFile(home / "B.app/marker"), "keep");

    EXPECT_FALSE(files.copyItem(home / "missing", home / "C"));
    EXPECT_FALSE(files.fileExistsAtPath(home / "C"));
}

TEST(FileManager, AtomicWriteReplacesWholeAndLeavesNoTemporaries) {
    TempHome home;
    auto& files = platform::FileManager::defaultManager();
    std::string path = home / "settings.plist";
    ASSERT_TRUE(files.writeContentsAtomically(path, "first"));
    ASSERT_TRUE(files.writeContentsAtomically(path, "second"));
    EXPECT_EQ(files.contentsAtPath(path), "second");
    EXPECT_EQ(std::distance(fs::directory_iterator(home.path()), fs::directory_iterator()), 1);

    EXPECT_FALSE(files.writeContentsAtomically(home / "no/such/folder/file", "x"));
    std::string error;
    EXPECT_FALSE(files.contentsAtPath(home / "absent", &error).has_value());
    EXPECT_NE(error.find("absent"), std::string::npos);
}
