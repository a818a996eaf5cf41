#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "../support/TempHome.h"
#include "platform/Task.h"

TEST(StandInAgent, ReceiptHoldsItsArgumentsAndTheFilesItWasHanded) {
    TempHome home;
    std::string folder = home / "Library/Application Support/ConveloNative/";
    writeFile(folder + "orvojoindetails.conf", "CONVELO_IND\n&key=123456789&");
    auto run = platform::Task::run(KELVANE_AGENT_EXECUTABLE, {"-timestamps", "{\"a\":1}"}, false);
    ASSERT_EQ(run.terminationStatus, 0);
    auto receipt = nlohmann::json::parse(readFile(folder + "OrvoAgentReceipt.json"));
    EXPECT_EQ(receipt["arguments"], (nlohmann::json{"-timestamps", "{\"a\":1}"}));
    EXPECT_EQ(receipt["joinDetails"], "CONVELO_IND\n&key=123456789&");
    EXPECT_TRUE(receipt["connectionSettings"].is_null());
    EXPECT_EQ(countOccurrences(readFile(folder + "OrvoAgentStarts.log"), "started"), 1u);
}
