#include "Transfer.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "../../Url.h"
#include "../support/WriteAll.h"
#include "CurlOwned.h"
#include "FailureClassification.h"
#include "SignInPage.h"

namespace platform::curl {

namespace {

struct CurlGlobal {
    CurlGlobal() { curl_global_init(CURL_GLOBAL_DEFAULT); }
};

// A download's progress reaches its watcher a few times a second at most.
constexpr auto kProgressInterval = std::chrono::milliseconds(250);
constexpr long kDownloadBufferBytes = 512 * 1024;

size_t receiveHeader(char* data, size_t size, size_t count, void* userData) {
    static_cast<Transfer*>(userData)->headers.read(std::string(data, size * count));
    return size * count;
}

std::string tooLargeText(const Transfer& transfer) {
    return "the download is larger than " + std::to_string(transfer.request->maximumBodyBytes) +
           " bytes: " + transfer.request->url;
}

// The first `bytes` of a download's file (a continued one's kept bytes first), as it stands.
std::optional<std::string> fileStart(int fd, std::uint64_t bytes) {
    std::string head(bytes, '\0');
    std::size_t read = 0;
    while (read < head.size()) {
        ssize_t n = ::pread(fd, head.data() + read, head.size() - read, static_cast<off_t>(read));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return std::nullopt;
        if (n == 0) break;
        read += static_cast<std::size_t>(n);
    }
    head.resize(read);
    return head;
}

// Once enough of the body is there (or all of it, when it `ended` shorter), it tells whether
// a sign-in page answered: false stops the transfer.
bool judge(Transfer& transfer, bool ended) {
    const HttpRequest& request = *transfer.request;
    const std::uint64_t needed = bytesToJudge(request.expectedBody);
    const bool toFile = transfer.fd >= 0;
    const std::uint64_t arrived =
        toFile ? transfer.before() + transfer.written : transfer.body->size();
    if (arrived < needed && !ended) return true;
    transfer.judged = true;
    std::optional<std::string> written;
    if (toFile && !(written = fileStart(transfer.output(), std::min(arrived, needed))))
        return transfer.stop(HttpFailure::transport, "cannot read the download");
    std::string_view head = toFile ? std::string_view(*written) : std::string_view(*transfer.body);
    if (!isSignInPage(request, transfer.headers, head.substr(0, needed))) return true;
    transfer.abort = signInPageFailure(request, effectiveUrl(transfer.handle));
    // The page is no answer of the server's to hand over, nor anything to continue.
    if (toFile) {
        transfer.resumable.reset();
        if (transfer.onResumable) transfer.onResumable(transfer.resumable);
    } else {
        transfer.body->clear();
    }
    return false;
}

// The first body bytes have come: is this the answer, and where do they go?
bool decide(Transfer& transfer) {
    transfer.decided = true;
    const HttpRequest& request = *transfer.request;
    std::string answeredBy = effectiveUrl(transfer.handle);
    switch (judgeStatus(request, transfer.headers, answeredBy, transfer.host)) {
        case SignInVerdict::signInPage:
            transfer.abort = signInPageFailure(request, answeredBy);
            return false;
        case SignInVerdict::serverAnswer:
            transfer.judged = true;
            break;
        case SignInVerdict::byTheBody:
            break;
    }
    if (transfer.fd < 0) return true;
    const ResponseHeaders& headers = transfer.headers;
    const std::uint64_t limit = request.maximumBodyBytes;
    if (transfer.kept && headers.status == 206) {
        const partial::Record& kept = *transfer.kept;
        auto range = ContentRange::parse(headers.contentRange);
        bool sameFile =
            headers.etag.empty() || kept.validator.front() != '"' || headers.etag == kept.validator;
        if (range && range->first == transfer.offset && sameFile && range->total == kept.total) {
            transfer.continuing = true;
            transfer.resumable = kept;
            if (range->total > limit)
                return transfer.stop(HttpFailure::tooLarge, tooLargeText(transfer));
            if (::lseek(transfer.keptFd, 0, SEEK_END) < 0)
                return transfer.stop(HttpFailure::transport, "cannot write the download");
            return true;
        }
        transfer.startOverOnce = true;
        return transfer.stop(HttpFailure::transport,
                             "the server continued the download at another byte or of another "
                             "file");
    }
    // Anything else is a whole body, from its first byte, in the file of its own.
    if (::ftruncate(transfer.fd, 0) != 0 || ::lseek(transfer.fd, 0, SEEK_SET) != 0)
        return transfer.stop(HttpFailure::transport, "cannot write the download");
    transfer.resumable.reset();
    if (headers.contentLength && *headers.contentLength > limit)
        return transfer.stop(HttpFailure::tooLarge, tooLargeText(transfer));
    if (headers.status == 200 && !headers.validator().empty() && headers.contentLength) {
        transfer.resumable =
            partial::Record{request.url, headers.validator(), *headers.contentLength};
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
        std::uint64_t whole = transfer->before() + transfer->written + length;
        // Without an announced length, the bound is checked as the bytes come.
        if (whole > limit) {
            transfer->overflowed = true;
            return transfer->stop(HttpFailure::tooLarge, tooLargeText(*transfer));
        }
        if (transfer->resumable && whole > transfer->resumable->total) {
            return transfer->stop(HttpFailure::transport,
                                  "the server sent more than the size it announced");
        }
        if (!writeAll(transfer->output(), data, length))
            return transfer->stop(
                HttpFailure::transport,
                std::string("cannot write the download: ") + std::strerror(errno));
        transfer->written += length;
    } else {
        if (transfer->body->size() + length > limit) {
            transfer->overflowed = true;
            return 0;  // aborts the transfer with a write error
        }
        transfer->body->append(data, length);
    }
    if (!transfer->judged && !judge(*transfer, false)) return 0;
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
        transfer->abort = Failure(HttpFailure::stalled,
                                  "the download took longer than its size allows at a useful rate");
        return 1;
    }
    if (!request.progress || now - transfer->lastReport < kProgressInterval) return 0;
    transfer->lastReport = now;
    std::uint64_t before = transfer->before();
    request.progress(before + static_cast<std::uint64_t>(received),
                     announced ? std::optional<std::uint64_t>(before + *announced) : std::nullopt);
    return 0;
}

Outcome failed(Failure why, long status = 0) {
    return Outcome{status, std::move(why)};
}

}  // namespace

Outcome perform(const HttpRequest& request, Transfer& transfer,
                const std::optional<HttpProxy>& proxy) {
    static CurlGlobal global;
    if (!Url::isValid(request.url))
        return failed(Failure(HttpFailure::transport, "invalid URL: " + request.url));
    Easy handle(curl_easy_init());
    if (!handle) return failed(Failure(HttpFailure::transport, "cannot create a transfer"));
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
    if (request.acceptAnyCertificate) {
        curl_easy_setopt(h, CURLOPT_SSL_VERIFYPEER, 0L);
        curl_easy_setopt(h, CURLOPT_SSL_VERIFYHOST, 0L);
    }
    HeaderList headers;
    auto addHeader = [&](const std::string& line) {
        headers.replace(curl_slist_append(headers.take(), line.c_str()));
    };
    for (const auto& [name, value] : request.headers) addHeader(name + ": " + value);
    if (toFile && transfer.kept && transfer.offset > 0) {
        addHeader("Range: bytes=" + std::to_string(transfer.offset) + "-");
        addHeader("If-Range: " + transfer.kept->validator);
    }
    if (headers) curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers.get());

    CURLcode result = curl_easy_perform(h);
    long status = 0;
    curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &status);
    if (transfer.abort) return failed(*transfer.abort, status);
    // A body cut at its bound is still the server's answer; the caller sees it was cut.
    if (result == CURLE_OK || (!toFile && transfer.overflowed)) {
        // An answer without a body is looked at too (a 511 has none to speak of), and one
        // shorter than what tells it apart is judged on all it has.
        if ((!transfer.decided && !decide(transfer)) ||
            (!transfer.judged && !judge(transfer, true))) {
            return failed(*transfer.abort, status);
        }
        return Outcome{status, {}};
    }
    Failure why = classify(h, result, errorBuffer, request, proxy);
    // A proxy's refusal comes before any answer of the server's.
    bool beforeTheServer =
        why.is(HttpFailure::proxyAuthenticationRequired) || why.is(HttpFailure::proxyRefused);
    return failed(std::move(why), beforeTheServer ? 0 : status);
}

}  // namespace platform::curl
