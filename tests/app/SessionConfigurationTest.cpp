#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "../support/AppFixture.h"
#include "../support/Files.h"
#include "../support/SubstituteServer.h"
#include "platform/PropertyList.h"
#include "platform/Url.h"
#include "platform/Volumes.h"

using ::testing::HasSubstr;
using ::testing::Not;

namespace fs = std::filesystem;

// The real application, from a bundle whose deployment hosts all point at the substitute
// server, started with parameters from each of its sources.
class SessionConfiguration : public AppFixture {
  protected:
    void SetUp() override {
        AppFixture::SetUp();
        if (IsSkipped()) return;
        useServer(m_server);
    }

    // Starts the application, closes its window and returns the log.
    std::string runOnce(const std::vector<std::string>& arguments, const std::string& bundle = "") {
        auto app = launch(arguments, bundle);
        EXPECT_TRUE(closeWindow(*app));
        EXPECT_TRUE(app->waitForExit(20).has_value());
        std::string text = log();
        fs::remove(m_home / "Library/Logs/OrvoTendra/OrvoKelvane/orvoKelvane.log");
        return text;
    }
    std::string nativeFolder() const {
        return m_home / "Library/Application Support/OrvoKelvaneNativeFolder/";
    }
    std::optional<std::string> storedDefault(const std::string& key) const {
        auto root = platform::PropertyList::readFile(preferencesPath());
        if (!root || !root->dictionary() || !root->dictionary()->count(key)) return std::nullopt;
        auto* text = root->dictionary()->at(key).string();
        return text ? std::optional<std::string>(*text) : std::nullopt;
    }
    std::string argumentsLine(const std::string& host, const std::string& token,
                              const std::string& dc) const {
        return "+[Utils parseCommandLineArgs] : Arguments Readed From Server => Websername : " +
               host + " , KelvaneToken : " + token + " , DC = " + dc;
    }

    SubstituteServer m_server;
};

TEST_F(SessionConfiguration, InfoPlistWinsOverArgumentsWhichFillTheGaps) {
    writeFile(nativeFolder() + "Info.plist",
              platform::PropertyList::toXml(
                  platform::PlistDictionary{{"DC", "eu"}, {"pathForKelvane", "join"}}));
    std::string log = runOnce({"-DC", "in", "-KelvaneToken", "T-arg"});
    EXPECT_THAT(log, HasSubstr(argumentsLine(m_server.host(), "T-arg", "eu"))) << log;
    EXPECT_EQ(storedDefault("DC"), "eu");
    EXPECT_EQ(storedDefault("KelvaneToken"), std::nullopt) << "arguments are never stored";

    auto lookups = m_server.requestsFor("/api/v2/service_domain");
    ASSERT_EQ(lookups.size(), 1u);
    EXPECT_EQ(lookups[0]["query"], "src=rs&kelvane_token=T-arg");
}

TEST_F(SessionConfiguration, PreferencesPlistReplacesTheInfoPlistEntirely) {
    writeFile(nativeFolder() + "Info.plist",
              platform::PropertyList::toXml(
                  platform::PlistDictionary{{"DC", "eu"}, {"KelvaneToken", "info"}}));
    writeFile(nativeFolder() + "/com.Orvo.Tendra.OrvoTendraKelvane.plist",
              platform::PropertyList::toXml(platform::PlistDictionary{{"DC", "jp"}}));
    std::string log = runOnce({});
    EXPECT_THAT(log, HasSubstr("Info plist Filepath :  " + nativeFolder() +
                               "/com.Orvo.Tendra.OrvoTendraKelvane.plist"));
    // The token of the info plist is not read: no token, so no lookup.
    EXPECT_THAT(log, HasSubstr(argumentsLine(m_server.host(), "(null)", "jp"))) << log;
    EXPECT_THAT(log, HasSubstr("Kelvane Token is null, skipping getCustomDomain call."));
    EXPECT_TRUE(m_server.requestsFor("/api/v2/service_domain").empty());
}

TEST_F(SessionConfiguration, EmptyTokenSkipsTheLookupAndBadInfoPlistIsLogged) {
    writeFile(nativeFolder() + "Info.plist",
              platform::PropertyList::toXml(platform::PlistArray{"not a dictionary"}));
    std::string log = runOnce({"-KelvaneToken", "", "-DC", "eu"});
    EXPECT_THAT(log, HasSubstr("Failed to read the info.plist file at path :" + nativeFolder() +
                               "Info.plist"));
    EXPECT_THAT(log, HasSubstr("Kelvane Token is null, skipping getCustomDomain call."));
    EXPECT_TRUE(m_server.requestsFor("/api/v2/service_domain").empty());
}

TEST_F(SessionConfiguration, StartFromAnotherFolderTakesTheMountedVolumeAndInstallsItself) {
    // The customer's disk image, attached by the disk-image tool under the default volumes root.
    std::string image = m_home / "Request-T-volume.iso";
    std::string make = std::string("'") + KELVANE_SOURCE_DIR +
                       "/scripts/make-image.sh' --launchers --volume 'Kelvane Plugin' --output '" +
                       image +
                       "' --config \"$(printf "
                       "'CONVELO_IND\\nKelvaneToken=T-volume&DC=eu&pathForKelvane=join')\" '" +
                       m_bundle + "'";
    ASSERT_EQ(std::system(make.c_str()), 0);
    std::string tool = m_bundle + "/Contents/MacOS/kelvane-hdiutil";
    ASSERT_EQ(std::system(("'" + tool + "' mount '" + image + "' >/dev/null").c_str()), 0);
    std::string volume = m_home.volumes() + "/Kelvane Plugin";
    m_server.setRoutes(
        {{"/api/v2/service_domain",
          {{"json",
            {{"representation",
              {{"service_domain", "localhost:" + std::to_string(m_server.port())}}}}}}}});

    std::string log = runOnce({"-KelvaneToken", "T-arg"});
    EXPECT_THAT(log, HasSubstr("Volume : " + volume +
                               ", isRemovable :true, isWritable : false, isUnmountable : true"))
        << log;
    EXPECT_THAT(log, HasSubstr(argumentsLine(m_server.host(), "T-volume", "eu")));
    std::string installed = m_home / "Applications/Orvo Tendra Kelvane.app";
    EXPECT_TRUE(fs::exists(installed + "/Contents/MacOS/OrvoTendraKelvane"));
    // Installed with the modes the image records: the customer owns an ordinary application.
    EXPECT_EQ(fs::status(installed + "/Contents").permissions(), fs::perms(0755));
    EXPECT_EQ(fs::status(installed + "/Contents/MacOS/OrvoTendraKelvane").permissions(),
              fs::perms(0755));
    EXPECT_EQ(fs::status(installed + "/Contents/Info.plist").permissions(), fs::perms(0644));
    EXPECT_EQ(storedDefault("KelvaneToken"), "T-volume");
    auto lookups = m_server.requestsFor("/api/v2/service_domain");
    ASSERT_EQ(lookups.size(), 1u);
    EXPECT_EQ(lookups[0]["query"], "src=rs&kelvane_token=T-volume");

    // Started from the volume itself, as a customer does: the program runs from a private copy
    // off the volume, so the volume search finds the volume it came from and takes its request
    // over, and the volume can be ejected while the session runs.
    fs::remove_all(m_home / "Applications");
    std::string second = runOnce({}, volume + "/Orvo Tendra Kelvane.app");
    EXPECT_THAT(second, HasSubstr("KelvaneConfiguration Directory : " +
                                  platform::Url::fileUrl(volume + "/.kelvaneConfiguration", false)))
        << second;
    EXPECT_THAT(second, HasSubstr("Orvo Kelvane App path : " + m_home.path() +
                                  "/Library/Caches/com.Orvo.Tendra.OrvoTendraKelvane/"
                                  "VolumeStart/"));
    EXPECT_THAT(second, HasSubstr(argumentsLine(m_server.host(), "T-volume", "eu")));
    EXPECT_TRUE(fs::exists(installed + "/Contents/MacOS/OrvoTendraKelvane"));
    lookups = m_server.requestsFor("/api/v2/service_domain");
    ASSERT_EQ(lookups.size(), 2u);
    EXPECT_EQ(lookups[1]["query"], "src=rs&kelvane_token=T-volume");

    // The same through the launcher at the volume's root, and through its autorun file run
    // from there, as the file managers run them.
    for (const std::string launcher : {"Orvo Tendra - Kelvane", "autorun.sh"}) {
        SCOPED_TRACE(launcher);
        fs::remove_all(m_home / "Applications");
        {
            fs::path here = fs::current_path();
            fs::current_path(volume);
            LaunchedApp app(volume + "/" + launcher, {}, m_home.path(), m_home / "launcher.txt");
            fs::current_path(here);
            EXPECT_TRUE(logShows("KelvaneConfiguration Directory", 20)) << AppFixture::log();
            EXPECT_TRUE(closeWindow(app));
            EXPECT_TRUE(app.waitForExit(20).has_value());
        }
        EXPECT_THAT(AppFixture::log(), HasSubstr(argumentsLine(m_server.host(), "T-volume", "eu")));
        EXPECT_TRUE(fs::exists(installed + "/Contents/MacOS/OrvoTendraKelvane"));
        fs::remove(m_home / "Library/Logs/OrvoTendra/OrvoKelvane/orvoKelvane.log");
    }

    ASSERT_EQ(std::system(("'" + tool + "' detach '" + volume + "' >/dev/null").c_str()), 0);
    EXPECT_TRUE(fs::is_empty(m_home.volumes()));
    std::error_code removed;
    fs::remove_all(installed, removed);
    EXPECT_FALSE(removed) << "the owner removes the installed application";
}

// A custom-domain lookup answered by a trickle: a termination request ends the waiting start
// at once, and a start left alone gives the lookup up after its time-out and goes on.
// No request at all (no volume, no arguments, nothing stored): the window says what to open
// instead of staying blank, and the lines that say so stay.
TEST_F(SessionConfiguration, AStartWithNoRequestSaysWhatToOpen) {
    std::string log = runOnce({});
    EXPECT_THAT(log, HasSubstr("Invalid URL Given Formed During Network Init : https:///"));
    EXPECT_THAT(log, HasSubstr("viewDidLoad() : No support request to join: the window says "
                               "what to open"));
}

TEST_F(SessionConfiguration, ATricklingLookupIsGivenUpAndTerminationEndsTheWait) {
    m_server.setRoutes(
        {{"/api/v2/service_domain", {{"repeatBytes", 50000000}, {"bytesPerSecond", 4096}}}});
    auto waiting = launch({"-DC", "com", "-KelvaneToken", "T-slow"});
    ASSERT_TRUE(logShows("+[Utils getCustomDomain] : Requesting URL", 20)) << log();
    // The start now waits on a lookup that is under way.
    ASSERT_TRUE(
        waitUntil([&] { return !m_server.requestsFor("/api/v2/service_domain").empty(); }, 20));
    ::kill(waiting->pid(), SIGTERM);
    auto ended = waiting->waitForExit(5);
    ASSERT_TRUE(ended.has_value()) << "SIGTERM did not end the start-up";
    fs::remove(m_home / "Library/Logs/OrvoTendra/OrvoKelvane/orvoKelvane.log");

    auto start = std::chrono::steady_clock::now();
    auto patient = launch({"-DC", "com", "-KelvaneToken", "T-slow"});
    ASSERT_TRUE(logShows("+[Utils getCustomDomain] : Check Update failed : ", 45)) << log();
    double waited = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_LT(waited, 40) << "the lookup was not bounded";
    EXPECT_GT(waited, 25) << log();
    EXPECT_TRUE(closeWindow(*patient));
    EXPECT_TRUE(patient->waitForExit(20).has_value());
}
