#include <curl/curl.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

#include "../Http.h"
#include "../ProxyResolver.h"
#include "../Url.h"
#include "PartialDownload.h"
#include "WriteAll.h"

namespace platform {

namespace {

struct CurlGlobal {
    CurlGlobal() { curl_global_init(CURL_GLOBAL_DEFAULT); }
};

struct EasyFree {
    void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};
using EasyPtr = std::unique_ptr<CURL, EasyFree>;

struct SlistFree {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
using SlistPtr = std::unique_ptr<curl_slist, SlistFree>;

// A download's progress reaches its watcher a few times a second at most.
constexpr auto kProgressInterval = std::chrono::milliseconds(250);
constexpr long kDownloadBufferBytes = 512 * 1024;

bool startsWithNoCase(const std::string& text, const char* prefix) {
    return strncasecmp(text.c_str(), prefix, std::strlen(prefix)) == 0;
}

std::string trimmed(std::string text) {
    while (!text.empty() && (text.back() == '\r' || text.back() == '\n' || text.back() == ' '))
        text.pop_back();
    std::size_t start = text.find_first_not_of(' ');
    return start == std::string::npos ? std::string() : text.substr(start);
}

// What the headers of the answer being received said. A new status line (the next answer
// after a redirect) starts afresh.
struct ResponseHeaders {
    long status = 0;
    std::string etag, lastModified, contentType, contentRange;
    std::optional<std::uint64_t> contentLength;

    // What a later request can name in If-Range: a strong ETag, else the modification date.
    std::string validator() const {
        if (!etag.empty() && etag.rfind("W/", 0) != 0) return etag;
        return lastModified;
    }
};

// "bytes FIRST-LAST/TOTAL"
struct ContentRange {
    std::uint64_t first = 0, total = 0;
};
std::optional<ContentRange> parseContentRange(const std::string& text) {
    unsigned long long first = 0, last = 0, total = 0;
    if (std::sscanf(text.c_str(), "bytes %llu-%llu/%llu", &first, &last, &total) != 3 ||
        last < first || last >= total) {
        return std::nullopt;
    }
    return ContentRange{first, total};
}

// One transfer's state, shared with curl's callbacks.
struct Transfer {
    CURL* handle = nullptr;
    const HttpRequest* request = nullptr;
    std::string host;  // host:port of the address asked for
    ResponseHeaders headers;
    bool decided = false;  // the answer's body has been looked at
    // Set by a callback that stopped the transfer: why.
    HttpFailure abortFailure = HttpFailure::none;
    std::string abortText;

    // An answer held in memory.
    std::string* body = nullptr;
    bool overflowed = false;

    // A download into a file. `offset` bytes of an earlier try are on disk when it continues.
    int fd = -1;
    std::uint64_t offset = 0;
    std::uint64_t written = 0;
    std::string askedValidator;                // If-Range's value; empty for a whole download
    bool continuing = false;                   // the server sent the rest
    bool startOverOnce = false;                // it sent another part: one more try for the whole
    std::optional<partial::Record> resumable;  // what the bytes on disk can be continued as
    // Hears every change of `resumable`, "nothing" included, for the end of the process.
    std::function<void(const std::optional<partial::Record>&)> onResumable;

    std::chrono::steady_clock::time_point started = std::chrono::steady_clock::now();
    std::chrono::steady_clock::time_point lastReport{};

    bool stop(HttpFailure failure, std::string text) {
        abortFailure = failure;
        abortText = std::move(text);
        return false;
    }
};

size_t receiveHeader(char* data, size_t size, size_t count, void* userData) {
    auto* transfer = static_cast<Transfer*>(userData);
    std::string line(data, size * count);
    if (line.rfind("HTTP/", 0) == 0) {
        transfer->headers = ResponseHeaders{};
        std::size_t blank = line.find(' ');
        if (blank != std::string::npos) transfer->headers.status = std::atol(line.c_str() + blank);
        return size * count;
    }
    std::size_t colon = line.find(':');
    if (colon == std::string::npos) return size * count;
    std::string name = line.substr(0, colon);
    std::string value = trimmed(line.substr(colon + 1));
    ResponseHeaders& headers = transfer->headers;
    if (strcasecmp(name.c_str(), "ETag") == 0) headers.etag = value;
    if (strcasecmp(name.c_str(), "Last-Modified") == 0) headers.lastModified = value;
    if (strcasecmp(name.c_str(), "Content-Type") == 0) headers.contentType = value;
    if (strcasecmp(name.c_str(), "Content-Range") == 0) headers.contentRange = value;
    if (strcasecmp(name.c_str(), "Content-Length") == 0) {
        char* end = nullptr;
        unsigned long long length = std::strtoull(value.c_str(), &end, 10);
        if (end && *end == '\0' && !value.empty()) headers.contentLength = length;
    }
    return size * count;
}

// A network that wants its customers to sign in first answers in place of the server: with
// 511, or with an HTML page where the request never expects one.
bool isSignInPage(const Transfer& transfer) {
    if (!transfer.request->htmlMeansSignInPage) return false;
    const ResponseHeaders& headers = transfer.headers;
    if (headers.status == 511) return true;
    if (!startsWithNoCase(headers.contentType, "text/html")) return false;
    char* effective = nullptr;
    curl_easy_getinfo(transfer.handle, CURLINFO_EFFECTIVE_URL, &effective);
    auto answeredBy = Url::hostAndPort(effective ? effective : "");
    bool elsewhere = answeredBy && *answeredBy != transfer.host;
    return elsewhere || (headers.status >= 200 && headers.status < 300);
}

std::string signInPageText(const Transfer& transfer) {
    char* effective = nullptr;
    curl_easy_getinfo(transfer.handle, CURLINFO_EFFECTIVE_URL, &effective);
    return std::string("a network sign-in page answered instead of the server (") +
           (effective ? effective : transfer.request->url) +
           "): the network may ask to sign in through a web browser first";
}

// The first body bytes have come: is this the answer, and where do they go?
bool decide(Transfer& transfer) {
    transfer.decided = true;
    if (isSignInPage(transfer))
        return transfer.stop(HttpFailure::signInPage, signInPageText(transfer));
    if (transfer.fd < 0) return true;
    const ResponseHeaders& headers = transfer.headers;
    const std::uint64_t limit = transfer.request->maximumBodyBytes;
    auto tooLarge = [&] {
        return transfer.stop(HttpFailure::tooLarge, "the download is larger than " +
                                                        std::to_string(limit) +
                                                        " bytes: " + transfer.request->url);
    };
    if (transfer.offset > 0 && headers.status == 206) {
        auto range = parseContentRange(headers.contentRange);
        bool sameFile = headers.etag.empty() || transfer.askedValidator.front() != '"' ||
                        headers.etag == transfer.askedValidator;
        if (range && range->first == transfer.offset && sameFile && transfer.resumable &&
            range->total == transfer.resumable->total) {
            transfer.continuing = true;
            if (range->total > limit) return tooLarge();
            return ::lseek(transfer.fd, 0, SEEK_END) >= 0;
        }
        transfer.startOverOnce = true;
        return transfer.stop(HttpFailure::transport,
                             "the server continued the download at another byte or of another "
                             "file");
    }
    // Anything else is the whole body, from its first byte.
    if (::ftruncate(transfer.fd, 0) != 0 || ::lseek(transfer.fd, 0, SEEK_SET) != 0)
        return transfer.stop(HttpFailure::transport, "cannot write the download");
    transfer.offset = 0;
    transfer.resumable.reset();
    if (headers.contentLength && *headers.contentLength > limit) return tooLarge();
    if (headers.status == 200 && !headers.validator().empty() && headers.contentLength) {
        transfer.resumable =
            partial::Record{transfer.request->url, headers.validator(), *headers.contentLength};
    }
    if (transfer.onResumable) transfer.onResumable(transfer.resumable);
    return true;
}

size_t receive(char* data, size_t size, size_t count, void* userData) {
    auto* transfer = static_cast<Transfer*>(userData);
    size_t length = size * count;
    if (!transfer->decided && !decide(*transfer)) return 0;
    const std::uint64_t limit = transfer->request->maximumBodyBytes;
    if (transfer->fd >= 0) {
        std::uint64_t whole = transfer->offset + transfer->written + length;
        // Without an announced length, the bound is checked as the bytes come.
        if (whole > limit) {
            transfer->overflowed = true;
            return transfer->stop(HttpFailure::tooLarge, "the download is larger than " +
                                                             std::to_string(limit) +
                                                             " bytes: " + transfer->request->url);
        }
        if (transfer->resumable && whole > transfer->resumable->total) {
            return transfer->stop(HttpFailure::transport,
                                  "the server sent more than the size it announced");
        }
        if (!writeAll(transfer->fd, data, length))
            return transfer->stop(
                HttpFailure::transport,
                std::string("cannot write the download: ") + std::strerror(errno));
        transfer->written += length;
        return length;
    }
    if (transfer->body->size() + length > limit) {
        transfer->overflowed = true;
        return 0;  // aborts the transfer with a write error
    }
    transfer->body->append(data, length);
    return length;
}

int watchDownload(void* data, curl_off_t expected, curl_off_t received, curl_off_t, curl_off_t) {
    auto* transfer = static_cast<Transfer*>(data);
    const HttpRequest& request = *transfer->request;
    std::optional<std::uint64_t> announced;
    if (expected > 0) announced = static_cast<std::uint64_t>(expected);
    auto now = std::chrono::steady_clock::now();
    double elapsed = std::chrono::duration<double>(now - transfer->started).count();
    if (elapsed >
        downloadTimeLimitSeconds(announced, request.maximumBodyBytes, request.timeoutSeconds)) {
        transfer->abortFailure = HttpFailure::stalled;
        transfer->abortText = "the download took longer than its size allows at a useful rate";
        return 1;
    }
    if (!request.progress || now - transfer->lastReport < kProgressInterval) return 0;
    transfer->lastReport = now;
    std::uint64_t before = transfer->continuing ? transfer->offset : 0;
    request.progress(before + static_cast<std::uint64_t>(received),
                     announced ? std::optional<std::uint64_t>(before + *announced) : std::nullopt);
    return 0;
}

struct Outcome {
    long statusCode = 0;
    std::optional<std::string> error;
    HttpFailure failure = HttpFailure::none;
};

Outcome failed(HttpFailure failure, std::string text, long status = 0) {
    return Outcome{status, std::move(text), failure};
}

// Why a transfer that curl ended with `result` failed, in words a customer can act on.
Outcome classify(CURL* h, CURLcode result, const char* errorBuffer, const HttpRequest& request,
                 const std::optional<HttpProxy>& proxy, long status) {
    long connectCode = 0;
    curl_easy_getinfo(h, CURLINFO_HTTP_CONNECTCODE, &connectCode);
    std::string detail = *errorBuffer ? errorBuffer : curl_easy_strerror(result);
    std::string proxyName = proxy ? proxy->address() : "";
    std::string server = Url::hostAndPort(request.url).value_or(request.url);
    if (proxy && connectCode == 407) {
        return failed(HttpFailure::proxyAuthenticationRequired,
                      proxy->userName ? "the proxy " + proxyName +
                                            " did not accept the user name and password stored "
                                            "for it (407 Proxy Authentication Required)"
                                      : "the proxy " + proxyName +
                                            " asks for a user name and password (407 Proxy "
                                            "Authentication Required)");
    }
    if (proxy && connectCode >= 300) {
        return failed(HttpFailure::proxyRefused,
                      "the proxy " + proxyName + " refused to connect to " + server + " (status " +
                          std::to_string(connectCode) + ")");
    }
    if (proxy && result == CURLE_COULDNT_RESOLVE_PROXY)
        return failed(HttpFailure::proxyRefused, "the proxy " + proxyName + " cannot be found");
    if (proxy && (result == CURLE_COULDNT_CONNECT || result == CURLE_PROXY)) {
        return failed(HttpFailure::proxyRefused,
                      "the proxy " + proxyName + " cannot be reached: " + detail);
    }
    if (result == CURLE_PEER_FAILED_VERIFICATION) {
        return failed(HttpFailure::untrustedCertificate,
                      "the certificate of " + server + " is not trusted by this system (" + detail +
                          "); a network that inspects connections may present its own",
                      status);
    }
    if (result == CURLE_UNSUPPORTED_PROTOCOL) {
        char* address = nullptr;
        curl_easy_getinfo(h, CURLINFO_EFFECTIVE_URL, &address);
        return failed(
            HttpFailure::cleartextRefused,
            std::string("cleartext HTTP is refused: ") + (address ? address : request.url), status);
    }
    if (result == CURLE_OPERATION_TIMEDOUT) return failed(HttpFailure::stalled, detail, status);
    return failed(HttpFailure::transport, detail, status);
}

// Runs one transfer. `transfer` holds where the body goes.
Outcome perform(const HttpRequest& request, Transfer& transfer,
                const std::optional<HttpProxy>& proxy) {
    static CurlGlobal global;
    if (!Url::isValid(request.url))
        return failed(HttpFailure::transport, "invalid URL: " + request.url);
    EasyPtr handle(curl_easy_init());
    if (!handle) return failed(HttpFailure::transport, "cannot create a transfer");
    char errorBuffer[CURL_ERROR_SIZE] = {};
    CURL* h = handle.get();
    transfer.handle = h;
    transfer.request = &request;
    transfer.host = Url::hostAndPort(request.url).value_or("");
    const bool toFile = transfer.fd >= 0;
    curl_easy_setopt(h, CURLOPT_URL, request.url.c_str());
    curl_easy_setopt(h, CURLOPT_HTTPGET, 1L);
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(h, CURLOPT_MAXREDIRS, 10L);
    // Cleartext is refused, on the first request and on every redirect: what is downloaded is
    // run afterwards.
    curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "https");
    curl_easy_setopt(h, CURLOPT_REDIR_PROTOCOLS_STR, "https");
    // The one proxy decision; curl's own reading of the environment is switched off, the
    // desktop's resolver has read it already.
    curl_easy_setopt(h, CURLOPT_PROXY, proxy ? proxy->address().c_str() : "");
    curl_easy_setopt(h, CURLOPT_NOPROXY, "");
    if (proxy && proxy->userName) {
        curl_easy_setopt(h, CURLOPT_PROXYUSERNAME, proxy->userName->c_str());
        curl_easy_setopt(h, CURLOPT_PROXYPASSWORD, proxy->password.value_or("").c_str());
        curl_easy_setopt(h, CURLOPT_PROXYAUTH, CURLAUTH_ANY);
    }
    curl_easy_setopt(h, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
    // Small answers may come compressed; they are decoded within their bound. A download is
    // stored as sent: a compressed one would expand beyond any bound announced for it.
    if (!toFile) curl_easy_setopt(h, CURLOPT_ACCEPT_ENCODING, "");
    if (toFile) {
        // Large reads: a download of hundreds of megabytes is then as quick as the line.
        curl_easy_setopt(h, CURLOPT_BUFFERSIZE, kDownloadBufferBytes);
        curl_easy_setopt(h, CURLOPT_XFERINFOFUNCTION, watchDownload);
        curl_easy_setopt(h, CURLOPT_XFERINFODATA, &transfer);
        curl_easy_setopt(h, CURLOPT_NOPROGRESS, 0L);
    }
    curl_easy_setopt(h, CURLOPT_ERRORBUFFER, errorBuffer);
    curl_easy_setopt(h, CURLOPT_HEADERFUNCTION, receiveHeader);
    curl_easy_setopt(h, CURLOPT_HEADERDATA, &transfer);
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, receive);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, &transfer);
    long seconds = std::max(1L, std::lround(request.timeoutSeconds));
    curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT, seconds);
    // A transfer that stays below a useful rate for the whole time-out ends as one that
    // stalled: a server that drips a byte now and then cannot hold it open for ever.
    curl_easy_setopt(h, CURLOPT_LOW_SPEED_LIMIT, static_cast<long>(kUsefulBytesPerSecond));
    curl_easy_setopt(h, CURLOPT_LOW_SPEED_TIME, seconds);
    // An answer held in memory is small: its whole time is bounded. A download's bound
    // follows from its size (watchDownload).
    if (!toFile) {
        curl_easy_setopt(h, CURLOPT_TIMEOUT_MS,
                         std::max(1000L, std::lround(request.totalSeconds * 1000)));
    }
    if (const char* authorities = std::getenv("SSL_CERT_FILE"); authorities && *authorities) {
        curl_easy_setopt(h, CURLOPT_CAINFO, authorities);
        curl_easy_setopt(h, CURLOPT_PROXY_CAINFO, authorities);
    }
    SlistPtr headers;
    auto addHeader = [&](const std::string& line) {
        headers.reset(curl_slist_append(headers.release(), line.c_str()));
    };
    for (const auto& [name, value] : request.headers) addHeader(name + ": " + value);
    if (toFile && transfer.offset > 0) {
        addHeader("Range: bytes=" + std::to_string(transfer.offset) + "-");
        addHeader("If-Range: " + transfer.askedValidator);
    }
    if (headers) curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers.get());

    CURLcode result = curl_easy_perform(h);
    long status = 0;
    curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &status);
    if (transfer.abortFailure != HttpFailure::none)
        return failed(transfer.abortFailure, transfer.abortText, status);
    // An answer without a body is looked at too (a 511 has none to speak of).
    if (!transfer.decided && result == CURLE_OK && !decide(transfer))
        return failed(transfer.abortFailure, transfer.abortText, status);
    // A body cut at its bound is still the server's answer; the caller sees it was cut.
    if (result == CURLE_OK || (!toFile && transfer.overflowed)) return Outcome{status, {}, {}};
    return classify(h, result, errorBuffer, request, proxy, status);
}

class CurlHttpClient final : public HttpClient {
  public:
    HttpResponse get(const HttpRequest& request) override {
        HttpResponse response;
        Transfer transfer;
        transfer.body = &response.body;
        Outcome outcome = perform(request, transfer, proxyFor(request.url));
        response.statusCode = outcome.statusCode;
        response.error = outcome.error;
        response.failure = outcome.failure;
        response.bodyTruncated = transfer.overflowed;
        return response;
    }

    void getAsync(HttpRequest request, std::function<void(HttpResponse)> completion) override {
        std::thread([this, request = std::move(request), completion = std::move(completion)] {
            completion(get(request));
        }).detach();
    }

    void download(HttpRequest request, const std::string& destination,
                  std::function<void(const DownloadResult&)> completion) override {
        std::thread([this, request = std::move(request), destination,
                     completion = std::move(completion)] {
            DownloadResult result = downloadNow(request, destination);
            completion(result);
            if (!result.location.empty()) ::unlink(result.location.c_str());
        }).detach();
    }

    void removeUnfinishedDownloads() override {
        std::lock_guard lock(m_mutex);
        for (const auto& [location, unfinished] : m_unfinished) keepOrRemove(location, unfinished);
        m_unfinished.clear();
    }

    void setProxyChooser(ProxyChooser chooser) override {
        std::lock_guard lock(m_mutex);
        m_chooser = std::move(chooser);
    }

  private:
    struct Unfinished {
        std::string destination;
        std::optional<partial::Record> resumable;
    };

    std::optional<HttpProxy> proxyFor(const std::string& url) {
        ProxyChooser chooser;
        {
            std::lock_guard lock(m_mutex);
            chooser = m_chooser;
        }
        if (chooser) return chooser(url);
        // Without a chooser: the desktop's settings; when they cannot be read, no proxy.
        return ProxyResolver::shared().proxyFor(url).value_or(std::nullopt);
    }

    // What a broken download fetched stays where it can be continued; anything else goes.
    static void keepOrRemove(const std::string& location, const Unfinished& unfinished) {
        struct stat about {};
        bool kept = unfinished.resumable && ::stat(location.c_str(), &about) == 0 &&
                    about.st_size > 0 &&
                    static_cast<std::uint64_t>(about.st_size) < unfinished.resumable->total &&
                    partial::keep(location, unfinished.destination, *unfinished.resumable);
        if (!kept) ::unlink(location.c_str());
    }

    DownloadResult downloadNow(const HttpRequest& request, const std::string& destination) {
        DownloadResult result;
        std::filesystem::path target(destination);
        // The name follows the file manager's pattern for work in progress.
        std::string location =
            (target.parent_path() / ("." + target.filename().string() + ".kelvane-copying-" +
                                     std::to_string(::getpid()) + "-XXXXXX"))
                .string();
        int fd = ::mkostemp(location.data(), O_CLOEXEC);
        if (fd < 0) {
            result.error = "cannot create a file for the download beside " + destination + ": " +
                           std::strerror(errno);
            result.failure = HttpFailure::transport;
            return result;
        }
        Transfer transfer;
        // An earlier try's bytes take the new file's place.
        if (auto earlier = partial::claim(destination, request.url, location)) {
            ::close(fd);
            fd = ::open(location.c_str(), O_RDWR | O_CLOEXEC);
            transfer.offset = earlier->bytes;
            transfer.askedValidator = earlier->record.validator;
            transfer.resumable = earlier->record;
        }
        {
            std::lock_guard lock(m_mutex);
            m_unfinished[location] = Unfinished{destination, transfer.resumable};
        }
        transfer.fd = fd;
        transfer.onResumable = [this, location](const std::optional<partial::Record>& record) {
            std::lock_guard lock(m_mutex);
            if (auto it = m_unfinished.find(location); it != m_unfinished.end())
                it->second.resumable = record;
        };
        std::optional<HttpProxy> proxy = proxyFor(request.url);
        Outcome outcome = fd >= 0 ? perform(request, transfer, proxy)
                                  : failed(HttpFailure::transport, "cannot open the download");
        if (transfer.startOverOnce) {
            // The server would not continue what was there: one try for the whole file.
            Transfer whole;
            whole.fd = fd;
            whole.onResumable = transfer.onResumable;
            transfer = std::move(whole);
            outcome = perform(request, transfer, proxy);
        }
        struct stat about {};
        bool measured = fd >= 0 && ::fstat(fd, &about) == 0;
        bool closed = fd >= 0 && ::close(fd) == 0;
        result.statusCode = outcome.statusCode;
        result.error = outcome.error;
        result.failure = outcome.failure;
        result.bytes = measured ? static_cast<std::uint64_t>(about.st_size) : 0;
        if (transfer.continuing) result.resumedFrom = transfer.offset;
        if (!result.error && !closed) {
            result.error = "cannot write the download";
            result.failure = HttpFailure::transport;
        }
        {
            std::lock_guard lock(m_mutex);
            // Gone: the end of the process has dealt with the file already.
            if (m_unfinished.erase(location) == 0) return result;
        }
        if (result.error) {
            Unfinished unfinished{destination, transfer.resumable};
            if (result.failure == HttpFailure::tooLarge) unfinished.resumable.reset();
            keepOrRemove(location, unfinished);
        } else {
            result.location = location;
        }
        return result;
    }

    std::mutex m_mutex;
    std::map<std::string, Unfinished> m_unfinished;  // files of downloads under way
    ProxyChooser m_chooser;
};

}  // namespace

HttpClient& HttpClient::shared() {
    // Never destroyed: detached transfers may still be finishing while the process exits.
    static CurlHttpClient* client = new CurlHttpClient();
    return replacedOr(*client);
}

namespace Url {

bool isValid(const std::string& text) {
    return hostAndPort(text).has_value();
}

std::optional<std::string> hostAndPort(const std::string& text) {
    CURLU* url = curl_url();
    if (!url) return std::nullopt;
    std::optional<std::string> result;
    if (curl_url_set(url, CURLUPART_URL, text.c_str(), 0) == CURLUE_OK) {
        char* host = nullptr;
        char* port = nullptr;
        if (curl_url_get(url, CURLUPART_HOST, &host, 0) == CURLUE_OK && host && *host) {
            result = host;
            if (curl_url_get(url, CURLUPART_PORT, &port, 0) == CURLUE_OK && port) {
                *result += std::string(":") + port;
            }
        }
        curl_free(host);
        curl_free(port);
    }
    curl_url_cleanup(url);
    return result;
}

}  // namespace Url

}  // namespace platform
