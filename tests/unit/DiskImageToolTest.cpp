#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <future>
#include <map>
#include <set>

#include "../support/ChildProcess.h"
#include "../support/Files.h"
#include "../support/ScopedEnvironment.h"
#include "../support/TempHome.h"
#include "platform/FileManager.h"
#include "platform/Task.h"
#include "platform/Volumes.h"

using ::testing::HasSubstr;

namespace fs = std::filesystem;

// Drives the real disk-image tool through the task service, on real images made by xorriso.
class DiskImageTool : public ::testing::Test {
  protected:
    void SetUp() override {
        m_environment.set("KELVANE_HDIUTIL", KELVANE_HDIUTIL_TOOL);
        m_environment.set("KELVANE_VOLUMES_ROOT", root());
        fs::create_directories(root());
    }

    std::string root() const { return m_home / "outer/Volumes"; }

    // Makes an image of `volume` from a folder filled by `fill`.
    std::string makeImage(const std::string& name, const std::string& volume,
                          const std::function<void(const std::string&)>& fill) {
        std::string source = m_home / ("src-" + name);
        fs::create_directories(source);
        fill(source);
        std::string image = m_home / (name + ".dmg");
        std::string command = "xorriso -as mkisofs -quiet -R -V '" + volume + "' -o '" + image +
                              "' '" + source + "' 2>/dev/null";
        EXPECT_EQ(std::system(command.c_str()), 0);
        return image;
    }
    std::string plainImage(const std::string& name, const std::string& volume = "Kelvane Plugin") {
        return makeImage(name, volume, [](const std::string& dir) {
            writeFile(dir + "/Orvo Tendra Kelvane.app/Contents/MacOS/run", "#!/bin/sh\necho hi\n");
            fs::permissions(dir + "/Orvo Tendra Kelvane.app/Contents/MacOS/run",
                            fs::perms::owner_all);
            fs::create_symlink("MacOS/run", dir + "/Orvo Tendra Kelvane.app/Contents/launcher");
            writeFile(dir + "/.kelvaneConfiguration", "DC=eu");
        });
    }

    platform::TaskResult tool(const std::string& verb, const std::string& argument) {
        return platform::Task::shared().run("/usr/bin/hdiutil", {verb, argument}, true);
    }
    std::string mountPointOf(const platform::TaskResult& result) {
        std::string output = result.standardOutput;
        while (!output.empty() && (output.back() == '\n' || output.back() == ' '))
            output.pop_back();
        return output.substr(output.rfind('\t') + 1);
    }
    // Everything in the folder above the volumes root and in the root, hidden entries included.
    std::set<std::string> surroundings() {
        std::set<std::string> names;
        for (const auto& entry : fs::recursive_directory_iterator(m_home / "outer")) {
            names.insert(entry.path().string());
        }
        return names;
    }

    TempHome m_home;
    ScopedEnvironment m_environment;
};

TEST_F(DiskImageTool, MountsReadOnlyKeepingModesAndLinksThenDetaches) {
    auto result = tool("mount", plainImage("product"));
    ASSERT_EQ(result.terminationStatus, 0) << result.standardOutput;
    std::string mountPoint = mountPointOf(result);
    EXPECT_EQ(mountPoint, root() + "/Kelvane Plugin");

    std::string bundle = mountPoint + "/Orvo Tendra Kelvane.app/Contents";
    EXPECT_EQ(readFile(mountPoint + "/.kelvaneConfiguration"), "DC=eu");
    EXPECT_EQ(fs::read_symlink(bundle + "/launcher"), "MacOS/run");
    auto mode = fs::status(bundle + "/MacOS/run").permissions();
    EXPECT_NE(mode & fs::perms::owner_exec, fs::perms::none);
    EXPECT_EQ(mode & fs::perms::owner_write, fs::perms::none);
    EXPECT_NE(fs::status(mountPoint).permissions() & fs::perms::others_read, fs::perms::none);

    auto volumes = platform::Volumes::shared().mountedVolumePaths();
    EXPECT_NE(std::find(volumes.begin(), volumes.end(), mountPoint), volumes.end());
    auto info = platform::Volumes::shared().fileSystemInfo(mountPoint);
    ASSERT_TRUE(info);
    EXPECT_TRUE(info->removable && info->unmountable && !info->writable);

    EXPECT_EQ(tool("detach", mountPoint).terminationStatus, 0);
    EXPECT_FALSE(fs::exists(mountPoint));
    EXPECT_FALSE(platform::AttachedImages::shared().isAttached(mountPoint));
    auto again = tool("detach", mountPoint);
    EXPECT_NE(again.terminationStatus, 0);
}

TEST_F(DiskImageTool, TakenNamesGetANumberAndOnlyAttachedVolumesDetach) {
    fs::create_directories(root() + "/Kelvane Plugin");
    writeFile(root() + "/Kelvane Plugin/someone else's", "keep");
    auto result = tool("mount", plainImage("product"));
    ASSERT_EQ(result.terminationStatus, 0);
    EXPECT_EQ(mountPointOf(result), root() + "/Kelvane Plugin 1");

    EXPECT_NE(tool("detach", root() + "/Kelvane Plugin").terminationStatus, 0);
    EXPECT_EQ(readFile(root() + "/Kelvane Plugin/someone else's"), "keep");
    EXPECT_NE(tool("detach", m_home.path()).terminationStatus, 0);
    EXPECT_TRUE(fs::exists(m_home.path()));
}

TEST_F(DiskImageTool, ConcurrentMountsOfTheSameVolumeNameDoNotCollide) {
    std::vector<std::string> images;
    for (int i = 0; i < 4; ++i) {
        images.push_back(makeImage(
            "image" + std::to_string(i), "Orvo",
            [i](const std::string& dir) { writeFile(dir + "/which", std::to_string(i)); }));
    }
    std::vector<std::future<platform::TaskResult>> runs;
    for (const auto& image : images) {
        runs.push_back(std::async(std::launch::async, [&, image] { return tool("mount", image); }));
    }
    std::set<std::string> contents, points;
    for (auto& run : runs) {
        auto result = run.get();
        ASSERT_EQ(result.terminationStatus, 0);
        points.insert(mountPointOf(result));
        contents.insert(readFile(mountPointOf(result) + "/which"));
    }
    EXPECT_EQ(points.size(), 4u);
    EXPECT_EQ(contents, (std::set<std::string>{"0", "1", "2", "3"}));
}

TEST_F(DiskImageTool, BadImagesFailAndLeaveNothingBehindOrOutside) {
    std::string good = plainImage("good");
    std::string goodBytes = readFile(good);
    std::map<std::string, std::string> bad;
    writeFile(m_home / "truncated.dmg", goodBytes.substr(0, goodBytes.size() / 2));
    bad["truncated"] = m_home / "truncated.dmg";
    std::string corrupt = goodBytes;
    for (std::size_t i = 18 * 2048; i < 40 * 2048 && i < corrupt.size(); ++i)
        corrupt[i] = char(0xA5 ^ i);
    writeFile(m_home / "corrupt.dmg", corrupt);
    bad["corrupt"] = m_home / "corrupt.dmg";
    writeFile(m_home / "text.dmg", "not an image at all");
    bad["not an image"] = m_home / "text.dmg";
    bad["missing"] = m_home / "missing.dmg";
    bad["absolute link"] = makeImage("abslink", "Evil", [](const std::string& dir) {
        fs::create_symlink("/etc/passwd", dir + "/passwd");
    });
    bad["escaping link"] = makeImage("rellink", "Evil", [](const std::string& dir) {
        fs::create_directories(dir + "/sub");
        fs::create_symlink("../../../outside", dir + "/sub/out");
    });
    // One level out is as far out as three: resolved from the link's folder, not its own path.
    bad["link one level out"] = makeImage("toplink", "Evil", [](const std::string& dir) {
        fs::create_symlink("../outside", dir + "/out");
    });
    bad["link one level out of a folder"] =
        makeImage("sublink", "Evil", [](const std::string& dir) {
            fs::create_directories(dir + "/sub");
            fs::create_symlink("../../outside", dir + "/sub/out");
        });
    // A name rewritten in the image's Rock Ridge entry to climb out of the mount point.
    std::string climbing = makeImage(
        "dotdot", "Evil", [](const std::string& dir) { writeFile(dir + "/PATCHME_1", "escaped"); });
    std::string bytes = readFile(climbing);
    for (auto at = bytes.find("PATCHME_1"); at != std::string::npos;
         at = bytes.find("PATCHME_1", at)) {
        bytes.replace(at, 9, "../../evi");
    }
    writeFile(climbing, bytes);
    bad["dot-dot name"] = climbing;

    auto before = surroundings();
    for (const auto& [why, image] : bad) {
        auto result = tool("mount", image);
        EXPECT_NE(result.terminationStatus, 0) << why;
        EXPECT_EQ(surroundings(), before) << why << " left something behind";
    }
    EXPECT_FALSE(fs::exists(m_home / "evi"));
    EXPECT_FALSE(fs::exists(m_home / "outer/evi"));
}

// What an ordinary user relies on: nothing can be written into a volume, copies out of it
// take the modes the image records (and stay the owner's to change and remove), and
// detaching leaves the volumes root as empty as it was. Also run as root, whom the permission
// bits do not stop: the recorded modes must hold there too.
TEST_F(DiskImageTool, VolumeIsReadOnlyWhileCopiesTakeTheRecordedModes) {
    const std::map<std::string, fs::perms> recorded = {
        {"Orvo.app", fs::perms(0755)},
        {"Orvo.app/Contents", fs::perms(0755)},
        {"Orvo.app/Contents/Info.plist", fs::perms(0644)},
        {"Orvo.app/Contents/MacOS", fs::perms(0755)},
        {"Orvo.app/Contents/MacOS/Orvo", fs::perms(0755)},
        {"Orvo.app/Contents/Resources", fs::perms(0555)},
        {"Orvo.app/Contents/Resources/licence", fs::perms(0444)},
        {"Vellisk", fs::perms(0640)},
    };
    std::string image = makeImage("modes", "Orvo", [&](const std::string& dir) {
        const std::set<std::string> folders = {"Orvo.app", "Orvo.app/Contents",
                                               "Orvo.app/Contents/MacOS",
                                               "Orvo.app/Contents/Resources"};
        for (const auto& [path, mode] : recorded) {
            if (folders.count(path)) {
                fs::create_directories(dir + "/" + path);
            } else {
                writeFile(dir + "/" + path, path);
            }
        }
        // Modes deepest first, so read-only folders are filled before they close.
        for (auto it = recorded.rbegin(); it != recorded.rend(); ++it)
            fs::permissions(dir + "/" + it->first, it->second);
    });
    auto mounted = tool("mount", image);
    ASSERT_EQ(mounted.terminationStatus, 0) << mounted.error;
    std::string volume = mountPointOf(mounted);

    for (const auto& [path, mode] : recorded) {
        EXPECT_EQ(fs::status(volume + "/" + path).permissions() &
                      (fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write),
                  fs::perms::none)
            << path;
    }
    if (::geteuid() != 0) {
        EXPECT_FALSE(std::ofstream(volume + "/new-file")) << "the volume's top is read-only";
        EXPECT_FALSE(std::ofstream(volume + "/Orvo.app/Contents/new-file"))
            << "and so is every folder below";
        EXPECT_FALSE(std::ofstream(volume + "/Vellisk", std::ios::app)) << "and every file";
    }

    auto& files = platform::FileManager::defaultManager();
    std::string copies = m_home / "ConveloNative";
    fs::create_directories(copies);
    ASSERT_TRUE(files.copyItem(volume + "/Orvo.app", copies + "/Orvo.app"));
    ASSERT_TRUE(files.copyItem(volume + "//Vellisk", copies + "/Vellisk"));
    for (const auto& [path, mode] : recorded) {
        EXPECT_EQ(fs::symlink_status(copies + "/" + path).permissions(), mode) << path;
    }
    // The owner updates the copied bundle and removes it, read-only folder and all.
    EXPECT_TRUE(std::ofstream(copies + "/Orvo.app/Contents/Info.plist", std::ios::app));
    EXPECT_TRUE(files.removeItem(copies + "/Orvo.app"));
    EXPECT_FALSE(fs::exists(copies + "/Orvo.app"));
    EXPECT_TRUE(fs::is_empty(copies) ||
                fs::directory_iterator(copies)->path().filename() == "Vellisk");

    ASSERT_EQ(tool("detach", volume).terminationStatus, 0);
    EXPECT_TRUE(fs::is_empty(root()))
        << "detaching leaves nothing, hidden or not, in the volumes root";
}

TEST_F(DiskImageTool, CopiesFromAnAttachedImageShareItsDataAndOutliveTheVolume) {
    std::string payload(1 << 20, 'p');
    std::string image = makeImage("shared", "Orvo", [&](const std::string& dir) {
        writeFile(dir + "/Orvo.app/Contents/MacOS/Orvo", payload);
        fs::permissions(dir + "/Orvo.app/Contents/MacOS/Orvo", fs::perms(0755));
    });
    auto mounted = tool("mount", image);
    ASSERT_EQ(mounted.terminationStatus, 0) << mounted.error;
    std::string volume = mountPointOf(mounted);
    auto inode = [](const std::string& path) {
        struct stat st {};
        EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
        return st.st_ino;
    };

    auto& files = platform::FileManager::defaultManager();
    std::string copies = m_home / "ConveloNative";
    fs::create_directories(copies);
    ASSERT_TRUE(files.replaceItem(volume + "/Orvo.app", copies + "/Orvo.app").status);
    const std::string binary = "/Orvo.app/Contents/MacOS/Orvo";
    // Volumes root and destination share a file system here, so the data is not written again.
    EXPECT_EQ(inode(copies + binary), inode(volume + binary));
    EXPECT_EQ(fs::status(copies + binary).permissions(), fs::perms(0755));
    // The never-overwrite rule holds for shared data as for copies.
    EXPECT_FALSE(files.copyItem(volume + "/Orvo.app", copies + "/Orvo.app"));

    // A folder that is not an attached image is copied: a copy of a customer's file stays one.
    std::string plain = m_home / "plain";
    writeFile(plain + "/file", "mine");
    ASSERT_TRUE(files.copyItem(plain + "/file", copies + "/file"));
    EXPECT_NE(inode(copies + "/file"), inode(plain + "/file"));

    ASSERT_EQ(tool("detach", volume).terminationStatus, 0);
    EXPECT_EQ(readFile(copies + binary), payload);
    EXPECT_EQ(fs::hard_link_count(copies + binary), 1u);
}

TEST_F(DiskImageTool, DefaultVolumesRootBelongsToTheUserAndLeftoversOfKilledRunsGo) {
    m_environment.unset("KELVANE_VOLUMES_ROOT");
    EXPECT_EQ(platform::Volumes::shared().volumesRoot(), m_home.volumes())
        << "the session's runtime folder";
    {
        ScopedEnvironment withoutRuntime;
        withoutRuntime.unset("XDG_RUNTIME_DIR");
        EXPECT_EQ(platform::Volumes::shared().volumesRoot(), m_home / "Library/Volumes")
            << "without one, the user's Library";
    }

    std::string image = plainImage("product");
    auto mounted = tool("mount", image);
    ASSERT_EQ(mounted.terminationStatus, 0) << mounted.error;
    EXPECT_EQ(mountPointOf(mounted), m_home.volumes() + "/Kelvane Plugin");
    EXPECT_EQ(fs::status(m_home.volumes()).permissions(), fs::perms::owner_all)
        << "no one else looks inside";
    ASSERT_EQ(tool("detach", mountPointOf(mounted)).terminationStatus, 0);

    // A run killed half-way through an extraction left its hidden staging folder behind.
    pid_t ended = ::fork();
    if (ended == 0) ::_exit(0);
    ::waitpid(ended, nullptr, 0);
    std::string leftover =
        m_home.volumes() + "/.Kelvane Plugin.kelvane-copying-" + std::to_string(ended) + "-abcdef";
    fs::create_directories(leftover + "/Orvo.app");
    fs::permissions(leftover + "/Orvo.app", fs::perms(0555));
    auto again = tool("mount", image);
    ASSERT_EQ(again.terminationStatus, 0) << again.error;
    EXPECT_FALSE(fs::exists(leftover));
    ASSERT_EQ(tool("detach", mountPointOf(again)).terminationStatus, 0);
    EXPECT_TRUE(fs::is_empty(m_home.volumes()));
}

// An image that cannot fit is refused before anything is written; what a mount killed
// half-way left is cleared by the next detach as well as by the next mount.
TEST_F(DiskImageTool, ImagesThatCannotFitAreRefusedAndHalfMountsAreClearedByADetach) {
    std::string source = m_home / "src-big";
    fs::create_directories(source);
    { std::ofstream(source + "/zeros").flush(); }
    fs::resize_file(source + "/zeros", 300u << 20);
    writeFile(source + "/small", "hi");
    // Compressed on the image, it expands to its full size on the disk.
    std::string image = m_home / "big.dmg";
    std::string command = "xorriso -report_about FAILURE -outdev '" + image +
                          "' -volid Big -map '" + source + "' / -set_filter_r --zisofs / -- " +
                          ">/dev/null 2>&1";
    ASSERT_EQ(std::system(command.c_str()), 0);
    ASSERT_LT(fs::file_size(image), 4u << 20);

    auto before = surroundings();
    std::string refused = outputOfChild([&] {
        rlimit limit{};
        ::getrlimit(RLIMIT_FSIZE, &limit);
        limit.rlim_cur = 100u << 20;
        ::setrlimit(RLIMIT_FSIZE, &limit);
        auto result = tool("mount", image);
        std::printf("status %d: %s\n", result.terminationStatus, result.error.c_str());
    });
    EXPECT_THAT(refused, HasSubstr("above this process's file-size limit")) << refused;
    EXPECT_EQ(surroundings(), before) << "nothing was written";

    auto mounted = tool("mount", image);
    ASSERT_EQ(mounted.terminationStatus, 0) << mounted.error;
    EXPECT_EQ(fs::file_size(mountPointOf(mounted) + "/zeros"), 300u << 20);

    pid_t ended = ::fork();
    if (ended == 0) ::_exit(0);
    ::waitpid(ended, nullptr, 0);
    std::string leftover = root() + "/.Big.kelvane-copying-" + std::to_string(ended) + "-abcdef";
    fs::create_directories(leftover + "/part");
    ASSERT_EQ(tool("detach", mountPointOf(mounted)).terminationStatus, 0);
    EXPECT_TRUE(fs::is_empty(root())) << "the detach cleared the half mount";
}
