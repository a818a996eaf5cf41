#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "CachePolicy.h"
#include "Replaceable.h"
#include "Status.h"

namespace platform {

// Below this a transfer is not getting anywhere: a stall when it lasts the whole idle time-out.
inline constexpr std::uint64_t kUsefulBytesPerSecond = 1024;

// The longest a download of `announcedBytes` (else of `maximumBytes`, when the server does not
// say) may take: the idle time-out plus the whole at the useful rate. A line that moves faster
// than the useful rate always finishes inside it, however slow it is; one that stays slower for
// the idle time-out has stalled before.
inline double downloadTimeLimitSeconds(std::optional<std::uint64_t> announcedBytes,
                                       std::uint64_t maximumBytes, double idleSeconds) {
    return idleSeconds + static_cast<double>(announcedBytes.value_or(maximumBytes)) /
                             static_cast<double>(kUsefulBytesPerSecond);
}

// A proxy a request goes through. Credentials travel only to the proxy and are never shown.
struct HttpProxy {
    std::string scheme;  // http, https, socks4, socks4a, socks5, socks5h
    std::string host;
    int port = 0;
    std::optional<std::string> userName;
    std::optional<std::string> password;

    // scheme://host:port, without credentials: safe to log.
    std::string address() const { return scheme + "://" + host + ":" + std::to_string(port); }
    bool operator==(const HttpProxy&) const = default;
};

// Which proxy a request to `url` goes through; absent: none, straight to the server.
using ProxyChooser = std::function<std::optional<HttpProxy>(const std::string& url)>;

// The kinds of Failure a request ends with, for the reason a customer can act on.
enum class HttpFailure {
    transport,                    // no connection, a broken transfer, a time-out
    stalled,                      // below the useful rate for the idle time-out, or too long
    tooLarge,                     // above the request's bound
    cleartextRefused,             // http:// asked for or redirected to
    untrustedCertificate,         // the server's certificate is not trusted here
    proxyAuthenticationRequired,  // the proxy answered 407
    proxyRefused,                 // the proxy could not be found, reached, or would not connect
    signInPage,                   // a network sign-in page (captive portal) answered instead
};

// What a request's answer must hold. A network's sign-in page answers in the server's place
// with a 511, or with a page (HTML by its label or by its first bytes) where this was expected:
// such an answer, when its status says success or it came from another host after redirects,
// fails the request as `signInPage`. The label alone never decides: servers label JSON as HTML.
enum class ExpectedBody {
    anything,    // every answer is the server's own
    jsonObject,  // an API answer, judged whole: a JSON object
    diskImage,   // an image, judged by the file's first bytes: an ISO 9660 volume descriptor
};

struct HttpRequest {
    std::string url;
    std::vector<std::pair<std::string, std::string>> headers;
    // Idle time-out: the request fails when no byte arrives for this long (as macOS's
    // URL sessions count it), including while connecting, and also when fewer than the useful
    // rate arrive for this long.
    double timeoutSeconds = 60;
    // Limit on the whole of a GET, however busy the transfer: a server that keeps sending just
    // fast enough cannot hold it open for ever either. A download's limit follows from its
    // size instead (downloadTimeLimitSeconds).
    double totalSeconds = 120;
    // Bodies held in memory stop here: the response keeps what arrived up to the bound and
    // says it was cut. A download larger than this fails instead, before a byte is written
    // when the server announces its length.
    std::uint64_t maximumBodyBytes = 4 * 1024 * 1024;
    // What the answer must hold; a page in its place is a network's sign-in page.
    ExpectedBody expectedBody = ExpectedBody::anything;
    // Downloads only: told the bytes of the whole received so far (a continued download's
    // earlier bytes included) and, when the server announced it, the whole size; on the
    // transfer's thread, a few times a second at most.
    std::function<void(std::uint64_t received, std::optional<std::uint64_t> expected)> progress;
    // Whether the server's certificate goes unchecked, as the join page's web view accepts
    // it: only for the check that the join page's server can be reached, which sends and
    // reads nothing but the answer's status.
    bool acceptAnyCertificate = false;
    // GETs only. With returnCacheDataElseLoad a kept 200 answer for the address is the answer,
    // and a new 200 answer is kept (unless the server says "no-store").
    CachePolicy cachePolicy = CachePolicy::useProtocolCachePolicy;
};

struct HttpResponse {
    long statusCode = 0;  // 0: no HTTP response arrived
    std::string body;
    // A transport failure (kind: HttpFailure), apart from the HTTP status.
    std::optional<Failure> failure;
    bool bodyTruncated = false;  // the body reached the request's bound and was cut there
};

struct DownloadResult {
    long statusCode = 0;
    std::uint64_t bytes = 0;  // bytes of the whole file, a continued download's earlier ones too
    std::optional<Failure> failure;  // kind: HttpFailure
    // Set when this transfer continued an earlier, broken one: the byte it started from.
    std::optional<std::uint64_t> resumedFrom;
    // The downloaded body in a hidden file beside the destination (the same folder, so moving
    // it there is a rename), valid while the completion runs; removed afterwards if still
    // there. Empty on failure.
    std::string location;
};

// The system's own HTTPS requests. Certificates are verified (unless a request says
// otherwise: acceptAnyCertificate); SSL_CERT_FILE, when set,
// names the certificate authorities to trust. Cleartext http:// is refused, also when a
// redirect leads there. A transfer slower than the useful rate for the whole time-out fails.
// Every request goes through the proxy its chooser names (by default the desktop's proxy
// settings, as ProxyResolver reads them); the environment's proxy variables are read only
// through that.
class HttpClient : public Replaceable<HttpClient> {
  public:
    virtual ~HttpClient() = default;

    static HttpClient& shared();

    // Blocks the calling thread until the answer or the failure.
    virtual HttpResponse get(const HttpRequest& request) = 0;
    // Returns at once; `completion` runs exactly once, on a worker thread.
    virtual void getAsync(HttpRequest request, std::function<void(HttpResponse)> completion) = 0;
    // Streams the body, as sent (never asked for compressed nor decoded), into a hidden file
    // beside `destination`, never holding it in memory; `completion` runs exactly once, on a
    // worker thread, and may move the file to the destination. The hidden file carries this
    // process's id, so one a killed process left is recognised and removed at a later start.
    //
    // A broken download whose server named a validator (a strong ETag, else Last-Modified)
    // and its size is kept beside the destination as `.<name>.kelvane-partial` (0600, one per
    // destination, for one address); the next download of the same address to the same
    // destination asks only for the rest (Range, with If-Range). Only a 206 for the rest
    // continues it, and only a whole 200 answer (a changed validator, or a server without
    // ranges) replaces it; any other answer (an error status, a sign-in page, a broken
    // transfer) is this try's result and leaves the partial as it was. Another address or a
    // partial untouched for a day start over.
    virtual void download(HttpRequest request, const std::string& destination,
                          std::function<void(const DownloadResult&)> completion) = 0;
    // For the end of the process, which does not wait for downloads under way: what they
    // fetched is kept as a partial where it can be continued, else removed.
    virtual void removeUnfinishedDownloads() = 0;

    // Puts `chooser` in charge of every later request's proxy; an empty one restores the
    // default. Called on the thread that performs each transfer.
    virtual void setProxyChooser(ProxyChooser chooser) = 0;
    // Told, on the transfer's thread, of every proxy that answered a request with 407 (with
    // the credentials the request offered it, if any), before the request's own completion.
    virtual void setProxyAuthenticationObserver(
        std::function<void(const HttpProxy& proxy)> observer) = 0;
};

}  // namespace platform
