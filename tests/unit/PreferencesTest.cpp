#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <random>
#include <thread>

#include "../support/Files.h"
#include "../support/TempHome.h"
#include "platform/PropertyList.h"
#include "platform/linux/glib/PreferencesPlist.h"

using ::testing::HasSubstr;
using ::testing::Not;

using platform::PlistPreferences;
using platform::PlistValue;

namespace {

std::string preferencesPath(const TempHome& home) {
    return home / "Library/Preferences/com.Orvo.Tendra.OrvoTendraKelvane.plist";
}

std::vector<std::string> corruptCopies(const std::string& path) {
    std::vector<std::string> found;
    auto folder = std::filesystem::path(path).parent_path();
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        if (entry.path().string().find(".corrupt-") != std::string::npos) {
            found.push_back(entry.path().string());
        }
    }
    return found;
}

}  // namespace

TEST(Preferences, ValuesOfEveryKindSurviveARestart) {
    TempHome home;
    {
        PlistPreferences preferences(preferencesPath(home), {"app"});
        preferences.setString("KelvaneToken", "tok&en=1");
        preferences.setInteger("proxyPort", -8080);
        preferences.setBool("WebKitOfflineWebApplicationCacheEnabled", true);
        preferences.setString("removed", "x");
        preferences.removeObjectForKey("removed");
        ASSERT_TRUE(preferences.synchronize());
    }
    PlistPreferences reopened(preferencesPath(home), {"app"});
    EXPECT_EQ(reopened.stringForKey("KelvaneToken"), "tok&en=1");
    EXPECT_EQ(reopened.integerForKey("proxyPort"), -8080);
    EXPECT_TRUE(reopened.boolForKey("WebKitOfflineWebApplicationCacheEnabled"));
    EXPECT_FALSE(reopened.objectForKey("removed").has_value());
    // The file is an XML property list others can read.
    EXPECT_THAT(readFile(preferencesPath(home)), HasSubstr("<plist"));
}

TEST(Preferences, ArgumentDomainWinsButIsNeverWritten) {
    TempHome home;
    {
        PlistPreferences stored(preferencesPath(home), {"app"});
        stored.setString("DC", "in");
        stored.setString("pathForKelvane", "/join");
        stored.synchronize();
    }
    PlistPreferences preferences(preferencesPath(home), {"app", "-DC", "eu", "--verbose",
                                                         "-KelvaneToken", "abc", "-dangling"});
    EXPECT_EQ(preferences.stringForKey("DC"), "eu");
    EXPECT_EQ(preferences.stringForKey("KelvaneToken"), "abc");
    EXPECT_EQ(preferences.stringForKey("pathForKelvane"), "/join");
    EXPECT_FALSE(preferences.objectForKey("dangling").has_value());
    EXPECT_FALSE(preferences.objectForKey("-verbose").has_value());

    auto all = preferences.dictionaryRepresentation();
    EXPECT_EQ(*all.at("DC").string(), "eu");
    EXPECT_EQ(*all.at("pathForKelvane").string(), "/join");

    // A stored change under an argument's key stays hidden behind the argument, and the
    // argument itself never reaches the file.
    preferences.setString("DC", "jp");
    preferences.synchronize();
    EXPECT_EQ(preferences.stringForKey("DC"), "eu");
    std::string onDisk = readFile(preferencesPath(home));
    EXPECT_THAT(onDisk, HasSubstr("jp"));
    EXPECT_THAT(onDisk, Not(HasSubstr("abc")));
}

TEST(Preferences, UnreadableFileIsKeptAsideAndTheStoreStartsEmpty) {
    TempHome home;
    for (std::string bad :
         {std::string("\x00\xff garbage", 10), std::string("<plist><dict><key>a"),
          platform::PropertyList::toXml(platform::PlistArray{"not", "a", "dict"})}) {
        writeFile(preferencesPath(home), bad);
        PlistPreferences preferences(preferencesPath(home), {"app"});
        EXPECT_TRUE(preferences.dictionaryRepresentation().empty());
        auto copies = corruptCopies(preferencesPath(home));
        ASSERT_EQ(copies.size(), 1u);
        EXPECT_EQ(readFile(copies[0]), bad);
        std::filesystem::remove(copies[0]);

        preferences.setString("after", "recovery");
        EXPECT_TRUE(preferences.synchronize());
        EXPECT_EQ(PlistPreferences(preferencesPath(home), {"app"}).stringForKey("after"),
                  "recovery");
        std::filesystem::remove(preferencesPath(home));
    }
}

TEST(Preferences, KillDuringWriteThroughLeavesAReadableFile) {
    TempHome home;
    const std::string path = preferencesPath(home);
    std::mt19937 random(42);
    for (int round = 0; round < 12; ++round) {
        pid_t child = ::fork();
        if (child == 0) {
            PlistPreferences preferences(path, {"app"});
            for (int i = 0;; ++i) {
                preferences.setString("payload", std::string(200000 + i % 7, char('a' + i % 26)));
                preferences.setInteger("generation", i);
                preferences.synchronize();
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5 + random() % 40));
        ::kill(child, SIGKILL);
        ::waitpid(child, nullptr, 0);
        if (!std::filesystem::exists(path)) continue;  // killed before the first save
        auto root = platform::PropertyList::readFile(path);
        ASSERT_TRUE(root && root->dictionary()) << "round " << round;
        ASSERT_GT(root->dictionary()->at("payload").string()->size(), 100000u);
    }
    EXPECT_TRUE(corruptCopies(path).empty());
}

TEST(Preferences, ConcurrentWritersAndReaders) {
    TempHome home;
    PlistPreferences preferences(preferencesPath(home), {"app"});
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 300; ++i) {
                preferences.setInteger("thread" + std::to_string(t), i);
                preferences.dictionaryRepresentation();
                if (i % 50 == 0) preferences.synchronize();
            }
        });
    }
    for (auto& t : threads) t.join();
    ASSERT_TRUE(preferences.synchronize());
    PlistPreferences reopened(preferencesPath(home), {"app"});
    for (int t = 0; t < 4; ++t)
        EXPECT_EQ(reopened.integerForKey("thread" + std::to_string(t)), 299);
}

// Settings files are often binary where these come from: they are read like XML ones, and a
// malformed binary list (one that stops the property-list library) is refused, never fatal.
TEST(Preferences, BinaryListsAreReadAndMalformedOnesOnlyRefused) {
    TempHome home;
    platform::PlistDictionary written{
        {"KelvaneToken", "T-bin"}, {"port", std::int64_t{3128}}, {"on", true}};
    writeFile(home / "written.plist", platform::PropertyList::toXml(written));
    std::string convert =
        "plistutil -i '" + home / "written.plist" + "' -o '" + preferencesPath(home) + "' -f bin";
    std::filesystem::create_directories(std::filesystem::path(preferencesPath(home)).parent_path());
    ASSERT_EQ(std::system(convert.c_str()), 0);
    ASSERT_EQ(readFile(preferencesPath(home)).rfind("bplist00", 0), 0u);
    PlistPreferences preferences(preferencesPath(home), {"app"});
    EXPECT_EQ(preferences.stringForKey("KelvaneToken"), "T-bin");
    EXPECT_EQ(preferences.dictionaryRepresentation().at("port"), PlistValue(std::int64_t{3128}));

    std::string hostile = readFile(std::string(KELVANE_SOURCE_DIR) +
                                   "/fuzz/regressions/PropertyList/binary-string-with-nul");
    auto value = platform::PropertyList::parse(hostile);
    EXPECT_TRUE(!value || value->dictionary()) << "read, or refused with a reason";
    std::string whole = readFile(preferencesPath(home));
    std::string cut = whole.substr(0, whole.size() - 12);  // the trailer's end is gone
    auto refused = platform::PropertyList::parse(cut);
    ASSERT_FALSE(refused);
    EXPECT_FALSE(refused.error().empty());
}

// Two instances sharing one home: each keeps what the other stored, removals included.
TEST(Preferences, AWriteKeepsWhatAnotherProcessStoredMeanwhile) {
    TempHome home;
    PlistPreferences first(preferencesPath(home), {"app"});
    first.setString("kept", "yes");
    first.setString("dropped", "soon");
    ASSERT_TRUE(first.synchronize());

    PlistPreferences second(preferencesPath(home), {"app"});
    second.setString("fromSecond", "2");
    second.removeObjectForKey("dropped");
    ASSERT_TRUE(second.synchronize());

    first.setString("fromFirst", "1");
    ASSERT_TRUE(first.synchronize());
    PlistPreferences reopened(preferencesPath(home), {"app"});
    EXPECT_EQ(reopened.stringForKey("kept"), "yes");
    EXPECT_EQ(reopened.stringForKey("fromFirst"), "1");
    EXPECT_EQ(reopened.stringForKey("fromSecond"), "2") << "the other process's value was lost";
    EXPECT_EQ(reopened.stringForKey("dropped"), std::nullopt);
    EXPECT_EQ(first.stringForKey("fromSecond"), "2") << "the writer sees the merged values";
}
