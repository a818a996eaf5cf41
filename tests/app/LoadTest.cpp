#include <nlohmann/json.hpp>

#include "../support/AppFixture.h"
#include "../support/BuildKind.h"
#include "../support/Files.h"
#include "../support/SubstituteServer.h"

namespace {

long residentKiB(pid_t pid) {
    std::string status = readFile("/proc/" + std::to_string(pid) + "/status");
    auto at = status.find("VmRSS:");
    return at == std::string::npos ? 0 : std::stol(status.substr(at + 6));
}

}  // namespace

class Load : public AppFixture {};

TEST_F(Load, BurstOfAHundredThousandMessagesIsHandledAndMemoryReturns) {
    SubstituteServer server;
    useServer(server);
    const int half = kThreadSanitizedBuild ? 5000 : 50000;
    nlohmann::json steps = nlohmann::json::array({
        {{"name", "getSystemOs"}, {"body", ""}, {"pauseMs", 4000}},
        {{"name", "consoleHandler"}, {"body", "burst"}, {"repeat", half}},
        {{"name", "sendRRSessionDigestToNative"}, {"body", "digest"}, {"repeat", half - 1}},
        {{"name", "getRRSessionDigest"}, {"body", ""}},
    });
    // Sanitizer builds handle the burst several times slower; the page waits for them.
    server.setTestScript(
        {{"steps", steps}, {"awaitReplies", 2}, {"awaitMs", 270000}, {"settleMs", 500}});

    auto app = launch({"-KelvaneToken", "T", "-DC", "com", "-pathForKelvane", "join"});
    ASSERT_TRUE(waitUntil(
        [&] {
            return log().find("Console Message from WebView") == std::string::npos &&
                   residentKiB(app->pid()) > 0;
        },
        10));
    std::this_thread::sleep_for(std::chrono::seconds(3));  // the page is loaded and paused
    long before = residentKiB(app->pid());
    auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(waitUntil([&] { return !server.replies().empty(); }, 275))
        << "the burst was not handled in time";
    std::printf("burst handled in %.1f s\n",
                std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    auto replies = server.replies()[0]["replies"];
    ASSERT_EQ(replies.size(), 2u);
    EXPECT_EQ(replies[1]["function"], "receiveRRSessionDigest");
    EXPECT_EQ(replies[1]["argument"], "digest");
    std::this_thread::sleep_for(std::chrono::seconds(3));
    long after = residentKiB(app->pid());
    if (!kSanitizedBuild) {
        EXPECT_LT(after - before, 32 * 1024)
            << "resident memory before " << before << " KiB, after " << after << " KiB";
    }
    ASSERT_TRUE(closeWindow(*app));
    EXPECT_TRUE(app->waitForExit(30).has_value());
}
