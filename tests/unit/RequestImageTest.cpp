#include <gio/gio.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "../support/Files.h"
#include "../support/ScopedEnvironment.h"
#include "../support/TempHome.h"

using ::testing::Contains;

namespace fs = std::filesystem;

namespace {

const std::string kBundle = "Orvo Tendra Kelvane.app";
const std::string kProgram = kBundle + "/Contents/MacOS/OrvoTendraKelvane";
const std::string kLauncher = "Orvo Tendra - Kelvane";

// Runs `argv` in `folder`, a direct child of this process, and returns its exit status.
int run(const std::vector<std::string>& argv, const std::string& folder,
        std::string* output = nullptr) {
    std::vector<char*> arguments;
    for (const auto& argument : argv) arguments.push_back(const_cast<char*>(argument.c_str()));
    arguments.push_back(nullptr);
    g_autofree gchar* out = nullptr;
    gint status = 0;
    g_autoptr(GError) error = nullptr;
    if (!g_spawn_sync(folder.c_str(), arguments.data(), nullptr, G_SPAWN_SEARCH_PATH, nullptr,
                      nullptr, &out, nullptr, &status, &error)) {
        ADD_FAILURE() << error->message;
        return -1;
    }
    if (output) *output = out ? out : "";
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

bool executableByAll(const std::string& path) {
    auto mode = fs::status(path).permissions();
    return fs::is_regular_file(path) &&
           (mode & (fs::perms::owner_exec | fs::perms::group_exec | fs::perms::others_exec)) ==
               (fs::perms::owner_exec | fs::perms::group_exec | fs::perms::others_exec);
}

}  // namespace

// The customer's per-request image as the build makes it, attached by the bundled disk-image
// tool: what the desktop makes of the file and of the volume, and where the root launchers lead.
class RequestImage : public ::testing::Test {
  protected:
    void SetUp() override {
        m_environment.set("KELVANE_VOLUMES_ROOT", m_home / "Volumes");
        std::string output;
        ASSERT_EQ(run({KELVANE_HDIUTIL_TOOL, "mount", KELVANE_PRODUCT_IMAGE}, "/", &output), 0);
        while (!output.empty() && (output.back() == '\n' || output.back() == ' '))
            output.pop_back();
        m_volume = output.substr(output.rfind('\t') + 1);
    }
    void TearDown() override {
        if (!m_volume.empty()) {
            EXPECT_EQ(run({KELVANE_HDIUTIL_TOOL, "detach", m_volume}, "/"), 0);
        }
    }

    TempHome m_home;
    ScopedEnvironment m_environment;
    std::string m_volume;
};

TEST_F(RequestImage, TheDesktopMountsTheFileAndOffersToRunTheVolume) {
    // The type decides whether a double-click mounts the image or opens it as an archive.
    g_autoptr(GFile) image = g_file_new_for_path(KELVANE_PRODUCT_IMAGE);
    g_autoptr(GError) error = nullptr;
    g_autoptr(GFileInfo) info = g_file_query_info(image, G_FILE_ATTRIBUTE_STANDARD_CONTENT_TYPE,
                                                  G_FILE_QUERY_INFO_NONE, nullptr, &error);
    ASSERT_TRUE(info) << error->message;
    EXPECT_STREQ(g_file_info_get_content_type(info), "application/x-cd-image");
    std::string head(64 * 1024, '\0');
    std::ifstream(KELVANE_PRODUCT_IMAGE, std::ios::binary).read(head.data(), head.size());
    g_autofree gchar* guessed = g_content_type_guess(
        KELVANE_PRODUCT_IMAGE, reinterpret_cast<const guchar*>(head.data()), head.size(), nullptr);
    EXPECT_STREQ(guessed, "application/x-cd-image");

    EXPECT_EQ(fs::path(m_volume).filename(), "Kelvane Plugin");
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(m_volume))
        names.insert(entry.path().filename());
    EXPECT_EQ(names,
              (std::set<std::string>{".kelvaneConfiguration", "autorun.sh", kBundle, kLauncher}));
    EXPECT_TRUE(executableByAll(m_volume + "/" + kLauncher));
    EXPECT_TRUE(executableByAll(m_volume + "/autorun.sh"));
    EXPECT_TRUE(executableByAll(m_volume + "/" + kProgram));

    g_autoptr(GFile) root = g_file_new_for_path(m_volume.c_str());
    g_auto(GStrv) kinds = g_content_type_guess_for_tree(root);
    ASSERT_TRUE(kinds);
    std::vector<std::string> found(kinds, kinds + g_strv_length(kinds));
    EXPECT_THAT(found, Contains("x-content/unix-software"));
}

TEST_F(RequestImage, TheRootLaunchersHandTheBundlesProgramTheirArguments) {
    // A copy of the volume in a folder whose name has a space, its program replaced by one
    // that notes how it was started: its own name, its parent and its arguments.
    std::string copy = m_home / "Kelvane Plugin copy";
    // The volume is read-only, and so would be a copy that keeps its modes.
    ASSERT_EQ(run({"cp", "-R", m_volume, copy}, "/"), 0);
    ASSERT_EQ(run({"chmod", "-R", "u+w", copy}, "/"), 0);
    std::string record = m_home / "started";
    writeFile(copy + "/" + kProgram,
              "#!/bin/sh\nprintf '%s\\n' \"$0\" \"$PPID\" \"$@\" >'" + record + "'\n");
    fs::permissions(copy + "/" + kProgram, fs::perms::owner_all);

    const std::string bogus = "--no such option";
    for (const auto& launcher : {kLauncher, std::string("autorun.sh")}) {
        SCOPED_TRACE(launcher);
        fs::remove(record);
        ASSERT_EQ(run({copy + "/" + launcher, bogus, "two"}, "/"), 0);
        // This process is the program's parent: the launcher gave its place to the program.
        EXPECT_EQ(readFile(record), copy + "/" + kProgram + "\n" + std::to_string(::getpid()) +
                                        "\n" + bogus + "\ntwo\n");
    }

    // As the desktop runs autorun.sh: from the volume's root.
    fs::remove(record);
    ASSERT_EQ(run({"./autorun.sh", bogus}, copy), 0);
    EXPECT_EQ(readFile(record),
              "./" + kProgram + "\n" + std::to_string(::getpid()) + "\n" + bogus + "\n");
}
