#include "AppDelegate.h"
#include "platform/Application.h"

int main(int argc, char** argv) {
    static AppDelegate delegate;
    return platform::Application::shared().run(argc, argv, delegate);
}
