#include <cstdio>
#include <memory>
#include <string>

#include "AppDelegate.h"
#include "Handlers/KelvanePaths.h"
#include "Handlers/MenuEntryWriter.h"
#include "PreferredCopy.h"
#include "Product.h"
#include "RequestHandOver.h"
#include "StartRequest.h"
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

// The package's launcher and the menu entry written for the installed copy set this: such a
// start runs the newest whole copy (PreferredCopy), before anything else happens in either.
void runNewestCopyOfAMenuStart(char** argv) {
    if (!platform::Process::takeEnvironmentVariable(MenuEntryWriter::kMenuStartVariable)) return;
    auto instead = PreferredCopy::executableInstead(platform::Bundle::mainBundlePath(),
                                                    KelvanePaths::installedApplication(),
                                                    PreferredCopy::packagedBundle());
    if (instead) runInstead(*instead, argv, "the copy started runs instead");
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
    runNewestCopyOfAMenuStart(argv);
    runOffTheVolume(argv);
    StartRequest::setCurrent(StartRequest::ofThisProcess(argc, argv));
    // One copy per user and home: a second start hands the running copy its request, or asks
    // for its window, and ends before it touches the log, the preferences or the agent folder.
    static AppDelegate* running = nullptr;
    static std::unique_ptr<platform::SingleInstance> instance = platform::SingleInstance::claim(
        platform::SearchPaths::shared().homeDirectory(),
        {desktopActivationToken(), StartRequest::current().items()},
        [](const platform::LaterStart& later) {
            return running && RequestHandOver::takeOver(later, *running);
        });
    if (!instance) {
        VolumeStart::removeCopyOfThisProcess(platform::Bundle::mainBundlePath());
        std::fprintf(stderr, "%s is already running for this user and home; %s.\n",
                     Product::kDisplayName,
                     StartRequest::current().bringsRequest() ? "it took this support request over"
                                                             : "its window was brought forward");
        return 0;
    }
    // The web engine reads its sandbox and renderer from the environment: chosen while this
    // process has no other thread yet.
    (void)platform::WebEngineEnvironment::choose();
    static AppDelegate delegate;
    running = &delegate;
    return platform::Application::shared().run(argc, argv, delegate);
}
