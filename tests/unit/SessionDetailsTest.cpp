#include <gtest/gtest.h>

#include <set>
#include <thread>
#include <vector>

#include "Objects/SessionDetails.h"
#include "platform/FileManager.h"

TEST(SessionDetails, StartsAbsentAndKeepsAbsentApartFromEmpty) {
    SessionDetails& session = SessionDetails::getInstance();
    EXPECT_FALSE(session.infoPlistPath().has_value());
    EXPECT_FALSE(session.isvalidSessionKey().has_value());
    EXPECT_FALSE(session.isAwsAvailable());
    EXPECT_EQ(session.retryCounter(), 0);
    EXPECT_EQ(session.defaultOrvoDirectoryManager(), &platform::FileManager::defaultManager());

    session.setAwsServer("");
    ASSERT_TRUE(session.awsServer().has_value());
    EXPECT_EQ(*session.awsServer(), "");
    session.setAwsServer(std::nullopt);
    EXPECT_FALSE(session.awsServer().has_value());

    session.setCustomDomainEnabled("false");
    EXPECT_EQ(session.customDomainEnabled(), "false");
}

TEST(SessionDetails, OneInstanceAcrossThreads) {
    std::vector<SessionDetails*> seen(8);
    std::vector<std::thread> threads;
    for (std::size_t i = 0; i < seen.size(); ++i) {
        threads.emplace_back([&seen, i] { seen[i] = &SessionDetails::getInstance(); });
    }
    for (auto& t : threads) t.join();
    EXPECT_EQ(std::set<SessionDetails*>(seen.begin(), seen.end()).size(), 1u);
}

TEST(SessionDetails, ConcurrentWritersNeverTearATextField) {
    SessionDetails& session = SessionDetails::getInstance();
    // Long values defeat the small-string buffer, so a torn read would mix two heap strings.
    const std::string first(300, 'a');
    const std::string second(700, 'b');
    std::atomic<bool> stop{false};
    std::atomic<int> torn{0};
    std::vector<std::thread> threads;
    for (int w = 0; w < 2; ++w) {
        threads.emplace_back([&, w] {
            while (!stop) {
                session.setWebServerName(w == 0 ? first : second);
                session.setIsCdnAvailable(w == 0);
            }
        });
    }
    threads.emplace_back([&] {
        for (int i = 0; i < 20000; ++i) {
            auto value = session.webServerName();
            if (value && *value != first && *value != second) ++torn;
        }
        stop = true;
    });
    for (auto& t : threads) t.join();
    EXPECT_EQ(torn.load(), 0);
}
