#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <thread>

#include "Handlers/ImageTurn.h"

using namespace std::chrono_literals;

// A run's turn is let go where its last step ends, often on another thread than the one that
// took it; the next run of the same image waits for exactly that, and the other image's runs
// never wait for it.
TEST(ImageTurn, TheNextRunWaitsForTheLastHolderWhereverItLetsGoAndTheOtherImageNever) {
    ImageTurn::Pass first = ImageTurn::take(ImageTurn::Image::agent);

    auto other = std::async(std::launch::async,
                            [] { return ImageTurn::take(ImageTurn::Image::stagedUpdate); });
    ASSERT_EQ(other.wait_for(10s), std::future_status::ready) << "the update waited for the agent";
    other.get().reset();

    auto next =
        std::async(std::launch::async, [] { return ImageTurn::take(ImageTurn::Image::agent); });
    EXPECT_EQ(next.wait_for(300ms), std::future_status::timeout)
        << "two runs held the agent's turn";

    // Two steps share the pass; only the last of them lets the next run in.
    ImageTurn::Pass laterStep = first;
    first.reset();
    EXPECT_EQ(next.wait_for(300ms), std::future_status::timeout);
    std::thread([step = std::move(laterStep)]() mutable { step.reset(); }).join();
    ASSERT_EQ(next.wait_for(10s), std::future_status::ready);
    next.get().reset();
}
