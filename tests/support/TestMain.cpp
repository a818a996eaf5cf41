#include <gmock/gmock.h>

#include <cstdlib>

#include "Product.h"
#include "platform/ProxyResolver.h"

namespace {

// The tests' desktop names no proxy. Test processes fork children that make requests, and
// GLib's resolvers answer on a thread pool that a fork does not carry over; tests of proxies
// put settings of their own in place, and the application tests meet the real resolver in
// the application's own process.
class NoProxySettings final : public platform::ProxyResolver {
  public:
    platform::Result<std::optional<platform::HttpProxy>> proxyFor(const std::string&) override {
        return std::optional<platform::HttpProxy>();
    }
};

}  // namespace

// Every test process serves the product as the application does.
int main(int argc, char** argv) {
    Product::handToPlatform();
    // The stand-in agents the tests start, directly or through the application, show no window.
    ::setenv("KELVANE_STAND_IN_AGENT_WINDOW", "0", 1);
    NoProxySettings noProxy;
    platform::ProxyResolver::ScopedReplacement desktop(noProxy);
    ::testing::InitGoogleMock(&argc, argv);
    return RUN_ALL_TESTS();
}
