#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <thread>

#include "../support/AppFixture.h"
#include "../support/Files.h"

using ::testing::Contains;
using ::testing::HasSubstr;
using ::testing::Not;

namespace fs = std::filesystem;

namespace {

const std::vector<std::string> kRequestArguments = {"-KelvaneToken",   "T-31", "-DC", "com",
                                                    "-pathForKelvane", "join"};

// The names of every process descending from `root`.
std::multiset<std::string> descendantNames(pid_t root) {
    std::map<pid_t, std::pair<pid_t, std::string>> processes;  // pid: parent, name
    for (const auto& entry : fs::directory_iterator("/proc")) {
        std::string name = entry.path().filename();
        if (name.find_first_not_of("0123456789") != std::string::npos) continue;
        std::ifstream status(entry.path() / "status");
        std::string line, command;
        pid_t parent = 0;
        while (std::getline(status, line)) {
            if (line.rfind("Name:", 0) == 0)
                command = line.substr(line.find_first_not_of(" \t", 5));
            if (line.rfind("PPid:", 0) == 0) parent = std::stoi(line.substr(5));
        }
        processes[std::stoi(name)] = {parent, command};
    }
    std::multiset<std::string> names;
    std::set<pid_t> family{root};
    for (bool grew = true; grew;) {
        grew = false;
        for (const auto& [pid, about] : processes) {
            if (family.count(about.first) && family.insert(pid).second) {
                names.insert(about.second);
                grew = true;
            }
        }
    }
    return names;
}

}  // namespace

class EngineEnvironment : public AppFixture {
  protected:
    void SetUp() override {
        AppFixture::SetUp();
        if (IsSkipped()) return;
        useServer(m_server);
        // The page loaded and its script ran when its one message has been answered.
        m_server.setTestScript({{"steps", {{{"name", "getSystemOs"}, {"body", ""}}}}});
    }

    // Once more than `before` loads have been answered.
    bool joinPageAnswered(double seconds, std::size_t before = 0) {
        return waitUntil([&] { return m_server.replies().size() > before; }, seconds);
    }

    SubstituteServer m_server;
};

// Where the engine's sandbox can start it is used and nothing is said; where user namespaces
// are refused (a chroot, a container, an AppArmor policy) the page still loads, without the
// sandbox, and the log says why.
TEST_F(EngineEnvironment, TheSandboxIsOnWhereItCanStartAndOffWithAReasonWhereItCannot) {
    {
        auto app = launch(kRequestArguments);
        ASSERT_TRUE(joinPageAnswered(60)) << log();
        EXPECT_THAT(descendantNames(app->pid()), Contains("bwrap"));
        EXPECT_THAT(log(), HasSubstr("-[AppDelegate logWebEngineEnvironment] : The window uses the "
                                     "X11 display " +
                                     std::string(std::getenv("DISPLAY"))));
        EXPECT_THAT(log(), Not(HasSubstr("without the web engine's sandbox")));
        ::kill(app->pid(), SIGTERM);
        ASSERT_TRUE(app->waitForExit(20).has_value());
    }

    fs::remove(m_home / "Library/Logs/OrvoTendra/OrvoKelvane/orvoKelvane.log");
    std::size_t loaded = m_server.replies().size();
    // A user namespace whose limit is one: this process can make no namespace of its own, as
    // in a chroot, yet runs as the same account.
    std::string inner =
        "echo 1 > /proc/sys/user/max_user_namespaces && exec unshare --user "
        "--map-user=" +
        std::to_string(::getuid()) + " --map-group=" + std::to_string(::getgid()) +
        " \"$0\" \"$@\"";
    std::vector<std::string> arguments = {"--user", "--map-root-user",
                                          "sh",     "-c",
                                          inner,    m_bundle + "/Contents/MacOS/OrvoTendraKelvane"};
    arguments.insert(arguments.end(), kRequestArguments.begin(), kRequestArguments.end());
    LaunchedApp refused("/usr/bin/unshare", arguments, m_home.path(), m_home / "refused.txt");
    ASSERT_TRUE(joinPageAnswered(60, loaded)) << log() << readFile(m_home / "refused.txt");
    EXPECT_THAT(log(), HasSubstr("-[AppDelegate logWebEngineEnvironment] : The join page runs "
                                 "without the web engine's sandbox: this system does not let it "
                                 "make a user namespace (the system's limit of user namespaces "
                                 "is reached)"));
    EXPECT_THAT(descendantNames(refused.pid()), Not(Contains("bwrap")));
    EXPECT_EQ(countOccurrences(log(), "sandbox"), 1u) << "said once";
}

// Under a Wayland compositor with no X server: the page loads, the toplevel carries the
// application id that desktop entries and docks match, and a second start hands the desktop's
// activation token to the running copy, which raises its window with it.
TEST_F(EngineEnvironment,
       OnWaylandThePageLoadsUnderTheApplicationIdAndASecondStartHandsOverItsToken) {
    std::string runtime = m_home / "run";
    fs::create_directories(runtime);
    fs::permissions(runtime, fs::perms::owner_all, fs::perm_options::replace);
    m_environment.set("XDG_RUNTIME_DIR", runtime);
    std::string socket = "kelvane-test-" + std::to_string(::getpid());
    LaunchedApp compositor("/usr/bin/weston",
                           {"--backend=headless-backend.so", "--socket=" + socket, "--idle-time=0"},
                           m_home.path(), m_home / "weston.txt");
    ASSERT_TRUE(waitUntil([&] { return fs::exists(runtime + "/" + socket); }, 20))
        << readFile(m_home / "weston.txt");

    m_environment.unset("DISPLAY");
    m_environment.set("WAYLAND_DISPLAY", socket);
    m_environment.set("GDK_BACKEND", "wayland");
    m_environment.set("WAYLAND_DEBUG", "client");  // the protocol's requests, in the log
    auto app = launch(kRequestArguments);
    ASSERT_TRUE(joinPageAnswered(60)) << log() << readFile(m_home / "launch-output.txt");
    EXPECT_THAT(log(), HasSubstr("The window uses the Wayland display " + socket));
    EXPECT_THAT(log(), HasSubstr("xdg_toplevel@"));
    EXPECT_THAT(log(), HasSubstr(".set_app_id(\"com.Orvo.Tendra.OrvoTendraKelvane\")"));

    m_environment.unset("WAYLAND_DEBUG");
    m_environment.set("XDG_ACTIVATION_TOKEN", "token-from-the-desktop");
    auto second = launch(kRequestArguments);
    auto status = second->waitForExit(30);
    ASSERT_TRUE(status.has_value()) << "the second start kept running";
    EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0);
    EXPECT_TRUE(
        logShows("main : A later start brought a support request with the arguments "
                 "-KelvaneToken T-31 -DC com -pathForKelvane join, with the activation token "
                 "token-from-the-desktop; it takes the place of this one's",
                 10))
        << log();
    ::kill(app->pid(), SIGTERM);
    EXPECT_TRUE(app->waitForExit(20).has_value());
}
