#include <curl/curl.h>
#include <stdio.h>
#include <unistd.h>

#include <fcntl.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <mutex>
#include <set>
#include <thread>

#include "../Http.h"
#include "../Url.h"

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

struct BodySink {
    std::string* body = nullptr;
    std::uint64_t limit = 0;
    bool overflowed = false;
    FILE* file = nullptr;
    std::uint64_t written = 0;
    const HttpRequest* request = nullptr;
    std::chrono::steady_clock::time_point lastReport{};
};

// A download's progress reaches its watcher a few times a second at most.
constexpr auto kProgressInterval = std::chrono::milliseconds(250);

int reportProgress(void* data, curl_off_t expected, curl_off_t received, curl_off_t, curl_off_t) {
    auto* sink = static_cast<BodySink*>(data);
    auto now = std::chrono::steady_clock::now();
    if (now - sink->lastReport < kProgressInterval) return 0;
    sink->lastReport = now;
    sink->request->progress(static_cast<std::uint64_t>(received),
                            expected > 0 ? std::optional<std::uint64_t>(expected) : std::nullopt);
    return 0;
}

size_t receive(char* data, size_t size, size_t count, void* userData) {
    auto* sink = static_cast<BodySink*>(userData);
    size_t length = size * count;
    if (sink->file) {
        // Without an announced length, the bound is checked as the bytes come.
        if (sink->written + length > sink->limit) {
            sink->overflowed = true;
            return 0;
        }
        if (std::fwrite(data, 1, length, sink->file) != length) return 0;
        sink->written += length;
        return length;
    }
    if (sink->body->size() + length > sink->limit) {
        sink->overflowed = true;
        return 0;  // aborts the transfer with a write error
    }
    sink->body->append(data, length);
    return length;
}

constexpr long kUsefulBytesPerSecond = 1024;
constexpr long kDownloadBufferBytes = 512 * 1024;

// Runs one transfer; fills status and error.
void perform(const HttpRequest& request, BodySink& sink, long& statusCode,
             std::optional<std::string>& error) {
    static CurlGlobal global;
    statusCode = 0;
    if (!Url::isValid(request.url)) {
        error = "invalid URL: " + request.url;
        return;
    }
    EasyPtr handle(curl_easy_init());
    if (!handle) {
        error = "cannot create a transfer";
        return;
    }
    char errorBuffer[CURL_ERROR_SIZE] = {};
    CURL* h = handle.get();
    curl_easy_setopt(h, CURLOPT_URL, request.url.c_str());
    curl_easy_setopt(h, CURLOPT_HTTPGET, 1L);
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(h, CURLOPT_MAXREDIRS, 10L);
    // Cleartext is refused, on the first request and on every redirect: what is downloaded is
    // run afterwards.
    curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "https");
    curl_easy_setopt(h, CURLOPT_REDIR_PROTOCOLS_STR, "https");
    // Small answers may come compressed; they are decoded within their bound. A download is
    // stored as sent: a compressed one would expand beyond any bound announced for it.
    if (!sink.file) curl_easy_setopt(h, CURLOPT_ACCEPT_ENCODING, "");
    if (sink.file) {
        curl_easy_setopt(h, CURLOPT_MAXFILESIZE_LARGE,
                         static_cast<curl_off_t>(request.maximumBodyBytes));
        // Large reads: a download of hundreds of megabytes is then as quick as the line.
        curl_easy_setopt(h, CURLOPT_BUFFERSIZE, kDownloadBufferBytes);
        if (request.progress) {
            sink.request = &request;
            curl_easy_setopt(h, CURLOPT_XFERINFOFUNCTION, reportProgress);
            curl_easy_setopt(h, CURLOPT_XFERINFODATA, &sink);
            curl_easy_setopt(h, CURLOPT_NOPROGRESS, 0L);
        }
    }
    curl_easy_setopt(h, CURLOPT_ERRORBUFFER, errorBuffer);
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, receive);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, &sink);
    long seconds = std::max(1L, std::lround(request.timeoutSeconds));
    curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT, seconds);
    // A transfer that stays below a useful rate for the whole time-out ends as one that
    // stalled: a server that drips a byte now and then cannot hold it open for ever.
    curl_easy_setopt(h, CURLOPT_LOW_SPEED_LIMIT, kUsefulBytesPerSecond);
    curl_easy_setopt(h, CURLOPT_LOW_SPEED_TIME, seconds);
    curl_easy_setopt(h, CURLOPT_TIMEOUT_MS,
                     std::max(1000L, std::lround(request.totalSeconds * 1000)));
    if (const char* authorities = std::getenv("SSL_CERT_FILE"); authorities && *authorities) {
        curl_easy_setopt(h, CURLOPT_CAINFO, authorities);
    }
    SlistPtr headers;
    for (const auto& [name, value] : request.headers) {
        std::string line = name + ": " + value;
        headers.reset(curl_slist_append(headers.release(), line.c_str()));
    }
    if (headers) curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers.get());

    CURLcode result = curl_easy_perform(h);
    curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &statusCode);
    // A body cut at its bound is still the server's answer; the caller sees it was cut. A
    // download cut at its bound is a failure.
    if (sink.file && (sink.overflowed || result == CURLE_FILESIZE_EXCEEDED)) {
        error = "the download is larger than " + std::to_string(request.maximumBodyBytes) +
                " bytes: " + request.url;
        return;
    }
    if (result != CURLE_OK && !sink.overflowed) {
        if (result == CURLE_UNSUPPORTED_PROTOCOL) {
            char* address = nullptr;
            curl_easy_getinfo(h, CURLINFO_EFFECTIVE_URL, &address);
            error = std::string("cleartext HTTP is refused: ") + (address ? address : request.url);
        } else {
            error =
                *errorBuffer ? std::string(errorBuffer) : std::string(curl_easy_strerror(result));
        }
    }
}

class CurlHttpClient final : public HttpClient {
  public:
    HttpResponse get(const HttpRequest& request) override {
        HttpResponse response;
        BodySink sink{&response.body, request.maximumBodyBytes};
        perform(request, sink, response.statusCode, response.error);
        response.bodyTruncated = sink.overflowed;
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
            if (!result.location.empty()) {
                ::unlink(result.location.c_str());
                forget(result.location);
            }
        }).detach();
    }

    void removeUnfinishedDownloads() override {
        std::lock_guard lock(m_mutex);
        for (const std::string& path : m_unfinished) ::unlink(path.c_str());
        m_unfinished.clear();
    }

  private:
    DownloadResult downloadNow(const HttpRequest& request, const std::string& destination) {
        DownloadResult result;
        std::filesystem::path target(destination);
        // The name follows the file manager's pattern for work in progress.
        std::string location =
            (target.parent_path() / ("." + target.filename().string() + ".kelvane-copying-" +
                                     std::to_string(::getpid()) + "-XXXXXX"))
                .string();
        int fd = ::mkostemp(location.data(), O_CLOEXEC);
        FILE* file = fd >= 0 ? ::fdopen(fd, "wb") : nullptr;
        // Each read goes to the file in one write.
        if (file) std::setvbuf(file, nullptr, _IONBF, 0);
        if (!file) {
            result.error = "cannot create a file for the download beside " + destination + ": " +
                           std::strerror(errno);
            if (fd >= 0) {
                ::close(fd);
                ::unlink(location.c_str());
            }
            return result;
        }
        {
            std::lock_guard lock(m_mutex);
            m_unfinished.insert(location);
        }
        BodySink sink;
        sink.file = file;
        sink.limit = request.maximumBodyBytes;
        perform(request, sink, result.statusCode, result.error);
        bool closed = std::fclose(file) == 0;
        result.bytes = sink.written;
        if (!result.error && !closed) result.error = "cannot write the download";
        if (result.error) {
            ::unlink(location.c_str());
            forget(location);
        } else {
            result.location = location;
        }
        return result;
    }

    void forget(const std::string& location) {
        std::lock_guard lock(m_mutex);
        m_unfinished.erase(location);
    }

    std::mutex m_mutex;
    std::set<std::string> m_unfinished;  // files of downloads under way
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
