#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "AppDelegate.h"
#include "Handlers/KelvanePaths.h"
#include "PreferredCopy.h"
#include "Product.h"
#include "platform/Application.h"
#include "platform/Bundle.h"
#include "platform/SearchPaths.h"
#include "platform/SingleInstance.h"

namespace {

// The package's launcher sets this: such a start runs the copy the application keeps current
// (PreferredCopy), before anything else happens in either.
void runPreferredCopyOfAPackagedStart(char** argv) {
    static constexpr const char* kPackagedStart = "KELVANE_PACKAGED_START";
    if (!std::getenv(kPackagedStart)) return;
    ::unsetenv(kPackagedStart);
    auto instead = PreferredCopy::executableInstead(platform::Bundle::mainBundlePath(),
                                                    KelvanePaths::installedApplication());
    if (!instead) return;
    argv[0] = instead->data();
    ::execv(instead->c_str(), argv);
    std::fprintf(stderr, "%s: cannot start %s (%s); the packaged copy runs instead.\n",
                 Product::kDisplayName, instead->c_str(), std::strerror(errno));
}

}  // namespace

int main(int argc, char** argv) {
    Product::handToPlatform();
    runPreferredCopyOfAPackagedStart(argv);
    // One copy per user and home: a second start brings the running window forward and ends
    // before it touches the log, the preferences or the agent folder.
    static std::unique_ptr<platform::SingleInstance> instance = platform::SingleInstance::claim(
        platform::SearchPaths::shared().homeDirectory(),
        [] { return platform::Application::shared().presentMainWindow(); });
    if (!instance) {
        std::fprintf(stderr,
                     "%s is already running for this user and home; its window was "
                     "brought forward.\n",
                     Product::kDisplayName);
        return 0;
    }
    static AppDelegate delegate;
    return platform::Application::shared().run(argc, argv, delegate);
}
