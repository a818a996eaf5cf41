#include "AppDelegate.h"
#include "Product.h"
#include "platform/Application.h"

int main(int argc, char** argv) {
    Product::handToPlatform();
    static AppDelegate delegate;
    return platform::Application::shared().run(argc, argv, delegate);
}
