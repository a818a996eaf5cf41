#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <clocale>
#include <optional>
#include <vector>

#include "../support/ScopedEnvironment.h"
#include "Handlers/ProvisioningProgress.h"
#include "platform/Localization.h"
#include "platform/MainLoop.h"

using ::testing::StartsWith;

namespace {

using Shown = std::vector<std::optional<platform::ProgressStrip>>;

// Lets the reports posted to the main thread reach the display.
void settle() {
    platform::MainLoop::main().runUntil([] { return false; }, 0.2);
}

// The strip's shared instance, shown into `shown` for one test.
class StripDisplay {
  public:
    explicit StripDisplay(Shown& shown) {
        ProvisioningProgress::shared().setDisplay(
            [&shown](const std::optional<platform::ProgressStrip>& strip) {
                shown.push_back(strip);
            });
    }
    ~StripDisplay() {
        ProvisioningProgress::shared().downloadEnded();
        settle();
        ProvisioningProgress::shared().setDisplay(nullptr);
    }
};

}  // namespace

// A failure is the customer's to read: the next join takes it away, a join while a download
// runs leaves that download's strip, and a message the customer closed is not taken away again.
TEST(ProvisioningProgress, AFailureStaysUntilTheNextJoinAndAJoinLeavesADownloadAlone) {
    Shown shown;
    StripDisplay display(shown);
    ProvisioningProgress& progress = ProvisioningProgress::shared();

    progress.failed();
    settle();
    ASSERT_FALSE(shown.empty());
    ASSERT_TRUE(shown.back() && shown.back()->failed);
    progress.joinStarted();
    settle();
    EXPECT_FALSE(shown.back().has_value()) << "the next join left the failure up";

    progress.downloadStarted();
    settle();
    std::size_t count = shown.size();
    progress.joinStarted();
    settle();
    EXPECT_EQ(shown.size(), count) << "a join hid the download under way";
    ASSERT_TRUE(shown.back().has_value());
    EXPECT_FALSE(shown.back()->failed);

    progress.failed();
    progress.dismissed();
    settle();
    count = shown.size();
    progress.joinStarted();
    settle();
    EXPECT_EQ(shown.size(), count) << "a dismissed message was hidden once more";
}

// The strip's words come from the bundle's catalogue in the customer's language, the figures
// without any catalogue at all.
TEST(ProvisioningProgress, TheStripSpeaksTheCustomersLanguage) {
    EXPECT_EQ(ProvisioningProgress::downloading(400'000, std::nullopt).text,
              "Downloading the support program: 0.4 MB");
    ScopedEnvironment german{{"LANGUAGE", "de"}};
    std::setlocale(LC_ALL, "C.UTF-8");
    platform::Localization::useCatalogues(KELVANE_BUNDLE_DIR "/Contents/Resources/locale",
                                          "orvo-tendra-kelvane");
    EXPECT_EQ(platform::Localization::language(), "de");
    platform::ProgressStrip strip = ProvisioningProgress::downloading(250'000, 1'000'000);
    EXPECT_EQ(strip.text, "Support-Programm wird heruntergeladen: 25 % (0 von 1 MB)");
    EXPECT_DOUBLE_EQ(*strip.fraction, 0.25);
    std::setlocale(LC_ALL, "C");
}
