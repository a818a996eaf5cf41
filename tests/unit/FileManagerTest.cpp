#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <thread>

#include "../support/Files.h"
#include "../support/TempHome.h"
#include "platform/FileManager.h"

using ::testing::HasSubstr;

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
    fs::create_directories(home / "Preferences");
    std::string path = home / "Preferences/settings.plist";
    ASSERT_TRUE(files.writeContentsAtomically(path, "first"));
    ASSERT_TRUE(files.writeContentsAtomically(path, "second"));
    EXPECT_EQ(files.contentsAtPath(path), "second");
    EXPECT_EQ(std::distance(fs::directory_iterator(home / "Preferences"), fs::directory_iterator()),
              1);

    EXPECT_FALSE(files.writeContentsAtomically(home / "no/such/folder/file", "x"));
    auto absent = files.contentsAtPath(home / "absent");
    ASSERT_FALSE(absent.has_value());
    EXPECT_THAT(absent.error(), HasSubstr("absent"));
}

// A process killed in the middle of a copy or a removal leaves the destination either whole
// or absent, and the hidden work it left is removed by the next process that looks.
TEST(FileManager, KilledCopiesAndRemovalsLeaveNothingHalfDoneUnderTheRealName) {
    TempHome home;
    auto& files = platform::FileManager::defaultManager();
    std::string bundle = home / "Orvo.app";
    for (int i = 0; i < 64; ++i) {
        writeFile(bundle + "/Contents/Resources/part" + std::to_string(i),
                  std::string(2 * 1024 * 1024, char('a' + i % 26)));
    }
    fs::create_directories(home / "ConveloNative");
    std::string destination = home / "ConveloNative/Orvo.app";
    auto workInProgress = [&](const std::string& mark) {
        for (const auto& entry : fs::directory_iterator(home / "ConveloNative")) {
            if (entry.path().filename().string().find(mark) != std::string::npos) return true;
        }
        return false;
    };
    auto killedDuring = [&](const std::function<void()>& work, const std::string& mark) {
        pid_t child = ::fork();
        if (child == 0) {
            work();
            ::_exit(0);
        }
        bool caught = false;
        for (auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
             !caught && std::chrono::steady_clock::now() < until;) {
            caught = workInProgress(mark);
            if (!caught) std::this_thread::sleep_for(std::chrono::microseconds(100));
        }
        ::kill(child, SIGKILL);
        ::waitpid(child, nullptr, 0);
        return caught;
    };

    ASSERT_TRUE(
        killedDuring([&] { (void)files.copyItem(bundle, destination); }, ".kelvane-copying-"));
    EXPECT_FALSE(fs::exists(destination)) << "half a copy never carries the real name";
    EXPECT_EQ(files.removeLeftoversOfEndedProcesses(home / "ConveloNative").size(), 1u);
    EXPECT_TRUE(fs::is_empty(home / "ConveloNative"));

    // Many small files make the removal last long enough to be caught.
    for (int i = 0; i < 20000; ++i)
        writeFile(destination + "/Contents/Frameworks/f" + std::to_string(i), "x");
    fs::permissions(destination + "/Contents", fs::perms(0555));
    ASSERT_TRUE(killedDuring([&] { (void)files.removeItem(destination); }, ".kelvane-removing-"));
    EXPECT_FALSE(fs::exists(destination)) << "a removal takes the name away first";
    EXPECT_LE(files.removeLeftoversOfEndedProcesses(home / "ConveloNative").size(), 1u);
    EXPECT_TRUE(fs::is_empty(home / "ConveloNative"));

    // Work of a process that is still running is left alone.
    std::string running =
        home / ("ConveloNative/.Orvo.app.kelvane-copying-" + std::to_string(::getppid()) + "-1");
    fs::create_directories(running);
    EXPECT_TRUE(files.removeLeftoversOfEndedProcesses(home / "ConveloNative").empty());
    EXPECT_TRUE(fs::exists(running));
}
