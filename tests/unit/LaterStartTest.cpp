#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <glib.h>

#include <filesystem>
#include <thread>

#include "../support/Files.h"
#include "../support/TempHome.h"
#include "PreferredCopy.h"
#include "StartRequest.h"
#include "platform/Preferences.h"
#include "platform/PropertyList.h"
#include "platform/SingleInstance.h"

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using ::testing::Optional;

namespace {

// A bundle with a runnable program and `version`; without a version when it is empty.
void placeBundle(const std::string& bundle, const std::string& version) {
    fs::create_directories(bundle + "/Contents/MacOS");
    platform::PlistDictionary info{{"CFBundleExecutable", std::string("run")}};
    if (!version.empty()) info.emplace("CFBundleShortVersionString", version);
    writeFile(bundle + "/Contents/Info.plist", platform::PropertyList::toXml(info));
    writeFile(bundle + "/Contents/MacOS/run", "#!/bin/sh\n");
    fs::permissions(bundle + "/Contents/MacOS/run", fs::perms(0755));
}

}  // namespace

// The menu's start of the installed copy weighs the package's copy against it: the newer one
// runs, the installed one on a tie, and a package copy cut short never does.
TEST(PreferredCopy, AMenuStartOfTheInstalledCopyRunsAStrictlyNewerPackage) {
    TempHome home;
    std::string installed = home / "Applications/A.app";
    std::string packaged = home / "opt/A.app";
    struct Case {
        const char* installedVersion;
        const char* packagedVersion;  // "": the package's copy has no version
        bool runsPackaged;
    };
    for (Case c : {Case{"1.9", "1.10", true}, Case{"1.10", "1.10", false},
                   Case{"2.0", "1.10", false}, Case{"1.0", "", false}, Case{"", "1.0", true}}) {
        SCOPED_TRACE(std::string(c.installedVersion) + " against " + c.packagedVersion);
        fs::remove_all(home / "Applications");
        fs::remove_all(home / "opt");
        placeBundle(installed, c.installedVersion);
        placeBundle(packaged, c.packagedVersion);
        auto instead = PreferredCopy::executableInstead(installed, installed, packaged);
        if (c.runsPackaged)
            EXPECT_THAT(instead, Optional(packaged + "/Contents/MacOS/run"));
        else
            EXPECT_EQ(instead, std::nullopt);
    }
    fs::remove_all(home / "opt");
    EXPECT_EQ(PreferredCopy::executableInstead(installed, installed, packaged), std::nullopt)
        << "without a package, the installed copy runs";
}

// What a later start hands over survives the trip as items: a volume whose path holds a line
// break, arguments with '=' in them, and unknown items from a newer version.
TEST(StartRequest, ItemsCarryTheVolumeAndArgumentsAndOnlyARequestCounts) {
    StartRequest request;
    request.volume = "/media/ann/Kelvane Plugin\nodd";
    request.arguments = {"-KelvaneToken", "a=b", "-DC", "eu"};
    std::vector<std::string> items = request.items();
    items.push_back("window=front");
    StartRequest back = StartRequest::fromItems(items);
    EXPECT_EQ(back.volume, request.volume);
    EXPECT_THAT(back.arguments, ElementsAre("-KelvaneToken", "a=b", "-DC", "eu"));
    EXPECT_TRUE(back.bringsRequest());

    StartRequest plain;
    plain.arguments = {"-WindowTitle", "x", "-KelvaneToken"};  // the last has no value
    EXPECT_FALSE(plain.bringsRequest());
    plain.arguments = {"-pathForKelvane", "join"};
    EXPECT_TRUE(plain.bringsRequest());
}

// The claim carries a later start's token and items whole, a line break in an item included,
// and tells the later start to end only when the running copy took it.
TEST(SingleInstance, ALaterStartHandsItsTokenAndItemsToTheClaimingCopy) {
    TempHome home;
    std::optional<platform::LaterStart> received;
    auto claim =
        platform::SingleInstance::claim(home.path(), {}, [&](const platform::LaterStart& later) {
            received = later;
            return true;
        });
    ASSERT_NE(claim, nullptr);
    auto handOver = [&](platform::LaterStart later) {
        std::unique_ptr<platform::SingleInstance> result;
        std::thread start(
            [&] { result = platform::SingleInstance::claim(home.path(), later, nullptr); });
        // The claiming copy answers from its main loop.
        for (int i = 0; i < 400 && !received; ++i) {
            g_main_context_iteration(nullptr, FALSE);
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        start.join();
        return result;
    };
    platform::LaterStart later{"token-1",
                               {"volume=/media/ann/Kelvane Plugin\nodd", "argument=-DC"}};
    EXPECT_EQ(handOver(later), nullptr) << "taken over: the later start ends";
    ASSERT_TRUE(received.has_value());
    EXPECT_EQ(received->activationToken, "token-1");
    EXPECT_THAT(received->request,
                ElementsAre("volume=/media/ann/Kelvane Plugin\nodd", "argument=-DC"));
}

// A later start's arguments take the place of the first start's: what they name wins over the
// stored value, what they no longer name falls back to it, and nothing of them is stored.
TEST(Preferences, ALaterStartsArgumentsReplaceTheArgumentDomain) {
    TempHome home;
    auto preferences = platform::Preferences::atPath(home / "store.plist");
    preferences->setString("DC", "com");
    preferences->replaceArgumentDomain({"-DC", "eu", "-KelvaneToken", "T-1"});
    EXPECT_EQ(preferences->stringForKey("DC"), "eu");
    preferences->replaceArgumentDomain({"-KelvaneToken", "T-2"});
    EXPECT_EQ(preferences->stringForKey("DC"), "com");
    EXPECT_EQ(preferences->stringForKey("KelvaneToken"), "T-2");
    ASSERT_TRUE(preferences->synchronize());
    EXPECT_EQ(readFile(home / "store.plist").find("T-2"), std::string::npos);
}
