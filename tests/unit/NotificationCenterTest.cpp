#include <gtest/gtest.h>

#include "platform/NotificationCenter.h"

TEST(NotificationCenter, DeliversToMatchingObserversOnlyAndSurvivesRemovalInsideAHandler) {
    platform::NotificationCenter center;
    int terminations = 0, others = 0, second = 0;
    int owner = 0, other = 0;
    // The first handler removes both registrations, as the exit sequence does: the second
    // one must not run in the same post, and a later post reaches nobody.
    center.addObserver(&owner, "Terminate", [&] {
        ++terminations;
        center.removeObserver(&owner);
        center.removeObserver(&other);
    });
    center.addObserver(&other, "Terminate", [&] { ++second; });
    center.addObserver(&owner, "Other", [&] { ++others; });

    center.post("Terminate");
    center.post("Terminate");
    center.post("Other");

    EXPECT_EQ(terminations, 1);
    EXPECT_EQ(second, 0);
    EXPECT_EQ(others, 0);
}
