#include <gio/gdesktopappinfo.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <filesystem>
#include <regex>

#include "../support/AppFixture.h"
#include "../support/SubstituteServer.h"

using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;

namespace fs = std::filesystem;

// What a customer without the package goes through: the request's image attached, the
// application started from its volume, found again through the menu, and a second request
// opened while it runs.
class DesktopJourney : public AppFixture {
  protected:
    static constexpr const char* kEntryId = "com.Orvo.Tendra.OrvoTendraKelvane";

    void SetUp() override {
        AppFixture::SetUp();
        if (IsSkipped()) return;
        // The desktop's default: the menu lives under the home the test made.
        m_environment.unset("XDG_DATA_HOME");
        useServer(m_server);
        m_server.setRoutes(
            {{"/api/v2/service_domain",
              {{"json",
                {{"representation",
                  {{"service_domain", "localhost:" + std::to_string(m_server.port())}}}}}}}});
    }

    // A request image for `token`, attached as the desktop would; its volume's path.
    std::string attachRequestImage(const std::string& token) {
        std::string image = m_home / ("Request-" + token + ".iso");
        std::string make = std::string("'") + KELVANE_SOURCE_DIR +
                           "/scripts/make-image.sh' --launchers --volume 'Kelvane Plugin' "
                           "--output '" +
                           image + "' --config \"$(printf 'CONVELO_IND\\nKelvaneToken=" + token +
                           "&DC=eu&pathForKelvane=join')\" '" + m_bundle + "' >/dev/null";
        EXPECT_EQ(std::system(make.c_str()), 0);
        std::string attach = "'" + tool() + "' mount '" + image + "' >/dev/null";
        EXPECT_EQ(std::system(attach.c_str()), 0);
        std::string volume = m_home.volumes() + "/Kelvane Plugin";
        for (int suffix = 1;
             fs::exists(volume + "/.kelvaneConfiguration") &&
             readFile(volume + "/.kelvaneConfiguration").find(token) == std::string::npos;
             ++suffix) {
            volume = m_home.volumes() + "/Kelvane Plugin " + std::to_string(suffix);
        }
        return volume;
    }
    std::string tool() const { return m_bundle + "/Contents/MacOS/kelvane-hdiutil"; }
    void detachAll() {
        for (const auto& entry : fs::directory_iterator(m_home.volumes())) {
            if (entry.path().filename().string().starts_with("."))
                continue;  // the attached images' records
            std::string detach = "'" + tool() + "' detach '" + entry.path().string() + "'";
            EXPECT_EQ(std::system((detach + " >/dev/null").c_str()), 0);
        }
    }
    bool joinPageLoadedWith(const std::string& token, double seconds) {
        return waitUntil(
            [&] {
                for (const auto& request : m_server.requestsFor("/join")) {
                    if (request["query"] == "kelvane_token=" + token) return true;
                }
                return false;
            },
            seconds);
    }
    std::string menuEntry() const {
        return m_home / (".local/share/applications/" + std::string(kEntryId) + ".desktop");
    }

    SubstituteServer m_server;
};

// Installed from the volume, the copy in ~/Applications gets a menu entry with the package's
// id and the bundle's icons; the entry validates, and the desktop's own way of starting it
// runs the installed copy.
TEST_F(DesktopJourney, AnInstallFromTheVolumeWritesAMenuEntryThatStartsTheInstalledCopy) {
    std::string volume = attachRequestImage("T-menu");
    {
        auto app = launch({}, volume + "/Orvo Tendra Kelvane.app");
        ASSERT_TRUE(logShows("The menu entry " + menuEntry() + " starts ", 30)) << log();
        EXPECT_TRUE(closeWindow(*app));
        EXPECT_TRUE(app->waitForExit(20).has_value());
    }
    detachAll();
    std::string installed = m_home / "Applications/Orvo Tendra Kelvane.app";
    for (const char* icon : {"scalable/apps/com.Orvo.Tendra.OrvoTendraKelvane.svg",
                             "48x48/apps/com.Orvo.Tendra.OrvoTendraKelvane.png",
                             "256x256/apps/com.Orvo.Tendra.OrvoTendraKelvane.png"}) {
        EXPECT_TRUE(
            fs::is_regular_file(m_home / (".local/share/icons/hicolor/" + std::string(icon))))
            << icon;
    }
    std::string report = m_home / "validate.txt";
    EXPECT_EQ(
        std::system(("desktop-file-validate '" + menuEntry() + "' >'" + report + "' 2>&1").c_str()),
        0);
    EXPECT_THAT(readFile(report), IsEmpty());
    std::string entryText = readFile(menuEntry());
    EXPECT_THAT(entryText, HasSubstr("Name=Orvo Tendra - Kelvane\n"));
    EXPECT_THAT(entryText, HasSubstr("Icon=com.Orvo.Tendra.OrvoTendraKelvane\n"));

    // Started as the desktop starts an entry: GIO's launch, whose field codes and quoting the
    // home's spaces and the bundle's name go through.
    fs::remove(m_home / "Library/Logs/OrvoTendra/OrvoKelvane/orvoKelvane.log");
    g_autoptr(GDesktopAppInfo) entry = g_desktop_app_info_new_from_filename(menuEntry().c_str());
    ASSERT_NE(entry, nullptr);
    GPid pid = 0;
    g_autoptr(GError) error = nullptr;
    ASSERT_TRUE(g_desktop_app_info_launch_uris_as_manager(
        entry, nullptr, nullptr, GSpawnFlags(G_SPAWN_SEARCH_PATH | G_SPAWN_DO_NOT_REAP_CHILD),
        nullptr, nullptr,
        [](GDesktopAppInfo*, GPid started, gpointer data) { *static_cast<GPid*>(data) = started; },
        &pid, &error))
        << error->message;
    EXPECT_TRUE(logShows("Orvo Kelvane App path : " + installed + "\n", 30)) << log();
    ::kill(pid, SIGTERM);
    int status = 0;
    EXPECT_EQ(::waitpid(pid, &status, 0), pid);
}

// While the application shows one request's join page, the customer opens another request's
// image and starts it from there: the running copy takes that request as a start would and
// shows its join page; the later start ends. A start without a request only brings the window
// forward.
TEST_F(DesktopJourney, ASecondRequestFromAnotherImageTakesThePlaceOfTheFirst) {
    std::string first = attachRequestImage("T-first");
    auto app = launch({}, first + "/Orvo Tendra Kelvane.app");
    ASSERT_TRUE(joinPageLoadedWith("T-first", 30)) << log();

    std::string second = attachRequestImage("T-second");
    ASSERT_NE(first, second);
    {
        LaunchedApp later(second + "/Orvo Tendra Kelvane.app/Contents/MacOS/OrvoTendraKelvane", {},
                          m_home.path(), m_home / "later.txt");
        auto ended = later.waitForExit(30);
        ASSERT_TRUE(ended.has_value());
        EXPECT_TRUE(WIFEXITED(*ended) && WEXITSTATUS(*ended) == 0);
    }
    EXPECT_THAT(readFile(m_home / "later.txt"), HasSubstr("it took this support request over"));
    EXPECT_TRUE(joinPageLoadedWith("T-second", 30)) << log();
    EXPECT_THAT(log(), HasSubstr("main : A later start brought a support request from the volume " +
                                 second +
                                 ", without an activation token; it takes the place of "
                                 "this one's"));
    EXPECT_THAT(log(), HasSubstr("Websername : " + m_server.host() + " , KelvaneToken : T-second"));
    // The later start's private copy went with it; the running copy's stays.
    std::string copies = m_home / "Library/Caches/com.Orvo.Tendra.OrvoTendraKelvane/VolumeStart";
    EXPECT_EQ(std::distance(fs::directory_iterator(copies), fs::directory_iterator()), 1);

    {
        LaunchedApp plain(m_bundle + "/Contents/MacOS/OrvoTendraKelvane", {}, m_home.path(),
                          m_home / "plain.txt");
        EXPECT_TRUE(plain.waitForExit(30).has_value());
    }
    EXPECT_THAT(log(), HasSubstr("main : A later start asked for the window, without an "
                                 "activation token; brought forward"));
    std::size_t joins = m_server.requestsFor("/join").size();
    EXPECT_TRUE(closeWindow(*app));
    EXPECT_TRUE(app->waitForExit(20).has_value());
    EXPECT_EQ(m_server.requestsFor("/join").size(), joins) << "a bare start loads nothing";
    detachAll();
}
