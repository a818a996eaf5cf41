#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <filesystem>
#include <map>

#include "../support/ChildProcess.h"
#include "../support/Files.h"
#include "../support/TempHome.h"
#include "AppDelegate.h"
#include "Handlers/LogHandler.h"
#include "Handlers/Utils.h"
#include "Objects/SessionDetails.h"
#include "platform/PropertyList.h"

namespace fs = std::filesystem;
using ::testing::HasSubstr;

namespace {

// Every entry of a bundle: its relative path, mode and contents (a link's target).
using TreeImage = std::map<std::string, std::pair<unsigned, std::string>>;

TreeImage imageOf(const fs::path& root) {
    TreeImage image;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(root, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        struct stat st;
        if (::lstat(it->path().c_str(), &st) != 0) continue;
        std::string contents;
        if (S_ISREG(st.st_mode)) {
            std::ifstream in(it->path(), std::ios::binary);
            contents.assign(std::istreambuf_iterator<char>(in), {});
        } else if (S_ISLNK(st.st_mode)) {
            contents = fs::read_symlink(it->path()).string();
        }
        image[fs::relative(it->path(), root).string()] = {st.st_mode & 07777, std::move(contents)};
    }
    return image;
}

std::string versionOf(const std::string& bundle) {
    auto info = platform::PropertyList::readFile(bundle + "/Contents/Info.plist");
    if (!info || !info->dictionary() || !info->dictionary()->count("CFBundleShortVersionString"))
        return "<none>";
    return *info->dictionary()->at("CFBundleShortVersionString").string();
}

}  // namespace

// Both ways the installed application is replaced (from a Kelvane volume at start, and with a
// staged update at exit), killed at every step: an application stays installed, whole, and
// the next start clears what the killed run left.
class InstalledApplication : public ::testing::TestWithParam<std::tuple<std::string, std::string>> {
  protected:
    void SetUp() override {
        fs::create_directories(m_home / "Applications");
        fs::copy(KELVANE_BUNDLE_DIR, installed(), fs::copy_options::recursive);
        fs::create_directories(nativeFolder());
        fs::copy(KELVANE_UPDATE_IMAGE_BUNDLE, nativeFolder() + "Orvo Tendra Kelvane.app",
                 fs::copy_options::recursive);
        m_old = imageOf(installed());
        m_new = imageOf(KELVANE_UPDATE_IMAGE_BUNDLE);
        ASSERT_NE(m_old, m_new);
    }
    std::string installed() const { return m_home / "Applications/Orvo Tendra Kelvane.app"; }
    std::string nativeFolder() const {
        return m_home / "Library/Application Support/OrvoKelvaneNativeFolder/";
    }

    void replace(const std::string& way) {
        if (way == "volume") {
            std::string conf = m_home / "volume/KelvaneConfiguration.conf";
            fs::create_directories(m_home / "volume");
            std::ofstream(conf) << "kelvane_token=token\n";
            AppDelegate delegate;
            delegate.copyKelvaneConfiguration(conf, KELVANE_UPDATE_IMAGE_BUNDLE);
        } else {
            SessionDetails& session = SessionDetails::getInstance();
            session.setIsAppReplaceFlag(true);
            session.setOrvoKelvaneNativeFolder(nativeFolder());
            Utils::updateKelvaneIfNeeded();
        }
    }

    // Runs the replacement in a child that stops itself at `point`, then kills it there.
    // Returns false when the child never reached the point.
    bool killAt(const std::string& way, const std::string& point) {
        std::fflush(nullptr);
        pid_t child = ::fork();
        if (child == 0) {
            ::setenv("KELVANE_TEST_PAUSE_AT", point.c_str(), 1);
            (void)std::freopen("/dev/null", "w", stdout);
            (void)std::freopen("/dev/null", "w", stderr);
            replace(way);
            ::_exit(0);
        }
        int status = 0;
        ::waitpid(child, &status, WUNTRACED);
        bool stopped = WIFSTOPPED(status);
        ::kill(child, SIGKILL);
        if (stopped) ::waitpid(child, &status, 0);
        return stopped;
    }

    std::string start() {
        return outputOfChild([] {
            LogHandler logHandler;
            Utils::createKelvaneDirectoriesWithLogHandler(logHandler);
        });
    }
    std::vector<std::string> hiddenEntries() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(m_home / "Applications")) {
            if (entry.path().filename().string()[0] == '.')
                names.push_back(entry.path().filename());
        }
        return names;
    }

    TempHome m_home;
    TreeImage m_old;
    TreeImage m_new;
};

TEST_P(InstalledApplication, AKilledReplacementLeavesAWholeApplicationAndTheNextStartClearsUp) {
    auto [way, point] = GetParam();
    ASSERT_TRUE(killAt(way, point)) << "the replacement never reached " << point;

    TreeImage now = imageOf(installed());
    EXPECT_TRUE(now == m_old || now == m_new) << "a mixed or partial bundle is installed";
    EXPECT_EQ(versionOf(installed()), now == m_new ? "99.0.0" : versionOf(KELVANE_BUNDLE_DIR));
    EXPECT_TRUE(fs::status(installed() + "/Contents/MacOS").type() == fs::file_type::directory);
    EXPECT_FALSE(hiddenEntries().empty()) << "the kill left nothing to clear at " << point;

    (void)start();
    std::string log = m_home.path() + "/Library/Logs/OrvoTendra/OrvoKelvane/orvoKelvane.log";
    std::ifstream in(log);
    std::string text((std::istreambuf_iterator<char>(in)), {});
    EXPECT_THAT(text, HasSubstr("left behind by an interrupted run"));
    EXPECT_THAT(hiddenEntries(), ::testing::IsEmpty());
    EXPECT_EQ(imageOf(installed()), now) << "the clean-up changed the installed application";

    // And the next replacement runs to its end.
    (void)outputOfChild([&] { replace(way); });
    EXPECT_EQ(imageOf(installed()), m_new);
    EXPECT_THAT(hiddenEntries(), ::testing::IsEmpty());
}

INSTANTIATE_TEST_SUITE_P(EveryStep, InstalledApplication,
                         ::testing::Combine(::testing::Values("volume", "exit"),
                                            ::testing::Values("copy:file-copied", "replace:copied",
                                                              "replace:swapped",
                                                              "remove:moved-aside")),
                         [](const auto& param) {
                             std::string name =
                                 std::get<0>(param.param) + "_" + std::get<1>(param.param);
                             for (char& c : name)
                                 if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
                             return name;
                         });
