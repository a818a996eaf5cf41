#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <nlohmann/json.hpp>

#include "../support/Files.h"
#include "../support/InProcess.h"
#include "../support/TempHome.h"
#include "AppDelegate.h"
#include "platform/Preferences.h"
#include "platform/PropertyList.h"
#include "platform/Volumes.h"

using ::testing::ElementsAre;
using ::testing::HasSubstr;

// The code under test reaches the process-wide preferences; each case puts a store of its
// temporary home in their place.

namespace {

void storeDefaults(const TempHome& home, const platform::PlistDictionary& values) {
    writeFile(home / PreferencesInHome::path(), platform::PropertyList::toXml(values));
}

platform::PlistDictionary storedDefaults(const TempHome& home) {
    auto root = platform::PropertyList::readFile(home / PreferencesInHome::path());
    return root && root->dictionary() ? *root->dictionary() : platform::PlistDictionary{};
}

// The parsed pairs as JSON (null when absent).
nlohmann::json parse(const TempHome& home, const std::string& contents) {
    std::string path = home / "conf";
    writeFile(path, contents);
    PreferencesInHome preferences(home);  // made after the test stored its values
    std::optional<AppDelegate::Parameters> parameters;
    printedBy([&] { parameters = AppDelegate().parseKelvaneConfiguration(path); });
    return parameters ? nlohmann::json(*parameters) : nlohmann::json();
}

void writeVersionedBundle(const std::string& path, const std::optional<std::string>& version) {
    platform::PlistDictionary info{{"CFBundleExecutable", "OrvoTendraKelvane"}};
    if (version) info.emplace("CFBundleShortVersionString", *version);
    writeFile(path + "/Contents/Info.plist", platform::PropertyList::toXml(info));
}

}  // namespace

TEST(ConfigurationFile, PairsFollowTheSplittingRules) {
    TempHome home;
    EXPECT_EQ(parse(home, "CONVELO_IND\n&DC=eu&pathForKelvane=/x&"),
              (nlohmann::json{{"DC", "eu"}, {"pathForKelvane", "/x"}}));
    // Three pieces, one piece, only '=': no pair. Later duplicates win. Nothing is trimmed.
    EXPECT_EQ(parse(home, "a=b=c&key=&key2&===&DC=eu&DC=in& sp = x &pathForKelvane=/p\n"),
              (nlohmann::json{{"DC", "in"}, {" sp ", " x "}, {"pathForKelvane", "/p\n"}}));
    // The marker goes wherever it stands, even inside a value.
    EXPECT_EQ(parse(home, "KelvaneToken=abCONVELO_IND\ncd"),
              (nlohmann::json{{"KelvaneToken", "abcd"}}));
    EXPECT_EQ(parse(home, ""), nlohmann::json::object());
}

TEST(ConfigurationFile, ClearsStaleDefaultsItNamesAndAlwaysTheToken) {
    TempHome home;
    platform::PlistDictionary before{
        {"KelvaneToken", "old"}, {"DC", "in"}, {"pathForKelvane", "/old"}, {"WindowTitle", "kept"}};
    storeDefaults(home, before);
    parse(home, "CONVELO_IND\n&DC=eu&pathForKelvane=/x&");
    EXPECT_EQ(storedDefaults(home), (platform::PlistDictionary{{"WindowTitle", "kept"}}));

    // A file that does not name DC or the path leaves those; the token goes even then.
    storeDefaults(home, before);
    parse(home, "other=1");
    EXPECT_EQ(storedDefaults(home),
              (platform::PlistDictionary{
                  {"DC", "in"}, {"pathForKelvane", "/old"}, {"WindowTitle", "kept"}}));
    // Naming the token without a value still clears the stored one.
    storeDefaults(home, before);
    EXPECT_EQ(parse(home, "KelvaneToken=&DC"), nlohmann::json::object());
    EXPECT_EQ(storedDefaults(home).count("KelvaneToken"), 0u);
    EXPECT_EQ(storedDefaults(home).count("DC"), 0u);
}

TEST(ConfigurationFile, UnreadableFilesAreLoggedAndTouchNothing) {
    TempHome home;
    storeDefaults(home, {{"KelvaneToken", "old"}});
    std::string binary("\xff\xfe\x00\x01 KelvaneToken=x", 19);
    std::string huge(10 * 1024 * 1024, 'a');
    for (const std::string& contents : {binary, huge}) {
        EXPECT_TRUE(parse(home, contents).is_null());
        EXPECT_EQ(storedDefaults(home).count("KelvaneToken"), 1u);
    }
    PreferencesInHome preferences(home);
    std::string output =
        printedBy([&] { AppDelegate().parseKelvaneConfiguration(home / "missing"); });
    EXPECT_THAT(
        output,
        HasSubstr(
            "parseKelvaneConfiguration(filePath:) :Error reading Kelvane Configuration File. \n"
            " Error Description = "));
}

TEST(ConfigurationFile, TakeOverWritesTheInfoPlistAndInstallsWhenVersionsDifferAsText) {
    TempHome home;
    std::string volume = home / "Volumes/Kelvane Plugin";
    std::string installed = home / "Applications/Orvo Tendra Kelvane.app";
    std::string infoPlist = home / "Library/Application Support/OrvoKelvaneNativeFolder/Info.plist";
    writeFile(volume + "/.kelvaneConfiguration", "KelvaneToken=T1&DC=eu&pathForKelvane=join");
    auto takeOver = [&] {
        PreferencesInHome preferences(home);
        return printedBy([&] {
            AppDelegate().copyKelvaneConfiguration(volume + "/.kelvaneConfiguration",
                                                   volume + "/Orvo Tendra Kelvane.app");
        });
    };

    // Installed 1.10, volume 1.2: text differs, so the older build replaces the newer one.
    writeVersionedBundle(volume + "/Orvo Tendra Kelvane.app", "1.2");
    writeVersionedBundle(installed, "1.10");
    writeFile(installed + "/marker", "installed");
    takeOver();
    auto info = platform::PropertyList::readFile(infoPlist);
    ASSERT_TRUE(info && info->dictionary());
    EXPECT_EQ(*info->dictionary(),
              (platform::PlistDictionary{
                  {"KelvaneToken", "T1"}, {"DC", "eu"}, {"pathForKelvane", "join"}}));
    EXPECT_FALSE(std::filesystem::exists(installed + "/marker"));
    EXPECT_THAT(readFile(installed + "/Contents/Info.plist"), HasSubstr("1.2"));

    // Installed 2.0, volume 1.2: older by any reading, and installed all the same.
    writeVersionedBundle(installed, "2.0");
    writeFile(installed + "/marker", "installed");
    takeOver();
    EXPECT_FALSE(std::filesystem::exists(installed + "/marker"));
    EXPECT_THAT(readFile(installed + "/Contents/Info.plist"), HasSubstr("1.2"));

    // Equal versions: the installed bundle is left alone.
    writeFile(installed + "/marker", "installed");
    takeOver();
    EXPECT_TRUE(std::filesystem::exists(installed + "/marker"));

    // An unreadable configuration leaves no info plist behind.
    std::filesystem::remove(volume + "/.kelvaneConfiguration");
    std::string output = takeOver();
    EXPECT_FALSE(std::filesystem::exists(infoPlist));
    EXPECT_THAT(output, HasSubstr("Error reading Kelvane Configuration File"));
}

// Of several Kelvane volumes the last in the order the volumes are listed is taken; other volumes
// are not.
TEST(ConfigurationFile, TheLastKelvanePluginVolumeIsTaken) {
    TempHome home;
    for (const char* name : {"Kelvane Plugin", "Kelvane Plugin 1", "Other"}) {
        std::string volume = home.volumes() + "/" + name;
        writeFile(volume + "/.kelvaneConfiguration", "DC=eu");
        ASSERT_TRUE(platform::AttachedImages::shared().record(volume, std::string(name) + ".dmg"));
    }
    std::vector<std::string> found;
    std::string output = printedBy([&] { found = AppDelegate().getKelvaneVolumePath(); });
    EXPECT_THAT(found, ElementsAre(home.volumes() + "/Kelvane Plugin 1/.kelvaneConfiguration",
                                   home.volumes() + "/Kelvane Plugin 1/Orvo Tendra Kelvane.app"))
        << output;
}

// A fixed disk that happens to be mounted under the volume's name, listed after the attached
// image, is no volume the application comes on: the ejectable one is taken.
TEST(ConfigurationFile, AFixedMountNamedLikeTheVolumeIsPassedOver) {
    TempHome home;
    std::string attached = home.volumes() + "/Kelvane Plugin";
    writeFile(attached + "/.kelvaneConfiguration", "DC=eu");
    ASSERT_TRUE(platform::AttachedImages::shared().record(attached, "Request.iso"));
    std::string fixed = home / "srv/Kelvane Plugin";
    writeFile(fixed + "/.kelvaneConfiguration", "DC=jp");

    // The system's list of mounts, with the fixed disk at its end.
    struct WithAFixedDisk final : platform::Volumes {
        platform::Volumes& real;
        std::string fixed;
        WithAFixedDisk(platform::Volumes& system, std::string path)
            : real(system), fixed(std::move(path)) {}
        std::string volumesRoot() const override { return real.volumesRoot(); }
        std::vector<std::string> mountedVolumePaths() const override {
            auto paths = real.mountedVolumePaths();
            paths.push_back(fixed);
            return paths;
        }
        std::optional<platform::VolumeInfo> fileSystemInfo(const std::string& at) const override {
            if (at == fixed) return platform::VolumeInfo{false, true, false, "disk", "ext4"};
            return real.fileSystemInfo(at);
        }
    } volumes(platform::Volumes::shared(), fixed);
    platform::Volumes::ScopedReplacement replaced(volumes);

    std::vector<std::string> found;
    std::string output = printedBy([&] { found = AppDelegate().getKelvaneVolumePath(); });
    EXPECT_THAT(found, ElementsAre(attached + "/.kelvaneConfiguration",
                                   attached + "/Orvo Tendra Kelvane.app"))
        << output;
    EXPECT_THAT(output, HasSubstr("Volume : " + fixed + ", isRemovable :false"));
}

TEST(ConfigurationFile, FailedCopyKeepsTheInstalledApplication) {
    TempHome home;
    std::string installed = home / "Applications/Orvo Tendra Kelvane.app";
    writeVersionedBundle(installed, "1.0");
    writeVersionedBundle(home / "volume/Orvo Tendra Kelvane.app", "2.0");
    writeFile(home / "volume/.kelvaneConfiguration", "DC=eu");
    // A special file inside the new bundle makes the copy fail half-way.
    std::string fifo = home / "volume/Orvo Tendra Kelvane.app/Contents/zz-fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
    PreferencesInHome preferences(home);
    std::string output = printedBy([&] {
        AppDelegate().copyKelvaneConfiguration(home / "volume/.kelvaneConfiguration",
                                               home / "volume/Orvo Tendra Kelvane.app");
    });
    EXPECT_THAT(output,
                HasSubstr("Error copying Orvo Tendra Kelvane Application to Application Folder."));
    EXPECT_THAT(readFile(installed + "/Contents/Info.plist"), HasSubstr("1.0"));
}
