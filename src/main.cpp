#include <cstdio>
#include <memory>
#include <string>

#include "AppDelegate.h"
#include "Handlers/KelvanePaths.h"
#include "Handlers/Logging.h"
#include "PreferredCopy.h"
#include "Product.h"
#include "VolumeStart.h"
#include "platform/Application.h"
#include "platform/Bundle.h"
#include "platform/Process.h"
#include "platform/SearchPaths.h"
#include "platform/SingleInstance.h"
#include "platform/WebEngineEnvironment.h"

namespace {

// Hands the process to `executable`; returns only when that cannot be, after saying so and
// what runs `otherwise`.
void runInstead(const std::string& executable, char** argv, const char* otherwise) {
    platform::Status started = platform::Process::replaceWith(executable, argv);
    std::fprintf(stderr, "%s: cannot start %s (%s); %s.\n", Product::kDisplayName,
                 executable.c_str(), started.errorDescription().c_str(), otherwise);
}

// The package's launcher sets this: such a start runs the copy the application keeps current
// (PreferredCopy), before anything else happens in either.
void runPreferredCopyOfAPackagedStart(char** argv) {
    if (!platform::Process::takeEnvironmentVariable("KELVANE_PACKAGED_START")) return;
    auto instead = PreferredCopy::executableInstead(platform::Bundle::mainBundlePath(),
                                                    KelvanePaths::installedApplication());
    if (instead) runInstead(*instead, argv, "the packaged copy runs instead");
}

// What the desktop gave this start to raise a window with: a Wayland activation token, else
// an X11 startup id. Read, not taken: a first start's toolkit uses it for its own window.
std::string desktopActivationToken() {
    auto token = platform::Process::environmentVariable("XDG_ACTIVATION_TOKEN");
    if (!token || token->empty())
        token = platform::Process::environmentVariable("DESKTOP_STARTUP_ID");
    return token.value_or("");
}

// A start from the Kelvane volume hands the process to a private copy of the bundle.
void runOffTheVolume(char** argv) {
    auto instead = VolumeStart::executableInstead(platform::Bundle::mainBundlePath());
    if (instead) runInstead(*instead, argv, "it runs from the volume");
}

}  // namespace

int main(int argc, char** argv) {
    Product::handToPlatform();
    runPreferredCopyOfAPackagedStart(argv);
    runOffTheVolume(argv);
    // One copy per user and home: a second start brings the running window forward and ends
    // before it touches the log, the preferences or the agent folder.
    static std::unique_ptr<platform::SingleInstance> instance = platform::SingleInstance::claim(
        platform::SearchPaths::shared().homeDirectory(), desktopActivationToken(),
        [](const std::string& token) {
            bool presented = platform::Application::shared().presentMainWindow(token);
            logLine("%s : A later start asked for the window, %@; %@", "main",
                    token.empty() ? std::string("without an activation token")
                                  : "with the activation token " + token,
                    presented ? "brought forward" : "none to bring forward");
            return presented;
        });
    if (!instance) {
        std::fprintf(stderr,
                     "%s is already running for this user and home; its window was "
                     "brought forward.\n",
                     Product::kDisplayName);
        return 0;
    }
    // The web engine reads its sandbox and renderer from the environment: chosen while this
    // process has no other thread yet.
    (void)platform::WebEngineEnvironment::choose();
    static AppDelegate delegate;
    return platform::Application::shared().run(argc, argv, delegate);
}
