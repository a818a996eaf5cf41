#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <thread>

#include "../../Http.h"
#include "../../ProxyResolver.h"
#include "../support/Owned.h"
#include "KeptDownloads.h"
#include "ResponseCache.h"
#include "Transfer.h"

namespace platform {

namespace {

class CurlHttpClient final : public HttpClient {
  public:
    HttpResponse get(const HttpRequest& request) override {
        bool cached = request.cachePolicy == CachePolicy::returnCacheDataElseLoad;
        if (cached) {
            if (auto body = curl::ResponseCache::keptBody(request.url)) {
                HttpResponse kept;
                kept.statusCode = 200;
                kept.body = std::move(*body);
                return kept;
            }
        }
        HttpResponse response;
        curl::Transfer transfer;
        transfer.body = &response.body;
        std::optional<HttpProxy> proxy = proxyFor(request.url);
        curl::Outcome outcome = curl::perform(request, transfer, proxy);
        tellIfProxyAsked(proxy, outcome.failure);
        response.statusCode = outcome.statusCode;
        response.failure = std::move(outcome.failure);
        response.bodyTruncated = transfer.overflowed;
        if (cached && response.statusCode == 200 && !response.failure && !response.bodyTruncated &&
            !transfer.headers.noStore) {
            curl::ResponseCache::keep(request.url, response.body);
        }
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

    void removeUnfinishedDownloads() override { m_kept.keepOrRemoveAll(); }

    void setProxyChooser(ProxyChooser chooser) override {
        std::lock_guard lock(m_mutex);
        m_chooser = std::move(chooser);
    }

    void setProxyAuthenticationObserver(
        std::function<void(const HttpProxy& proxy)> observer) override {
        std::lock_guard lock(m_mutex);
        m_proxyObserver = std::move(observer);
    }

  private:
    void tellIfProxyAsked(const std::optional<HttpProxy>& proxy,
                          const std::optional<Failure>& failure) {
        if (!proxy || !failure || !failure->is(HttpFailure::proxyAuthenticationRequired)) return;
        std::function<void(const HttpProxy&)> observer;
        {
            std::lock_guard lock(m_mutex);
            observer = m_proxyObserver;
        }
        if (observer) observer(*proxy);
    }

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

    // A new hidden file beside `destination`, for work under way; the name follows the file
    // manager's pattern for it and carries this process's id.
    static std::string hiddenFileBeside(const std::string& destination,
                                        support::FileDescriptor& fd) {
        std::filesystem::path target(destination);
        std::string location =
            (target.parent_path() / ("." + target.filename().string() + ".kelvane-copying-" +
                                     std::to_string(::getpid()) + "-XXXXXX"))
                .string();
        fd.replace(::mkostemp(location.data(), O_CLOEXEC));
        return location;
    }

    DownloadResult downloadNow(const HttpRequest& request, const std::string& destination) {
        DownloadResult result;
        // The answer's body goes here, from its first byte.
        support::FileDescriptor fd;
        std::string location = hiddenFileBeside(destination, fd);
        if (!fd) {
            result.failure =
                Failure(HttpFailure::transport, "cannot create a file for the download beside " +
                                                    destination + ": " + std::strerror(errno));
            return result;
        }
        curl::Transfer transfer;
        transfer.fd = fd.get();
        // An earlier try's bytes move to a file of their own: only a 206 that continues them
        // writes there, and only a whole 200 answer replaces them.
        support::FileDescriptor keptFd;
        std::string keptLocation = hiddenFileBeside(destination, keptFd);
        std::optional<partial::Continuation> earlier;
        if (keptFd) {
            earlier = partial::claim(destination, request.url, keptLocation);
            if (earlier) keptFd.replace(::open(keptLocation.c_str(), O_RDWR | O_CLOEXEC));
            if (!earlier || !keptFd) ::unlink(keptLocation.c_str());
        }
        if (earlier && keptFd) {
            transfer.keptFd = keptFd.get();
            transfer.offset = earlier->bytes;
            transfer.kept = earlier->record;
            m_kept.add(keptLocation, destination, transfer.kept);
        } else {
            (void)keptFd.reset();
            keptLocation.clear();
        }
        m_kept.add(location, destination, std::nullopt);
        // At the end of the process a whole answer under way is kept only where it spoils
        // nothing: kept bytes stay as they were.
        transfer.onResumable = [this, &transfer, location,
                                keptLocation](const std::optional<partial::Record>& record) {
            if (transfer.continuing)
                m_kept.update(keptLocation, record);
            else if (keptLocation.empty())
                m_kept.update(location, record);
        };
        std::optional<HttpProxy> proxy = proxyFor(request.url);
        curl::Outcome outcome = curl::perform(request, transfer, proxy);
        if (transfer.startOverOnce) {
            // The server would not continue what was there: one try for the whole file.
            curl::Transfer whole;
            whole.fd = fd.get();
            whole.onResumable = std::move(transfer.onResumable);
            transfer = std::move(whole);
            outcome = curl::perform(request, transfer, proxy);
        }
        const bool continued = transfer.continuing;
        // The file that holds this answer; the other one is no part of it.
        std::string answer = continued ? keptLocation : location;
        support::FileDescriptor& answerFd = continued ? keptFd : fd;
        struct stat about {};
        bool measured = answerFd && ::fstat(answerFd.get(), &about) == 0;
        bool closed = answerFd && answerFd.reset() == 0;
        (void)fd.reset();
        (void)keptFd.reset();
        result.statusCode = outcome.statusCode;
        result.failure = std::move(outcome.failure);
        result.bytes = measured ? static_cast<std::uint64_t>(about.st_size) : 0;
        if (continued) result.resumedFrom = transfer.offset;
        if (!result.failure && !closed)
            result.failure = Failure(HttpFailure::transport, "cannot write the download");
        tellIfProxyAsked(proxy, result.failure);
        // Gone: the end of the process has dealt with the files already.
        if (!m_kept.finish({location, keptLocation})) return result;
        if (continued) {
            ::unlink(location.c_str());
        } else if (!keptLocation.empty()) {
            // Only a whole 200 answer replaces the kept bytes; after any other they stay as
            // they were, for the next try.
            if (!result.failure && result.statusCode == 200)
                ::unlink(keptLocation.c_str());
            else
                curl::KeptDownloads::keepOrRemove(keptLocation, destination, earlier->record);
        }
        if (!result.failure) {
            result.location = answer;
        } else if (!continued && !keptLocation.empty()) {
            ::unlink(answer.c_str());
        } else {
            std::optional<partial::Record> resumable = transfer.resumable;
            if (result.failure->is(HttpFailure::tooLarge)) resumable.reset();
            curl::KeptDownloads::keepOrRemove(answer, destination, resumable);
        }
        return result;
    }

    std::mutex m_mutex;  // guards m_chooser and m_proxyObserver
    ProxyChooser m_chooser;
    std::function<void(const HttpProxy& proxy)> m_proxyObserver;
    curl::KeptDownloads m_kept;
};

}  // namespace

HttpClient& HttpClient::shared() {
    // Never destroyed: detached transfers may still be finishing while the process exits.
    static CurlHttpClient* client = new CurlHttpClient();
    return replacedOr(*client);
}

}  // namespace platform
