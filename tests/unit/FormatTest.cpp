#include <gtest/gtest.h>

#include "platform/Format.h"

using platform::format;

TEST(Format, FillsPlaceholdersInOrderAndKeepsTheRest) {
    EXPECT_EQ(
        format("%s : Info plist Filepath :  %@", "+[Utils parseCommandLineArgs]", "/x/info.plist"),
        "+[Utils parseCommandLineArgs] : Info plist Filepath :  /x/info.plist");
    EXPECT_EQ(format("orvoKelvane%d.log", 10), "orvoKelvane10.log");
    EXPECT_EQ(format("%ld of %d, 100%% done", 7L, 9), "7 of 9, 100% done");
}

TEST(Format, AbsentValuesAndMissingArgumentsNeverBreakALine) {
    EXPECT_EQ(format("%@", std::optional<std::string>()), "(null)");
    EXPECT_EQ(format("%@", std::optional<std::string>("")), "");
    // Too few arguments: the placeholder stays; too many: the extra ones are dropped.
    EXPECT_EQ(format("%s and %@", "one"), "one and %@");
    EXPECT_EQ(format("only %s", "a", "b"), "only a");
    EXPECT_EQ(format("trailing %"), "trailing %");
}
