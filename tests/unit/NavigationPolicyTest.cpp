#include <gtest/gtest.h>

#include "NavigationPolicy.h"

using platform::NavigationAction;
using platform::NavigationType;

namespace {
// The web view knows the frame for the application's own loads and at the response stage
// (main frame: true); when a navigation starts it does not know it yet (absent).
NavigationDecision decide(NavigationType type, std::optional<std::string> url,
                          std::optional<bool> mainFrame = true,
                          std::optional<std::string> server = std::string("support.example:8443")) {
    return decideNavigationPolicy(NavigationAction{type, std::move(url), mainFrame}, server);
}
}  // namespace

TEST(NavigationPolicy, MainFrameLoadsAndReloadsStayOnTheServerOrTheOfflinePage) {
    EXPECT_EQ(decide(NavigationType::Other, "https://support.example:8443/join?kelvane_token=t"),
              NavigationDecision::Allow);
    EXPECT_EQ(decide(NavigationType::Other, "file:///app/Contents/Resources/NoInternetPage.html"),
              NavigationDecision::Allow);
    EXPECT_EQ(decide(NavigationType::Other, "file:///app/Contents/Resources/NoRequestPage.html"),
              NavigationDecision::Allow);
    EXPECT_EQ(decide(NavigationType::Other, "file:///app/Contents/Resources/Other.html"),
              NavigationDecision::Cancel);
    EXPECT_EQ(decide(NavigationType::Other, "https://elsewhere.example/"),
              NavigationDecision::Cancel);
    EXPECT_EQ(decide(NavigationType::Reload, "https://elsewhere.example/"),
              NavigationDecision::Cancel);
    EXPECT_EQ(decide(NavigationType::Other, std::nullopt), NavigationDecision::Cancel);
    // A plain substring test: the server's name anywhere in the address counts.
    EXPECT_EQ(decide(NavigationType::Reload, "https://other.example/?next=support.example:8443"),
              NavigationDecision::Allow);
    // Without a known server only the offline page passes.
    EXPECT_EQ(decide(NavigationType::Other, "https://support.example:8443/", true, std::nullopt),
              NavigationDecision::Cancel);
    EXPECT_EQ(decide(NavigationType::Other, "https://support.example:8443/", true, std::string()),
              NavigationDecision::Cancel);
}

TEST(NavigationPolicy, LinksGoAnywhereInsideExceptTheServicesOwnScheme) {
    EXPECT_EQ(decide(NavigationType::LinkActivated, "https://elsewhere.example/"),
              NavigationDecision::Allow);
    EXPECT_EQ(decide(NavigationType::FormSubmitted, "https://elsewhere.example/"),
              NavigationDecision::Allow);
    EXPECT_EQ(decide(NavigationType::BackForward, "https://elsewhere.example/"),
              NavigationDecision::Allow);
    EXPECT_EQ(decide(NavigationType::LinkActivated, "orvojoin:123456789"),
              NavigationDecision::OpenAsDeepLink);
    EXPECT_EQ(decide(NavigationType::FormResubmitted, "orvojoin://join?k=1"),
              NavigationDecision::OpenAsDeepLink);
    EXPECT_EQ(decide(NavigationType::LinkActivated, "ORVOJOIN:123"), NavigationDecision::Allow);
    EXPECT_EQ(decide(NavigationType::LinkActivated, "no scheme here"), NavigationDecision::Allow);
    EXPECT_EQ(decide(NavigationType::LinkActivated, std::nullopt), NavigationDecision::Allow);
}

TEST(NavigationPolicy, ScriptLoadsOfAnUnknownFrameWaitForTheirFrameUnlessEitherRuleSettlesThem) {
    const std::nullopt_t unknown = std::nullopt;
    // Both rules allow: the server's pages and the offline page.
    EXPECT_EQ(decide(NavigationType::Other, "https://support.example:8443/frame", unknown),
              NavigationDecision::Allow);
    EXPECT_EQ(decide(NavigationType::Other, "file:///r/NoInternetPage.html", unknown),
              NavigationDecision::Allow);
    // The main frame's rule refuses, a frame's would allow: asked again once the frame is known.
    EXPECT_EQ(decide(NavigationType::Other, "https://captcha.example/", unknown),
              NavigationDecision::DecideWhenTheFrameIsKnown);
    EXPECT_EQ(decide(NavigationType::Other, "https://captcha.example/", true),
              NavigationDecision::Cancel);
    // Nothing to ask for.
    EXPECT_EQ(decide(NavigationType::Other, std::nullopt, unknown), NavigationDecision::Cancel);
    // The service's own link from a script: a frame's opens it, the main frame's does not.
    EXPECT_EQ(decide(NavigationType::Other, "orvojoin:123456789", unknown),
              NavigationDecision::DecideWhenTheFrameIsKnown);
    EXPECT_EQ(decide(NavigationType::Other, "orvojoin:123456789", false),
              NavigationDecision::OpenAsDeepLink);
    EXPECT_EQ(decide(NavigationType::Other, "orvojoin:123456789", true),
              NavigationDecision::Cancel);
    // Reloads keep the main frame's rule, and links the link rule, whatever the frame.
    EXPECT_EQ(decide(NavigationType::Reload, "https://captcha.example/", unknown),
              NavigationDecision::Cancel);
    EXPECT_EQ(decide(NavigationType::LinkActivated, "orvojoin:1", unknown),
              NavigationDecision::OpenAsDeepLink);
    EXPECT_EQ(decide(NavigationType::LinkActivated, "https://captcha.example/", unknown),
              NavigationDecision::Allow);
}

TEST(JoinPageURL, TokenIsAppendedUnencodedOnlyWhenNotEmpty) {
    EXPECT_EQ(joinPageURL("h.example", "join", std::nullopt), "https://h.example/join");
    EXPECT_EQ(joinPageURL("h.example", "join", std::string()), "https://h.example/join");
    EXPECT_EQ(joinPageURL("h.example", "join", std::string("a&b c")),
              "https://h.example/join?kelvane_token=a&b c");
    EXPECT_EQ(joinPageURL("h.example", std::string(), std::nullopt), "https://h.example/");
    EXPECT_EQ(urlScheme("orvojoin:x"), "orvojoin");
    EXPECT_EQ(urlScheme("1abc:x"), std::nullopt);
}
