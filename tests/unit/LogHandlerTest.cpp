#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <thread>

#include "../support/ChildProcess.h"
#include "../support/Files.h"
#include "../support/TempHome.h"
#include "Handlers/LogHandler.h"
#include "platform/Log.h"
#include "platform/MainLoop.h"

using ::testing::HasSubstr;

// Every test runs the handler in a child process: it takes over the standard streams.

namespace {

std::string logFolder(const TempHome& home) {
    return home / "Library/Logs/OrvoTendra/OrvoKelvane/";
}

// Grows the current log to `size` bytes through standard output, then ticks once.
void fillAndTick(LogHandler& handler, std::size_t size, char fill) {
    auto current = std::filesystem::file_size(handler.currentLogPath());
    std::fputs(std::string(size - current, fill).c_str(), stdout);
    handler.loggingFile(handler.loggingTimer());
}

}  // namespace

TEST(LogHandler, RotatesOnlyAboveTheLimitAndShiftsBackups) {
    TempHome home;
    int status = runInChild([] {
        LogHandler handler;
        handler.createOrvoKelvaneLogFolder();
        std::filesystem::resize_file(handler.currentLogPath(), 0);

        fillAndTick(handler, LogHandler::kMaximumLogSize, 'x');  // exactly at the limit
        if (handler.logFileNameCount() != 0) return 10;
        if (std::filesystem::exists(handler.backupLogPath(0))) return 11;

        fillAndTick(handler, LogHandler::kMaximumLogSize + 1, 'a');  // first rotation
        if (handler.logFileNameCount() != 1) return 12;
        if (std::filesystem::file_size(handler.currentLogPath()) != 0) return 13;
        fillAndTick(handler, LogHandler::kMaximumLogSize + 1, 'b');
        fillAndTick(handler, LogHandler::kMaximumLogSize + 1, 'c');  // third rotation
        if (handler.logFileNameCount() != 3) return 14;
        std::puts("after rotation");
        handler.loggingFile(nullptr);
        return 0;
    });
    ASSERT_EQ(status, 0);
    std::string folder = logFolder(home);
    EXPECT_EQ(readFile(folder + "orvoKelvane0.log").back(), 'c');
    EXPECT_EQ(readFile(folder + "orvoKelvane1.log").back(), 'b');
    EXPECT_EQ(readFile(folder + "orvoKelvane2.log").back(), 'a');
    EXPECT_EQ(std::filesystem::file_size(folder + "orvoKelvane2.log"),
              LogHandler::kMaximumLogSize + 1);
    EXPECT_FALSE(std::filesystem::exists(folder + "orvoKelvane3.log"));
    // Writes after a rotation land at the start of the emptied file.
    EXPECT_EQ(readFile(folder + "orvoKelvane.log"), "after rotation\n");
}

TEST(LogHandler, KeepsAtMostElevenBackupsAndOldFilesWaitForTheCount) {
    TempHome home;
    std::string folder = logFolder(home);
    // A backup left by an earlier process is replaced only once this process's count reaches it.
    writeFile(folder + "orvoKelvane5.log", "old process");
    int status = runInChild([] {
        LogHandler handler;
        handler.createOrvoKelvaneLogFolder();
        for (int i = 0; i < 13; ++i) {
            fillAndTick(handler, LogHandler::kMaximumLogSize + 1, char('A' + i));
            if (i == 3 && readFile(handler.backupLogPath(5)) != "old process") return 20;
        }
        return handler.logFileNameCount() == LogHandler::kMaximumBackupIndex ? 0 : 21;
    });
    ASSERT_EQ(status, 0);
    EXPECT_FALSE(std::filesystem::exists(folder + "orvoKelvane11.log"));
    // Rotations went A..M: backup 0 holds M, backup 10 holds C (A and B dropped off the end).
    EXPECT_EQ(readFile(folder + "orvoKelvane0.log")[0], 'M');
    EXPECT_EQ(readFile(folder + "orvoKelvane10.log")[0], 'C');
}

TEST(LogHandler, TickCarriesLinesFromEveryThreadIntoTheFileWhole) {
    TempHome home;
    int status = runInChild([] {
        LogHandler handler;
        handler.createOrvoKelvaneLogFolder();
        std::vector<std::thread> writers;
        for (int t = 0; t < 4; ++t) {
            writers.emplace_back([t] {
                for (int i = 0; i < 2000; ++i) {
                    std::string line = "thread " + std::to_string(t) + " line " +
                                       std::to_string(i) + " " + std::string(60, char('a' + t));
                    t % 2 ? platform::print(line) : platform::NSLog(line);
                }
            });
        }
        // Rotations happen meanwhile, driven by the real main-loop timer.
        platform::MainLoop::main().runUntil([] { return false; }, 0.5);
        for (auto& w : writers) w.join();
        std::puts("last line");
        platform::MainLoop::main().runUntil([] { return false; }, 0.25);
        return handler.logFileNameCount() > 0 ? 0 : 30;
    });
    ASSERT_EQ(status, 0);
    std::string all;
    for (const auto& entry : std::filesystem::directory_iterator(logFolder(home))) {
        all += readFile(entry.path().string());
    }
    EXPECT_THAT(all, HasSubstr("last line\n"));
    for (int t = 0; t < 4; ++t) {
        std::string tail = " " + std::string(60, char('a' + t)) + "\n";
        EXPECT_EQ(countOccurrences(all, tail), 2000u) << "thread " << t;
    }
}

TEST(LogHandler, UnwritableLogFolderDoesNotStopTheProcess) {
    TempHome home;
    writeFile(home / "Library/Logs", "a file where the folder should be");
    int status = runInChild([] {
        LogHandler handler;
        handler.createOrvoKelvaneLogFolder();
        std::puts("still running");
        platform::MainLoop::main().runUntil([] { return false; }, 0.3);
        return 0;
    });
    EXPECT_EQ(status, 0);
}

TEST(LogHandler, EachTickFlushesAndFollowsARemovedMovedOrReplacedLog) {
    TempHome home;
    std::string folder = logFolder(home);
    int status = runInChild([&folder] {
        LogHandler handler;
        handler.createOrvoKelvaneLogFolder();
        const std::string current = handler.currentLogPath();
        auto tickThenRead = [&] {
            handler.loggingFile(handler.loggingTimer());
            return readFile(current);
        };
        // Printed text sits in the stream's buffer until a tick, which writes it out.
        std::fputs("buffered line\n", stdout);
        if (tickThenRead().find("buffered line\n") == std::string::npos) return 40;

        std::filesystem::remove(current);
        std::fputs("after removal\n", stdout);
        if (tickThenRead() != "") return 41;  // recreated; the line went to the removed file
        std::fputs("into the new file\n", stdout);
        if (tickThenRead() != "into the new file\n") return 42;

        std::filesystem::rename(current, folder + "moved.log");
        handler.loggingFile(handler.loggingTimer());
        std::fputs("after moving\n", stderr);
        if (tickThenRead() != "after moving\n") return 43;

        writeFile(folder + "other.log", "replacement\n");
        std::filesystem::rename(folder + "other.log", current);
        handler.loggingFile(handler.loggingTimer());
        std::fputs("after replacing\n", stdout);
        if (tickThenRead() != "replacement\nafter replacing\n") return 44;
        return 0;
    });
    EXPECT_EQ(status, 0);
    EXPECT_EQ(readFile(folder + "moved.log"), "into the new file\n");
}

TEST(LogHandler, AQuietLogStillRotatesAndIsRecreatedWhenSomethingHappens) {
    TempHome home;
    std::string folder = logFolder(home);
    int status = runInChild([] {
        LogHandler handler;
        handler.createOrvoKelvaneLogFolder();
        const std::string current = handler.currentLogPath();
        auto turn = [](double seconds) {
            platform::MainLoop::main().runUntil([] { return false; }, seconds);
        };
        turn(0.5);  // nothing happens: the ticks go quiet

        // A write that bypasses this process's streams, as a child process's would.
        std::string large(LogHandler::kMaximumLogSize + 1, 'w');
        if (::write(STDERR_FILENO, large.data(), large.size()) != ssize_t(large.size())) return 50;
        turn(0.5);
        if (handler.logFileNameCount() != 1) return 51;
        if (std::filesystem::file_size(current) != 0) return 52;

        turn(0.5);
        std::filesystem::remove(current);
        turn(0.3);
        if (!std::filesystem::exists(current)) return 53;
        platform::print("after the quiet spell");
        return 0;
    });
    ASSERT_EQ(status, 0);
    EXPECT_EQ(readFile(folder + "orvoKelvane0.log").back(), 'w');
    EXPECT_EQ(readFile(folder + "orvoKelvane.log"), "after the quiet spell\n");
}
