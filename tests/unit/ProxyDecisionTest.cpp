#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "../support/InProcess.h"
#include "Handlers/ProxyDecision.h"
#include "platform/ProxyResolver.h"

using ::testing::HasSubstr;

namespace {

// The desktop's setting, changed by the test as the customer would change it in their settings.
class ChangingSettings final : public platform::ProxyResolver {
  public:
    platform::Result<std::optional<platform::HttpProxy>> proxyFor(const std::string&) override {
        return proxy;
    }
    std::optional<platform::HttpProxy> proxy;
};

std::size_t count(const std::string& text, const std::string& needle) {
    std::size_t found = 0;
    for (auto at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1))
        ++found;
    return found;
}

}  // namespace

// The choice is logged once per address, and again whenever the setting changes it.
TEST(ProxyDecision, AChangedChoiceIsLoggedAgainAndAnUnchangedOneIsNot) {
    ChangingSettings settings;
    platform::ProxyResolver::ScopedReplacement replaced(settings);
    const std::string url = "https://change.kelvane.test/join";
    const std::string through =
        "Requests to change.kelvane.test go through the proxy "
        "http://proxy.lan:3128";
    const std::string direct = "Requests to change.kelvane.test go directly, without a proxy";
    settings.proxy = platform::HttpProxy{"http", "proxy.lan", 3128, std::nullopt, std::nullopt};
    std::string output = printedBy([&] {
        for (int i = 0; i < 3; ++i) (void)ProxyDecision::proxyForURL(url);
        settings.proxy.reset();
        (void)ProxyDecision::proxyForURL(url);
        (void)ProxyDecision::proxyForURL(url);
        settings.proxy = platform::HttpProxy{"http", "proxy.lan", 3128, std::nullopt, std::nullopt};
        (void)ProxyDecision::proxyForURL(url);
    });
    EXPECT_EQ(count(output, through), 2u) << output;
    EXPECT_EQ(count(output, direct), 1u) << output;
    EXPECT_LT(output.find(through), output.find(direct));
    EXPECT_LT(output.find(direct), output.rfind(through));
}
