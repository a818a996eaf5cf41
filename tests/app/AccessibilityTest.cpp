#include <atspi/atspi.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <clocale>
#include <functional>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "../support/AppFixture.h"
#include "../support/Files.h"
#include "../support/SubstituteServer.h"
#include "Product.h"
#include "platform/Localization.h"

using ::testing::AnyOf;
using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;

namespace fs = std::filesystem;

namespace {

struct Unref {
    void operator()(gpointer object) const { g_object_unref(object); }
};
using Accessible = std::unique_ptr<AtspiAccessible, Unref>;

std::string text(gchar* owned) {
    std::string out = owned ? owned : "";
    g_free(owned);
    return out;
}

std::string nameOf(AtspiAccessible* object) {
    atspi_accessible_clear_cache(object);
    return text(atspi_accessible_get_name(object, nullptr));
}

AtspiRole roleOf(AtspiAccessible* object) {
    return atspi_accessible_get_role(object, nullptr);
}

// The first object under `root`, depth first, that `matches`.
Accessible find(AtspiAccessible* root, const std::function<bool(AtspiAccessible*)>& matches,
                int depth = 0) {
    if (depth > 30) return nullptr;
    atspi_accessible_clear_cache(root);
    int count = atspi_accessible_get_child_count(root, nullptr);
    for (int i = 0; i < count; ++i) {
        Accessible child(atspi_accessible_get_child_at_index(root, i, nullptr));
        if (!child) continue;
        if (matches(child.get())) return child;
        if (Accessible found = find(child.get(), matches, depth + 1)) return found;
    }
    return nullptr;
}

// The tree as a screen reader's user would have it listed, for a failure's message.
std::string describe(AtspiAccessible* root, int depth = 0) {
    std::string out;
    atspi_accessible_clear_cache(root);
    int count = atspi_accessible_get_child_count(root, nullptr);
    for (int i = 0; i < count && depth < 30; ++i) {
        Accessible child(atspi_accessible_get_child_at_index(root, i, nullptr));
        if (!child) continue;
        out += std::string(2 * depth, ' ') +
               text(atspi_accessible_get_role_name(child.get(), nullptr)) + " \"" +
               nameOf(child.get()) + "\"\n";
        out += describe(child.get(), depth + 1);
    }
    return out;
}

// The text of `english` in a language's catalogue of the bundle, found as the program finds it.
std::string translated(const std::string& bundle, const std::string& language,
                       const char* english) {
    ScopedEnvironment chosen{{"LANGUAGE", language}};
    std::setlocale(LC_MESSAGES, "C.UTF-8");
    platform::Localization::useCatalogues(bundle + "/Contents/Resources/locale",
                                          Product::kTextDomain);
    return platform::localized(english);
}

}  // namespace

// The window read as a screen reader reads it, through the accessibility bus: the events it
// sends are collected while the test waits.
class Accessibility : public AppFixture {
  protected:
    void SetUp() override {
        AppFixture::SetUp();
        if (IsSkipped()) return;
        if (!std::getenv("DBUS_SESSION_BUS_ADDRESS"))
            GTEST_SKIP() << "needs a session bus (run under dbus-run-session)";
        m_environment.set("GTK_A11Y", "atspi");
        ASSERT_EQ(atspi_init(), 0);
        m_listener = atspi_event_listener_new(
            +[](AtspiEvent* event, void* self) { static_cast<Accessibility*>(self)->heard(event); },
            this, nullptr);
        for (const char* kind :
             {"object:state-changed:showing", "object:property-change:accessible-value",
              "object:children-changed:add", "object:state-changed:focused"})
            atspi_event_listener_register(m_listener, kind, nullptr);
    }
    void TearDown() override {
        if (m_listener) {
            atspi_event_listener_deregister(m_listener, "object:", nullptr);
            g_object_unref(m_listener);
        }
    }

    struct Heard {
        std::string type;
        AtspiRole role;
        int detail;
    };
    // For an object added, the role is the added child's.
    void heard(AtspiEvent* event) {
        AtspiRole role = roleOf(event->source);
        if (G_VALUE_HOLDS_OBJECT(&event->any_data)) {
            if (auto* child = ATSPI_ACCESSIBLE(g_value_get_object(&event->any_data)))
                role = roleOf(child);
        }
        m_heard.push_back({event->type, role, event->detail1});
        g_boxed_free(ATSPI_TYPE_EVENT, event);  // the listener owns the events it is handed
    }
    std::string heardList() const {
        std::string out;
        for (const Heard& h : m_heard)
            out += "\n" + h.type + " " + text(atspi_role_get_name(h.role)) + " " +
                   std::to_string(h.detail);
        return out;
    }
    bool wasHeard(const std::string& type, AtspiRole role) const {
        for (const Heard& h : m_heard)
            if (h.type == type && h.role == role) return true;
        return false;
    }

    // Waits with the events dispatched.
    bool waitFor(const std::function<bool()>& condition, double seconds) {
        return waitUntil(
            [&] {
                while (g_main_context_iteration(nullptr, FALSE)) {
                }
                return condition();
            },
            seconds);
    }

    // The application by the name it gives the accessibility bus.
    Accessible application(const std::string& name) {
        Accessible found;
        waitFor(
            [&] {
                found = find(atspi_get_desktop(0), [&](AtspiAccessible* a) {
                    return roleOf(a) == ATSPI_ROLE_APPLICATION && nameOf(a) == name;
                });
                return found != nullptr;
            },
            30);
        return found;
    }

    static bool failureRole(AtspiRole role) {
        return role == ATSPI_ROLE_ALERT || role == ATSPI_ROLE_NOTIFICATION;
    }

    AtspiEventListener* m_listener = nullptr;
    std::vector<Heard> m_heard;
};

// A download: the bar is named by the strip's words and reports its value as it grows. A
// failure is announced, stays past the time it used to go, and goes when dismissed.
TEST_F(Accessibility, TheStripIsNamedByItsWordsAndAFailureIsAnnouncedUntilDismissed) {
    SubstituteServer server({"--agent-image", KELVANE_AGENT_IMAGE});
    useServer(server);
    serveAgentImageOver(server, 6);
    joinWhenThePageLoads(server);
    auto app = launch({"-KelvaneToken", "T-7", "-DC", "com", "-pathForKelvane", "join"});
    Accessible root = application("Orvo Tendra - Kelvane");
    ASSERT_TRUE(root) << "the application is not on the accessibility bus under its name";

    std::string barName;
    double value = -1;
    ASSERT_TRUE(waitFor(
        [&] {
            Accessible bar = find(root.get(), [](AtspiAccessible* a) {
                return roleOf(a) == ATSPI_ROLE_PROGRESS_BAR;
            });
            if (!bar) return false;
            barName = nameOf(bar.get());
            if (AtspiValue* reading = atspi_accessible_get_value_iface(bar.get())) {
                value = atspi_value_get_current_value(reading, nullptr);
                g_object_unref(reading);
            }
            return barName.find(" MB") != std::string::npos && value > 0;
        },
        60))
        << "bar named \"" << barName << "\" at " << value << " in\n"
        << describe(root.get());
    EXPECT_THAT(barName, StartsWith("Downloading the support program: "));
    EXPECT_LE(value, 1.0);
    // GTK 4.8 reports no bar's changes; a reader finds the value when it asks. Later GTK does.
    std::string toolkit = text(atspi_accessible_get_toolkit_version(root.get(), nullptr));
    if (toolkit.rfind("4.8.", 0) != 0) {
        EXPECT_TRUE(waitFor(
            [&] {
                return wasHeard("object:property-change:accessible-value", ATSPI_ROLE_PROGRESS_BAR);
            },
            10))
            << "the bar's value changes were not reported; heard:" << heardList();
    }
    ASSERT_TRUE(waitFor([&] { return fs::exists(receiptPath()); }, 60)) << log();
    ASSERT_TRUE(closeWindow(*app));
    ASSERT_TRUE(app->waitForExit(20).has_value());

    // The image cannot be had: the failure.
    nlohmann::json updateNeeded = {
        {"json",
         {{"representation", {{"AGENT", {{"update_needed", true}, {"download_url", ""}}}}}}}};
    server.setRoutes(
        {{"/api/v2/agent/check_update", updateNeeded}, {"/agent/OrvoMac.dmg", {{"status", 404}}}});
    m_heard.clear();
    app = launch({"-KelvaneToken", "T-7", "-DC", "com", "-pathForKelvane", "join"});
    root = application("Orvo Tendra - Kelvane");
    ASSERT_TRUE(root);
    Accessible alert;
    ASSERT_TRUE(waitFor(
        [&] {
            alert = find(root.get(), [](AtspiAccessible* a) {
                return failureRole(roleOf(a)) && !nameOf(a).empty();
            });
            return alert != nullptr;
        },
        60))
        << describe(root.get()) << progressStrip(*app);
    EXPECT_THAT(nameOf(alert.get()), HasSubstr("The support program could not be prepared"));
    // Screen readers announce an alert that appears. GTK 4.8 says nothing of it, so the
    // focus goes to the message's button, which screen readers read with its description.
    EXPECT_TRUE(waitFor(
        [&] {
            return wasHeard("object:state-changed:showing", ATSPI_ROLE_ALERT) ||
                   wasHeard("object:state-changed:showing", ATSPI_ROLE_NOTIFICATION) ||
                   wasHeard("object:state-changed:focused", ATSPI_ROLE_PUSH_BUTTON);
        },
        10))
        << "the failure appeared without an event a screen reader announces; heard:" << heardList();

    // It stays for the customer to read, however slowly.
    waitFor([] { return false; }, 12);
    EXPECT_THAT(progressStrip(*app), StartsWith("failed|"));
    Accessible dismiss = find(root.get(), [](AtspiAccessible* a) {
        return roleOf(a) == ATSPI_ROLE_PUSH_BUTTON && nameOf(a) == "Dismiss";
    });
    ASSERT_TRUE(dismiss) << "no button dismisses the message";
    EXPECT_THAT(text(atspi_accessible_get_description(dismiss.get(), nullptr)),
                HasSubstr("The support program could not be prepared"));
    AtspiAction* press = atspi_accessible_get_action_iface(dismiss.get());
    ASSERT_TRUE(press);
    EXPECT_TRUE(atspi_action_do_action(press, 0, nullptr));
    g_object_unref(press);
    EXPECT_TRUE(waitFor([&] { return progressStrip(*app).empty(); }, 10))
        << "the message stayed after it was dismissed";
    ASSERT_TRUE(closeWindow(*app));
    EXPECT_TRUE(app->waitForExit(20).has_value());
}

// A German customer: the offline page comes in German with its language set, and so do the
// strip's words, from the catalogues the bundle carries; the number in the window's published
// state stays as programs read it.
TEST_F(Accessibility, AGermanCustomerReadsTheOfflinePageAndTheStripInGerman) {
    m_environment.set("LANGUAGE", "de");
    m_environment.set("LANG", "C.UTF-8");
    m_environment.unset("LC_ALL");
    m_environment.unset("LC_MESSAGES");
    {
        // Nothing listens where the service should be.
        pointDeploymentAt("127.0.0.1:9");
        auto app = launch({"-KelvaneToken", "T-7", "-DC", "com", "-pathForKelvane", "join"});
        ASSERT_TRUE(logShows("The window shows de.lproj/NoInternetPage.html", 60)) << log();
        std::string page = readFile(m_bundle + "/Contents/Resources/de.lproj/NoInternetPage.html");
        EXPECT_THAT(page, HasSubstr("<html lang=\"de\">"));
        std::string heading = translated(m_bundle, "de", "You're offline");
        EXPECT_NE(heading, "You're offline");
        EXPECT_THAT(page, HasSubstr("<h1>" + heading + "</h1>"));
        ASSERT_TRUE(closeWindow(*app));
        EXPECT_TRUE(app->waitForExit(20).has_value());
    }

    SubstituteServer server({"--agent-image", KELVANE_AGENT_IMAGE});
    useServer(server);
    serveAgentImageOver(server, 6);
    joinWhenThePageLoads(server);
    auto app = launch({"-KelvaneToken", "T-7", "-DC", "com", "-pathForKelvane", "join"});
    std::string english = "Downloading the support program: ";
    std::string german = translated(m_bundle, "de", "Downloading the support program: %s MB");
    german = german.substr(0, german.find("%s"));
    ASSERT_NE(german, english);
    std::string strip;
    ASSERT_TRUE(waitUntil(
        [&] {
            strip = progressStrip(*app);
            return strip.find('|') != std::string::npos && strip.find(german) != std::string::npos;
        },
        60))
        << strip << "\n"
        << log();
    EXPECT_THAT(strip, Not(HasSubstr(english)));
    // "0.250|…", never "0,250|…".
    if (strip.rfind("pulsing|", 0) != 0) {
        EXPECT_THAT(strip, ::testing::MatchesRegex("^[01]\\.[0-9]{3}\\|.*"));
    }
    ASSERT_TRUE(waitUntil([&] { return fs::exists(receiptPath()); }, 60)) << log();
    ASSERT_TRUE(closeWindow(*app));
    EXPECT_TRUE(app->waitForExit(20).has_value());
}
