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
#include "Transfer.h"

namespace platform {

namespace {

class CurlHttpClient final : public HttpClient {
  public:
    HttpResponse get(const HttpRequest& request) override {
        HttpResponse response;
        curl::Transfer transfer;
        transfer.body = &response.body;
        std::optional<HttpProxy> proxy = proxyFor(request.url);
        curl::Outcome outcome = curl::perform(request, transfer, proxy);
        tellIfProxyAsked(proxy, outcome.failure);
        response.statusCode = outcome.statusCode;
        response.failure = std::move(outcome.failure);
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

    DownloadResult downloadNow(const HttpRequest& request, const std::string& destination) {
        DownloadResult result;
        std::filesystem::path target(destination);
        // The name follows the file manager's pattern for work in progress.
        std::string location =
            (target.parent_path() / ("." + target.filename().string() + ".kelvane-copying-" +
                                     std::to_string(::getpid()) + "-XXXXXX"))
                .string();
        support::FileDescriptor fd(::mkostemp(location.data(), O_CLOEXEC));
        if (!fd) {
            result.failure =
                Failure(HttpFailure::transport, "cannot create a file for the download beside " +
                                                    destination + ": " + std::strerror(errno));
            return result;
        }
        curl::Transfer transfer;
        // An earlier try's bytes take the new file's place.
        if (auto earlier = partial::claim(destination, request.url, location)) {
            fd.replace(::open(location.c_str(), O_RDWR | O_CLOEXEC));
            transfer.offset = earlier->bytes;
            transfer.askedValidator = earlier->record.validator;
            transfer.resumable = earlier->record;
        }
        m_kept.add(location, destination, transfer.resumable);
        transfer.fd = fd.get();
        transfer.onResumable = [this, location](const std::optional<partial::Record>& record) {
            m_kept.update(location, record);
        };
        std::optional<HttpProxy> proxy = proxyFor(request.url);
        curl::Outcome outcome =
            fd ? curl::perform(request, transfer, proxy)
               : curl::Outcome{0, Failure(HttpFailure::transport, "cannot open the download")};
        if (transfer.startOverOnce) {
            // The server would not continue what was there: one try for the whole file.
            curl::Transfer whole;
            whole.fd = fd.get();
            whole.onResumable = transfer.onResumable;
            transfer = std::move(whole);
            outcome = curl::perform(request, transfer, proxy);
        }
        struct stat about {};
        bool measured = fd && ::fstat(fd.get(), &about) == 0;
        bool closed = fd && fd.reset() == 0;
        result.statusCode = outcome.statusCode;
        result.failure = std::move(outcome.failure);
        result.bytes = measured ? static_cast<std::uint64_t>(about.st_size) : 0;
        if (transfer.continuing) result.resumedFrom = transfer.offset;
        if (!result.failure && !closed)
            result.failure = Failure(HttpFailure::transport, "cannot write the download");
        tellIfProxyAsked(proxy, result.failure);
        // Gone: the end of the process has dealt with the file already.
        if (!m_kept.finish(location)) return result;
        if (result.failure) {
            std::optional<partial::Record> resumable = transfer.resumable;
            if (result.failure->is(HttpFailure::tooLarge)) resumable.reset();
            curl::KeptDownloads::keepOrRemove(location, destination, resumable);
        } else {
            result.location = location;
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
