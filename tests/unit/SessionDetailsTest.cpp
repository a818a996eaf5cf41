#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "Objects/SessionDetails.h"

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
