// The networks customers really have: a proxy between them and the service, slow lines,
// downloads that break half-way, and networks that answer in the server's place.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <utime.h>

#include <filesystem>
#include <future>
#include <mutex>

#include "../support/ConnectProxy.h"
#include "../support/Files.h"
#include "../support/HttpFailureOf.h"
#include "../support/InProcess.h"
#include "../support/LaunchedApp.h"
#include "../support/ServerTest.h"
#include "../support/SubstituteServer.h"
#include "Handlers/ProxyDecision.h"
#include "platform/Http.h"
#include "platform/Preferences.h"
#include "platform/ProxyResolver.h"

using platform::HttpClient;
using platform::HttpFailure;
using platform::HttpRequest;
using ::testing::HasSubstr;
using ::testing::Not;
namespace fs = std::filesystem;

namespace {

// Desktop settings that name one proxy for every address, or none.
class FixedProxySettings final : public platform::ProxyResolver {
  public:
    explicit FixedProxySettings(std::optional<platform::HttpProxy> proxy)
        : m_proxy(std::move(proxy)) {}
    platform::Result<std::optional<platform::HttpProxy>> proxyFor(const std::string&) override {
        return m_proxy;
    }

  private:
    std::optional<platform::HttpProxy> m_proxy;
};

platform::HttpProxy proxyAt(int port) {
    platform::HttpProxy proxy;
    proxy.scheme = "http";
    proxy.host = "127.0.0.1";
    proxy.port = port;
    return proxy;
}

platform::DownloadResult downloadTo(HttpRequest request, const std::string& destination,
                                    std::string* contents = nullptr) {
    std::promise<platform::DownloadResult> done;
    HttpClient::shared().download(request, destination, [&](const platform::DownloadResult& r) {
        if (contents) *contents = r.location.empty() ? "" : readFile(r.location);
        done.set_value(r);
    });
    auto result = done.get_future().get();
    // The client removes the completion's file right after it returns.
    waitUntil([&] { return result.location.empty() || !fs::exists(result.location); }, 10);
    return result;
}

}  // namespace

// Through a proxy that only it can resolve the service's name: with the desktop's proxy
// every kind of request arrives, with the customer's stored credentials where the proxy asks.
class ThroughAProxy : public ::testing::Test {
  protected:
    void SetUp() override { ProxyDecision::install(); }
    void TearDown() override { HttpClient::shared().setProxyChooser({}); }

    void storeProxyDetails(const std::string& password) {
        auto& defaults = platform::Preferences::standardUserDefaults();
        defaults.setString("host", "127.0.0.1");
        defaults.setInteger("port", m_proxy.port());
        defaults.setBool("authRequired", true);
        defaults.setString("userName", "ann");
        defaults.setString("password", password);
    }
    HttpRequest request(const std::string& path) {
        HttpRequest r;
        r.url = "https://kelvane-service.test:" + std::to_string(m_server.port()) + path;
        r.timeoutSeconds = 5;
        return r;
    }

    TempHome m_home;
    PreferencesInHome m_preferences{m_home};
    SubstituteServer m_server{{"--subject-alt-names", "DNS:kelvane-service.test"}};
    ScopedEnvironment m_environment{{"SSL_CERT_FILE", m_server.caPath()}};
    ConnectProxy m_proxy{
        {std::make_pair("ann", "s3cret"), {{"kelvane-service.test", "127.0.0.1"}}}};
    FixedProxySettings m_settings{proxyAt(m_proxy.port())};
    platform::ProxyResolver::ScopedReplacement m_replacement{m_settings};
};

TEST_F(ThroughAProxy, ItsCredentialsComeFromTheJoinPageAndA407SaysWhatIsMissing) {
    m_server.setRoutes({{"/ok", {{"body", "through"}}}, {"/image", {{"repeatBytes", 70000}}}});

    auto refused = HttpClient::shared().get(request("/ok"));
    EXPECT_EQ(kindOf(refused.failure), HttpFailure::proxyAuthenticationRequired);
    ASSERT_TRUE(refused.failure);
    EXPECT_THAT(refused.failure->description, HasSubstr("asks for a user name and password"));
    EXPECT_GE(m_proxy.challenges(), 1);

    storeProxyDetails("wrong");
    auto wrong = HttpClient::shared().get(request("/ok"));
    EXPECT_EQ(kindOf(wrong.failure), HttpFailure::proxyAuthenticationRequired);
    ASSERT_TRUE(wrong.failure);
    EXPECT_THAT(wrong.failure->description, HasSubstr("did not accept the user name and password"));
    EXPECT_THAT(wrong.failure->description, Not(HasSubstr("wrong"))) << "a password is never shown";
    EXPECT_TRUE(m_server.requestsFor("/ok").empty());

    storeProxyDetails("s3cret");
    auto answer = HttpClient::shared().get(request("/ok"));
    EXPECT_FALSE(answer.failure) << answer.failure->description;
    EXPECT_EQ(answer.body, "through");
    std::string contents;
    auto image = downloadTo(request("/image"), m_home / "image.dmg", &contents);
    EXPECT_FALSE(image.failure) << image.failure->description;
    EXPECT_EQ(contents.size(), 70000u);
    EXPECT_THAT(m_proxy.tunnels(),
                ::testing::Contains("kelvane-service.test:" + std::to_string(m_server.port())));
    EXPECT_EQ(m_server.requestsFor("/ok").size(), 1u);

    // Stored details for another proxy are not handed to this one.
    platform::Preferences::standardUserDefaults().setInteger("port", m_proxy.port() + 1);
    EXPECT_EQ(kindOf(HttpClient::shared().get(request("/ok")).failure),
              HttpFailure::proxyAuthenticationRequired)
        << "the details stored for port " << m_proxy.port() + 1 << " went to the proxy on "
        << m_proxy.port();
}

TEST_F(ThroughAProxy, NoProxyMeansDirectAndAProxyThatCannotConnectSaysSo) {
    storeProxyDetails("s3cret");
    // Straight to the server, the name only the proxy knows cannot be found.
    FixedProxySettings direct{std::nullopt};
    {
        platform::ProxyResolver::ScopedReplacement none(direct);
        auto answer = HttpClient::shared().get(request("/"));
        EXPECT_EQ(kindOf(answer.failure), HttpFailure::transport);
        EXPECT_TRUE(m_proxy.tunnels().empty());
    }
    HttpRequest elsewhere;
    elsewhere.url = "https://nowhere.test/";
    elsewhere.timeoutSeconds = 5;
    auto refused = HttpClient::shared().get(elsewhere);
    EXPECT_EQ(kindOf(refused.failure), HttpFailure::proxyRefused);
    ASSERT_TRUE(refused.failure);
    EXPECT_THAT(refused.failure->description, HasSubstr("refused to connect to nowhere.test"));

    FixedProxySettings gone{proxyAt(1)};
    platform::ProxyResolver::ScopedReplacement unreachable(gone);
    auto noProxy = HttpClient::shared().get(request("/"));
    EXPECT_EQ(kindOf(noProxy.failure), HttpFailure::proxyRefused);
    EXPECT_THAT(descriptionOf(noProxy.failure), HasSubstr("cannot be reached"));
}

class Downloads : public ServerTest {
  protected:
    void SetUp() override {
        for (int i = 0; i < 300000; ++i) m_contents += static_cast<char>(i * 7 + i / 251);
        writeFile(m_image, m_contents);
        fs::create_directories(m_home / "folder");
    }
    HttpRequest request(const std::string& path = "/image") {
        HttpRequest r;
        r.url = "https://" + m_server.host() + path;
        r.timeoutSeconds = 5;
        return r;
    }
    void serve(nlohmann::json answer) {
        answer["file"] = m_image;
        m_server.setRoutes({{"/image", answer}});
    }
    // The first try breaks at 60 %.
    void breakAtSixtyPercent() {
        serve({{"truncateAfter", 180000}});
        auto broken = downloadTo(request(), m_destination);
        ASSERT_TRUE(broken.failure);
        ASSERT_EQ(fs::file_size(partial()), 180000u);
    }
    std::string partial() const { return m_home / "folder/.image.dmg.kelvane-partial"; }
    std::vector<std::string> rangesAsked() {
        std::vector<std::string> ranges;
        for (auto& r : m_server.requestsFor("/image"))
            ranges.push_back(r["headers"].value("Range", std::string("whole")));
        return ranges;
    }

    std::string m_contents;
    std::string m_image = m_home / "image.bin";
    std::string m_destination = m_home / "folder/image.dmg";
};

TEST_F(Downloads, ABrokenDownloadIsKeptPrivatelyAndTheNextTryFetchesOnlyTheRest) {
    breakAtSixtyPercent();
    // Both the bytes and their record, which holds the address, are the user's alone.
    for (const std::string& kept : {partial(), partial() + "-record"}) {
        struct stat about {};
        ASSERT_EQ(::stat(kept.c_str(), &about), 0) << kept;
        EXPECT_EQ(about.st_mode & 0777, 0600u) << kept;
    }

    serve({});
    std::string received;
    auto rest = downloadTo(request(), m_destination, &received);
    EXPECT_FALSE(rest.failure) << rest.failure->description;
    EXPECT_EQ(rest.resumedFrom, std::optional<std::uint64_t>(180000));
    EXPECT_EQ(rest.bytes, m_contents.size());
    EXPECT_TRUE(received == m_contents) << "the continued file is not the image";
    EXPECT_EQ(m_server.bytesSentFor("/image"), m_contents.size());
    auto tries = m_server.requestsFor("/image");
    ASSERT_EQ(tries.size(), 2u);
    EXPECT_EQ(tries[1]["headers"]["Range"], "bytes=180000-");
    // Validated by the file's ETag, a quoted text.
    EXPECT_EQ(tries[1]["headers"].value("If-Range", std::string()).front(), '"');
    EXPECT_TRUE(fs::is_empty(m_home / "folder")) << "a finished download leaves no partial";
}

TEST_F(Downloads, AChangedFileA200OrAnotherAddressStartsOver) {
    struct Case {
        const char* what;
        nlohmann::json second;  // the answer to the next try
        std::string path;
    };
    for (const Case& c : {Case{"changed ETag", {{"etag", "\"another\""}}, "/image"},
                          Case{"200 to a range", {{"ignoreRange", true}}, "/image"},
                          Case{"another address", {}, "/image?v=2"}}) {
        SCOPED_TRACE(c.what);
        m_server.clearRequests();
        breakAtSixtyPercent();
        serve(c.second);
        std::string received;
        auto whole = downloadTo(request(c.path), m_destination, &received);
        EXPECT_FALSE(whole.failure);
        EXPECT_FALSE(whole.resumedFrom);
        EXPECT_TRUE(received == m_contents);
        EXPECT_EQ(m_server.bytesSentFor("/image"), 180000u + m_contents.size());
        EXPECT_TRUE(fs::is_empty(m_home / "folder"));
    }
}

// Only a 206 for the rest continues the kept bytes and only a whole 200 replaces them: any
// other answer to the range request is that try's result, as it would be without them, and
// the next try still fetches only the rest.
TEST_F(Downloads, KeptBytesOutlastAnyOtherAnswerToTheirRangeRequest) {
    struct Case {
        const char* what;
        nlohmann::json answer;  // to the range request
        std::optional<HttpFailure> failure;
        long status;
    };
    const std::string unavailable = "Service Temporarily Unavailable";
    for (const Case& c :
         {Case{"503", {{"status", 503}, {"body", unavailable}}, std::nullopt, 503},
          Case{"sign-in page",
               {{"body", "<html>Sign in first</html>"}, {"contentType", "text/html"}},
               HttpFailure::signInPage,
               200},
          Case{"200 cut short",
               {{"file", m_image}, {"ignoreRange", true}, {"truncateAfter", 50000}},
               HttpFailure::transport,
               200}}) {
        SCOPED_TRACE(c.what);
        m_server.clearRequests();
        breakAtSixtyPercent();
        const std::string record = partial() + "-record";
        const std::string keptRecord = readFile(record);
        struct stat before {};
        ASSERT_EQ(::stat(partial().c_str(), &before), 0);

        serve({{"rangeAnswer", c.answer}});
        HttpRequest image = request();
        image.expectedBody = platform::ExpectedBody::diskImage;
        std::string received;
        auto failed = downloadTo(image, m_destination, &received);
        EXPECT_EQ(kindOf(failed.failure), c.failure) << descriptionOf(failed.failure);
        EXPECT_EQ(failed.statusCode, c.status);
        EXPECT_FALSE(failed.resumedFrom);
        if (!c.failure) {
            EXPECT_EQ(received, unavailable) << "the answer is the try's result";
        }
        struct stat after {};
        ASSERT_EQ(::stat(partial().c_str(), &after), 0) << "the kept bytes are gone";
        EXPECT_EQ(after.st_size, 180000);
        EXPECT_EQ(after.st_mtim.tv_sec, before.st_mtim.tv_sec);
        EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
        EXPECT_TRUE(readFile(partial()) == m_contents.substr(0, 180000));
        EXPECT_EQ(readFile(record), keptRecord);

        serve({});
        auto rest = downloadTo(request(), m_destination, &received);
        EXPECT_FALSE(rest.failure) << descriptionOf(rest.failure);
        EXPECT_EQ(rest.resumedFrom, std::optional<std::uint64_t>(180000));
        EXPECT_TRUE(received == m_contents) << "the continued file is not the image";
        auto tries = m_server.requestsFor("/image");
        ASSERT_EQ(tries.size(), 3u);
        EXPECT_EQ(rangesAsked(),
                  (std::vector<std::string>{"whole", "bytes=180000-", "bytes=180000-"}));
        // Continued, not restarted: apart from the answer that failed, every byte came once.
        EXPECT_EQ(m_server.bytesSentFor("/image") - tries[1]["bytesSent"].get<std::uint64_t>(),
                  m_contents.size());
        EXPECT_TRUE(fs::is_empty(m_home / "folder"));
    }
}

// The end of the process while a whole answer replaces the kept bytes: they stay, for the
// next start to continue.
TEST_F(Downloads, KeptBytesOutlastTheEndOfTheProcessDuringAWholeAnswer) {
    breakAtSixtyPercent();
    serve(
        {{"rangeAnswer", {{"file", m_image}, {"ignoreRange", true}, {"bytesPerSecond", 100000}}}});
    std::promise<platform::DownloadResult> done;
    HttpClient::shared().download(request(), m_destination,
                                  [&](const platform::DownloadResult& r) { done.set_value(r); });
    ASSERT_TRUE(waitUntil(
        [&] {
            auto tries = m_server.requestsFor("/image");
            return tries.size() == 2 && tries[1]["bytesSent"].get<std::uint64_t>() >= 30000;
        },
        10));
    HttpClient::shared().removeUnfinishedDownloads();
    EXPECT_EQ(fs::file_size(partial()), 180000u);
    EXPECT_TRUE(readFile(partial()) == m_contents.substr(0, 180000));
    // The transfer itself runs to its end, and leaves the kept bytes alone.
    auto ended = done.get_future().get();
    EXPECT_TRUE(ended.location.empty());
    EXPECT_EQ(fs::file_size(partial()), 180000u);
    serve({});
    EXPECT_EQ(downloadTo(request(), m_destination).resumedFrom,
              std::optional<std::uint64_t>(180000));
}

// What the client checks itself: a server that ignores If-Range and answers the range of a
// changed file (another ETag) is not appended to the kept bytes; the file starts over.
TEST_F(Downloads, ARangeOfAChangedFileIsNotAppended) {
    breakAtSixtyPercent();
    serve({{"ignoreIfRange", true}, {"etag", "\"changed\""}});
    std::string received;
    auto whole = downloadTo(request(), m_destination, &received);
    EXPECT_FALSE(whole.failure) << descriptionOf(whole.failure);
    EXPECT_FALSE(whole.resumedFrom) << "a changed file was appended to the kept bytes";
    EXPECT_TRUE(received == m_contents) << "the file is not the image";
}

// A continued download's progress counts the kept bytes too: once the answer has come, the bar
// goes on from where the last try stopped, never back to nothing.
TEST_F(Downloads, AContinuedDownloadsProgressStartsAtTheKeptBytes) {
    breakAtSixtyPercent();
    serve({{"bytesPerSecond", 120000}});
    std::vector<std::uint64_t> reports;  // of the answer, whose size is announced
    std::mutex mutex;
    HttpRequest continued = request();
    continued.progress = [&](std::uint64_t received, std::optional<std::uint64_t> expected) {
        std::lock_guard lock(mutex);
        if (!expected) return;  // asked, no answer yet
        reports.push_back(received);
        EXPECT_EQ(*expected, m_contents.size());
    };
    auto rest = downloadTo(continued, m_destination);
    EXPECT_EQ(rest.resumedFrom, std::optional<std::uint64_t>(180000));
    std::lock_guard lock(mutex);
    ASSERT_FALSE(reports.empty());
    EXPECT_GE(*std::min_element(reports.begin(), reports.end()), 180000u)
        << "the progress counted from nothing";
}

// A weak ETag cannot validate a range: Last-Modified does when there is one; without it
// nothing is kept.
TEST_F(Downloads, AWeakETagIsNeverTheValidator) {
    std::string date = "Wed, 01 Jan 2025 00:00:00 GMT";
    serve({{"etag", "W/\"weak\""}, {"lastModified", date}, {"truncateAfter", 180000}});
    ASSERT_TRUE(downloadTo(request(), m_destination).failure);
    serve({{"etag", "W/\"weak\""}, {"lastModified", date}});
    EXPECT_EQ(downloadTo(request(), m_destination).resumedFrom,
              std::optional<std::uint64_t>(180000));
    EXPECT_EQ(m_server.requestsFor("/image")[1]["headers"]["If-Range"], date);

    serve({{"etag", "W/\"weak\""}, {"truncateAfter", 180000}});
    ASSERT_TRUE(downloadTo(request(), m_destination).failure);
    EXPECT_TRUE(fs::is_empty(m_home / "folder")) << "kept with nothing to validate it";
}

// An answer cut for being too large leaves nothing to continue.
TEST_F(Downloads, NothingIsKeptOfATooLargeAnswer) {
    serve({{"chunked", true}});
    HttpRequest bounded = request();
    bounded.maximumBodyBytes = 100000;
    auto tooLarge = downloadTo(bounded, m_destination);
    EXPECT_EQ(kindOf(tooLarge.failure), HttpFailure::tooLarge);
    EXPECT_TRUE(fs::is_empty(m_home / "folder")) << "a too-large answer was kept";
}

TEST_F(Downloads, OnlyAPartialThatCanBeValidatedAndIsRecentIsContinued) {
    // A day-old partial starts over.
    breakAtSixtyPercent();
    struct utimbuf old {};
    old.actime = old.modtime = std::time(nullptr) - 25 * 60 * 60;
    ASSERT_EQ(::utime(partial().c_str(), &old), 0);
    serve({});
    EXPECT_FALSE(downloadTo(request(), m_destination).resumedFrom);

    // Without an ETag, Last-Modified validates the rest.
    m_server.clearRequests();
    std::string date = "Wed, 01 Jan 2025 00:00:00 GMT";
    serve({{"etag", false}, {"lastModified", date}, {"truncateAfter", 180000}});
    ASSERT_TRUE(downloadTo(request(), m_destination).failure);
    serve({{"etag", false}, {"lastModified", date}});
    EXPECT_EQ(downloadTo(request(), m_destination).resumedFrom,
              std::optional<std::uint64_t>(180000));
    EXPECT_EQ(m_server.requestsFor("/image")[1]["headers"]["If-Range"], date);

    // Without either, nothing can be continued and nothing is kept.
    serve({{"etag", false}, {"truncateAfter", 180000}});
    ASSERT_TRUE(downloadTo(request(), m_destination).failure);
    EXPECT_TRUE(fs::is_empty(m_home / "folder"));
}

TEST_F(Downloads, ASlowLineThatKeepsMovingIsNeverCutAndTheLimitFollowsTheSize) {
    // A whole-request limit as short as the idle time-out would have cut this 3 s download.
    m_server.setRoutes({{"/slow", {{"repeatBytes", 48000}, {"bytesPerSecond", 16000}}}});
    HttpRequest slow = request("/slow");
    slow.timeoutSeconds = 2;
    slow.totalSeconds = 2;
    auto result = downloadTo(slow, m_destination);
    EXPECT_FALSE(result.failure) << result.failure->description;
    EXPECT_EQ(result.bytes, 48000u);

    // 200 MB at the useful rate of 1 KiB/s: the bound is days, never half an hour.
    EXPECT_DOUBLE_EQ(platform::downloadTimeLimitSeconds(200 * 1024 * 1024, 1 << 30, 240),
                     240 + 200 * 1024);
    EXPECT_DOUBLE_EQ(platform::downloadTimeLimitSeconds(std::nullopt, 10240, 240), 250);
}

// Networks that answer in the server's place, and certificates this system does not trust,
// fail with a reason that says which.
TEST_F(Downloads, SignInPagesAndUntrustedCertificatesAreToldApart) {
    SubstituteServer portal;
    portal.setRoutes(
        {{"/login", {{"body", "<html>sign in</html>"}, {"contentType", "text/html"}}}});
    trust(m_server);
    const std::string page =
        "\n  <!DOCTYPE html><html><body>Sign in to Harbour Wi-Fi</body></html>";
    m_server.setRoutes(
        {{"/html", {{"body", "<html>Welcome</html>"}, {"contentType", "text/html"}}},
         // Told by what arrives: a page is one whatever its label.
         {"/unlabelled", {{"body", page}, {"contentType", "application/octet-stream"}}},
         {"/large", {{"body", page + std::string(100000, ' ')}, {"contentType", "text/html"}}},
         {"/511", {{"status", 511}, {"body", "sign in"}}},
         {"/moved", {{"status", 302}, {"location", "https://" + portal.host() + "/login"}}},
         {"/missing",
          {{"status", 404}, {"body", "<html>gone</html>"}, {"contentType", "text/html"}}}});
    // The portal's certificate comes from another authority: both are trusted for this part.
    std::string both = m_home / "both.pem";
    writeFile(both, readFile(m_server.caPath()) + readFile(portal.caPath()));
    m_environment.set("SSL_CERT_FILE", both);
    for (const char* path : {"/html", "/unlabelled", "/large", "/511", "/moved"}) {
        HttpRequest api = request(path);
        api.expectedBody = platform::ExpectedBody::jsonObject;
        auto answer = HttpClient::shared().get(api);
        EXPECT_EQ(kindOf(answer.failure), HttpFailure::signInPage) << path;
        EXPECT_THAT(descriptionOf(answer.failure), HasSubstr("sign-in page")) << path;
        HttpRequest image = request(path);
        image.expectedBody = platform::ExpectedBody::diskImage;
        EXPECT_EQ(kindOf(downloadTo(image, m_destination).failure), HttpFailure::signInPage)
            << path;
    }
    // The server's own error page is its answer, and a page where one is expected is fine.
    HttpRequest missing = request("/missing");
    missing.expectedBody = platform::ExpectedBody::jsonObject;
    auto notFound = HttpClient::shared().get(missing);
    EXPECT_FALSE(notFound.failure);
    EXPECT_EQ(notFound.statusCode, 404);
    EXPECT_FALSE(HttpClient::shared().get(request("/html")).failure);

    m_environment.set("SSL_CERT_FILE", portal.caPath());
    auto untrusted = HttpClient::shared().get(request("/html"));
    EXPECT_EQ(kindOf(untrusted.failure), HttpFailure::untrustedCertificate);
    EXPECT_THAT(descriptionOf(untrusted.failure), HasSubstr("is not trusted by this system"));
    EXPECT_TRUE(fs::is_empty(m_home / "folder"));
}

// Servers label JSON and images as HTML: what arrives is the answer when it is what the request
// expects, whatever the label says; anything else labelled as a page is a sign-in page.
TEST_F(Downloads, TheBodyNotItsLabelTellsTheServersAnswer) {
    const nlohmann::json answer = {{"representation", {{"update", false}}}};
    m_server.setRoutes(
        {{"/json", {{"json", answer}, {"contentType", "text/html; charset=utf-8"}}},
         {"/list", {{"json", nlohmann::json::array({answer})}, {"contentType", "text/html"}}},
         {"/text", {{"body", "not json"}}},
         {"/agent.dmg", {{"file", KELVANE_AGENT_IMAGE}, {"contentType", "text/html"}}}});
    HttpRequest api = request("/json");
    api.expectedBody = platform::ExpectedBody::jsonObject;
    auto json = HttpClient::shared().get(api);
    EXPECT_FALSE(json.failure) << descriptionOf(json.failure);
    EXPECT_EQ(nlohmann::json::parse(json.body, nullptr, false), answer);

    // Only a JSON object is an API answer; a body that is no page is the server's all the same.
    api.url = request("/list").url;
    EXPECT_EQ(kindOf(HttpClient::shared().get(api).failure), HttpFailure::signInPage);
    api.url = request("/text").url;
    auto text = HttpClient::shared().get(api);
    EXPECT_FALSE(text.failure) << descriptionOf(text.failure);
    EXPECT_EQ(text.body, "not json");

    HttpRequest image = request("/agent.dmg");
    image.expectedBody = platform::ExpectedBody::diskImage;
    image.maximumBodyBytes = 1 << 30;
    std::string received;
    auto downloaded = downloadTo(image, m_destination, &received);
    EXPECT_FALSE(downloaded.failure) << descriptionOf(downloaded.failure);
    EXPECT_TRUE(received == readFile(KELVANE_AGENT_IMAGE)) << "the image arrived whole";
    // JSON is no image.
    image.url = request("/json").url;
    EXPECT_EQ(kindOf(downloadTo(image, m_destination).failure), HttpFailure::signInPage);
    EXPECT_TRUE(fs::is_empty(m_home / "folder"));
}
