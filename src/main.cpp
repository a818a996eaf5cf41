#include <cstdio>
#include <memory>

#include "AppDelegate.h"
#include "Product.h"
#include "platform/Application.h"
#include "platform/SearchPaths.h"
#include "platform/SingleInstance.h"

int main(int argc, char** argv) {
    Product::handToPlatform();
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
