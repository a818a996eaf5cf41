#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <future>
#include <thread>

#include "../support/Files.h"
#include "../support/HttpFailureOf.h"
#include "../support/LaunchedApp.h"
#include "../support/ServerTest.h"
#include "../support/SubstituteServer.h"
#include "platform/Http.h"
#include "platform/ProductIdentity.h"
#include "platform/Url.h"
#include "platform/linux/curl/ResponseCache.h"

using ::testing::HasSubstr;

using platform::HttpClient;
using platform::HttpRequest;

class HttpClientTest : public ServerTest {
  protected:
    HttpRequest request(const std::string& path, double timeout = 5) {
        HttpRequest r;
        r.url = "https://" + m_server.host() + path;
        r.timeoutSeconds = timeout;
        return r;
    }
};

TEST_F(HttpClientTest, StatusAndTransportFailuresAreReportedApart) {
    m_server.setRoutes(
        {{"/ok", {{"body", "hello"}}}, {"/fail", {{"status", 500}, {"body", "oops"}}}});
    auto ok = HttpClient::shared().get(request("/ok"));
    EXPECT_EQ(ok.statusCode, 200);
    EXPECT_EQ(ok.body, "hello");
    EXPECT_FALSE(ok.failure);

    auto failed = HttpClient::shared().get(request("/fail"));
    EXPECT_EQ(failed.statusCode, 500);
    EXPECT_EQ(failed.body, "oops");
    EXPECT_FALSE(failed.failure);

    HttpRequest refused;
    refused.url = "https://127.0.0.1:1/";
    auto noServer = HttpClient::shared().get(refused);
    EXPECT_EQ(noServer.statusCode, 0);
    EXPECT_TRUE(noServer.failure);

    HttpRequest invalid;
    invalid.url = "https://has a blank/";
    EXPECT_TRUE(HttpClient::shared().get(invalid).failure);
}

TEST_F(HttpClientTest, BoundsBodiesTimeOutsAndCutOffAnswers) {
    m_server.setRoutes({{"/huge", {{"repeatBytes", 200 * 1024 * 1024}}},
                        {"/hang", {{"hang", true}}},
                        {"/cut", {{"body", std::string(5000, 'y')}, {"truncateAfter", 100}}}});
    auto huge = request("/huge");
    huge.maximumBodyBytes = 1024 * 1024;
    auto start = std::chrono::steady_clock::now();
    auto answer = HttpClient::shared().get(huge);
    // A body over the bound is the server's answer all the same, cut at the bound.
    EXPECT_FALSE(answer.failure);
    EXPECT_EQ(answer.statusCode, 200);
    EXPECT_TRUE(answer.bodyTruncated);
    EXPECT_EQ(answer.body.size(), 1024u * 1024u);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_FALSE(HttpClient::shared().get(request("/cut")).bodyTruncated);

    auto hung = HttpClient::shared().get(request("/hang", 1));
    EXPECT_TRUE(hung.failure);
    EXPECT_EQ(hung.statusCode, 0);

    auto cut = HttpClient::shared().get(request("/cut"));
    EXPECT_TRUE(cut.failure);
}

TEST_F(HttpClientTest, CleartextIsRefusedFirstHandAndAfterARedirect) {
    m_server.setRoutes(
        {{"/to-http", {{"status", 302}, {"location", "http://" + m_server.host() + "/plain"}}},
         {"/to-https", {{"status", 302}, {"location", "https://" + m_server.host() + "/plain"}}},
         {"/plain", {{"body", "image"}}}});
    auto followed = HttpClient::shared().get(request("/to-https"));
    EXPECT_EQ(followed.body, "image");

    auto redirected = HttpClient::shared().get(request("/to-http"));
    ASSERT_TRUE(redirected.failure);
    EXPECT_THAT(redirected.failure->description, HasSubstr("cleartext HTTP is refused: http://"))
        << redirected.failure->description;
    std::promise<platform::DownloadResult> download;
    HttpClient::shared().download(
        request("/to-http"), m_home / "image.dmg",
        [&](const platform::DownloadResult& r) { download.set_value(r); });
    auto downloaded = download.get_future().get();
    EXPECT_TRUE(downloaded.failure);
    EXPECT_TRUE(downloaded.location.empty());

    HttpRequest plain;
    plain.url = "http://" + m_server.host() + "/plain";
    EXPECT_TRUE(HttpClient::shared().get(plain).failure);
    EXPECT_EQ(m_server.requestsFor("/plain").size(), 1u)
        << "only the https redirect reached the server";
}

TEST_F(HttpClientTest, ADripSlowerThanAUsefulRateEndsWithinTheTimeOut) {
    // 100 bytes a second: never idle, never useful.
    m_server.setRoutes({{"/drip", {{"repeatBytes", 1000000}, {"bytesPerSecond", 100}}}});
    auto start = std::chrono::steady_clock::now();
    std::promise<platform::DownloadResult> done;
    HttpClient::shared().download(request("/drip", 3), m_home / "drip.dmg",
                                  [&](const platform::DownloadResult& r) { done.set_value(r); });
    auto result = done.get_future().get();
    EXPECT_TRUE(result.failure);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(15));
}

TEST_F(HttpClientTest, TrustsOnlyTheGivenAuthorityAndTheRightHost) {
    m_environment.unset("SSL_CERT_FILE");
    EXPECT_TRUE(HttpClient::shared().get(request("/")).failure) << "unknown authority must fail";

    SubstituteServer wrongHost({"--subject-alt-names", "DNS:other.example"});
    trust(wrongHost);
    HttpRequest r;
    r.url = "https://" + wrongHost.host() + "/";
    auto answer = HttpClient::shared().get(r);
    EXPECT_TRUE(answer.failure);
    EXPECT_TRUE(wrongHost.requests().empty()) << "no request may pass a failed handshake";
}

TEST_F(HttpClientTest, AsyncCompletionRunsOnceOnAWorkerThread) {
    std::promise<std::thread::id> done;
    std::atomic<int> calls{0};
    HttpClient::shared().getAsync(request("/"), [&](platform::HttpResponse response) {
        ++calls;
        EXPECT_EQ(response.statusCode, 200);
        done.set_value(std::this_thread::get_id());
    });
    auto future = done.get_future();
    ASSERT_EQ(future.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    EXPECT_NE(future.get(), std::this_thread::get_id());
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(calls.load(), 1);
}

// Downloads are written beside their destination, as sent, within their bound; nothing of a
// download stays behind but the partial of a broken one.
TEST_F(HttpClientTest, DownloadsGoBesideTheirDestinationAsSentAndBoundedAndLeaveNothing) {
    std::string image = m_home / "image.bin";
    std::string contents;
    for (int i = 0; i < 300000; ++i) contents += static_cast<char>(i * 7);
    writeFile(image, contents);
    m_server.setRoutes(
        {{"/image", {{"file", image}}}, {"/broken", {{"file", image}, {"truncateAfter", 1000}}}});

    // What the completion saw: the result and the file's contents at that moment.
    std::string folder = m_home / "downloads";
    std::filesystem::create_directories(folder);
    // The shared temporary folder is never used.
    std::string shared = m_home / "tmp";
    std::filesystem::create_directories(shared);
    m_environment.set("TMPDIR", shared);
    auto download = [&](const std::string& path, std::uint64_t bound = 1 << 20) {
        std::promise<std::pair<platform::DownloadResult, std::string>> done;
        HttpRequest r = request(path);
        r.maximumBodyBytes = bound;
        HttpClient::shared().download(
            r, folder + "/image.dmg", [&](const platform::DownloadResult& result) {
                done.set_value({result, result.location.empty() ? "" : readFile(result.location)});
            });
        auto outcome = done.get_future().get();
        // The client removes the completion's file right after it returns.
        const std::string& location = outcome.first.location;
        waitUntil([&] { return location.empty() || !std::filesystem::exists(location); }, 10);
        return outcome;
    };
    auto [ok, received] = download("/image");
    EXPECT_FALSE(ok.failure);
    EXPECT_EQ(ok.statusCode, 200);
    EXPECT_EQ(ok.bytes, contents.size());
    EXPECT_EQ(received, contents);
    EXPECT_EQ(std::filesystem::path(ok.location).parent_path(), folder);
    EXPECT_EQ(std::filesystem::path(ok.location).filename().string().rfind(".image.dmg.", 0), 0u);
    EXPECT_TRUE(std::filesystem::is_empty(folder)) << "the file must not stay behind";

    // A broken one keeps only its partial, for the next try of the same address; a download
    // of another address to the same destination replaces it.
    auto [broken, nothing] = download("/broken");
    EXPECT_TRUE(broken.failure);
    EXPECT_TRUE(broken.location.empty());
    EXPECT_EQ(std::filesystem::file_size(folder + "/.image.dmg.kelvane-partial"), 1000u);

    // A compressed answer is stored as sent, never expanded.
    std::string packed = m_home / "packed.gz";
    ASSERT_EQ(std::system(("head -c 5000000 /dev/zero | gzip -c > '" + packed + "'").c_str()), 0);
    m_server.setRoutes(
        {{"/packed", {{"file", packed}, {"headers", {{"Content-Encoding", "gzip"}}}}},
         {"/chunked", {{"repeatBytes", 300000}, {"chunked", true}}}});
    auto [asSent, bytes] = download("/packed");
    EXPECT_FALSE(asSent.failure) << asSent.failure->description;
    EXPECT_EQ(bytes, readFile(packed));
    EXPECT_EQ(m_server.requestsFor("/packed")[0]["headers"].count("Accept-Encoding"), 0u);

    // Above the bound, announced or not: a failure, and nothing kept.
    auto [announced, none] = download("/image", 1000);
    ASSERT_TRUE(announced.failure);
    EXPECT_THAT(announced.failure->description, HasSubstr("larger than 1000 bytes"))
        << announced.failure->description;
    auto [unannounced, none2] = download("/chunked", 100000);
    ASSERT_TRUE(unannounced.failure);
    EXPECT_THAT(unannounced.failure->description, HasSubstr("larger than 100000 bytes"));
    auto [chunked, all] = download("/chunked");
    EXPECT_FALSE(chunked.failure);
    EXPECT_EQ(all.size(), 300000u);
    EXPECT_TRUE(std::filesystem::is_empty(folder));
    EXPECT_TRUE(std::filesystem::is_empty(shared));
}

TEST(Url, QueryEncodingEscapesOnlyWhatAQueryMayNotHold) {
    EXPECT_EQ(platform::Url::encodeForQuery(
                  "https://h:1/api/v2/agent/check_update?agent_version=0&agent=mac 64"),
              "https://h:1/api/v2/agent/check_update?agent_version=0&agent=mac%2064");
    EXPECT_EQ(platform::Url::encodeForQuery("a%b\"c#é"), "a%25b%22c%23%C3%A9");
    EXPECT_TRUE(platform::Url::isValid("https://127.0.0.1:8443/x?y=z"));
    EXPECT_FALSE(platform::Url::isValid("not a url"));
    EXPECT_FALSE(platform::Url::isValid("https://"));
    // References as the page and the monitor hand them over: any scheme, or none at all.
    for (const char* reference :
         {"mailto:abuse@example.com?subject=Report%20abuse", "tel:+1-555-0100", "127.0.0.1:8443",
          "support.example", "https://h.example/a?b=c#d"}) {
        EXPECT_TRUE(platform::Url::isURLReference(reference)) << reference;
    }
    for (const char* text :
         {"", "https://h.example/a b", "mailto:\"x\"@y", "100%", "%zz", "<tag>"}) {
        EXPECT_FALSE(platform::Url::isURLReference(text)) << text;
    }
    EXPECT_EQ(platform::Url::hostAndPort("https://example.test:8443/a"), "example.test:8443");
}

// A GET that may be answered from what was kept, as the reachability check asks: a 200 answer
// is kept and answers later such GETs without asking the server again, even after the server
// changed it; error answers and "no-store" answers are not kept; a plain GET always asks.
TEST_F(HttpClientTest, AKeptAnswerServesLaterGetsThatAllowItWithoutTheServer) {
    auto routes = [&](const std::string& page) {
        m_server.setRoutes(
            {{"/page", {{"body", page}}},
             {"/private", {{"body", "p"}, {"headers", {{"Cache-Control", "private, no-store"}}}}},
             {"/busy", {{"status", 503}, {"body", "busy"}}}});
    };
    auto cached = [&](const std::string& path) {
        HttpRequest r = request(path);
        r.cachePolicy = platform::CachePolicy::returnCacheDataElseLoad;
        return HttpClient::shared().get(r);
    };
    routes("first");
    EXPECT_EQ(cached("/page").body, "first");
    routes("second");
    auto kept = cached("/page");
    EXPECT_EQ(kept.statusCode, 200);
    EXPECT_EQ(kept.body, "first");
    EXPECT_EQ(m_server.requestsFor("/page").size(), 1u) << "the kept answer asked the server";
    EXPECT_EQ(HttpClient::shared().get(request("/page")).body, "second");

    for (const char* path : {"/private", "/busy"}) {
        SCOPED_TRACE(path);
        auto first = cached(path);
        auto second = cached(path);
        EXPECT_EQ(second.statusCode, first.statusCode);
        EXPECT_EQ(m_server.requestsFor(path).size(), 2u) << "an answer that may not be kept was";
    }

    // Every address is kept apart, and only so many: the longest-kept answer goes first.
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    for (std::size_t i = 0; i < platform::curl::ResponseCache::kMaximumEntries; ++i)
        EXPECT_EQ(cached("/page?n=" + std::to_string(i)).body, "second");
    std::filesystem::path folder = std::filesystem::path(m_home / "Library/Caches") /
                                   platform::productIdentity().applicationId / "HTTP";
    auto entries = [&] {
        auto listing = std::filesystem::directory_iterator(folder);
        return static_cast<std::size_t>(std::distance(begin(listing), end(listing)));
    };
    EXPECT_EQ(entries(), platform::curl::ResponseCache::kMaximumEntries);
    m_server.clearRequests();
    EXPECT_EQ(cached("/page?n=31").body, "second");
    EXPECT_TRUE(m_server.requestsFor("/page").empty()) << "a newer answer was dropped";
    EXPECT_EQ(cached("/page").body, "second");
    EXPECT_EQ(m_server.requestsFor("/page").size(), 1u) << "the oldest answer outlived the bound";
}
