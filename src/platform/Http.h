#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "Replaceable.h"

namespace platform {

struct HttpRequest {
    std::string url;
    std::vector<std::pair<std::string, std::string>> headers;
    // Idle time-out: the request fails when no byte arrives for this long (as macOS's
    // URL sessions count it), including while connecting, and also when fewer than a useful
    // 1 KiB a second arrive for this long.
    double timeoutSeconds = 60;
    // Limit on the whole request, however busy the transfer: a server that keeps sending just
    // fast enough cannot hold it open for ever either.
    double totalSeconds = 120;
    // Bodies held in memory stop here: the response keeps what arrived up to the bound and
    // says it was cut. A download larger than this fails instead, before a byte is written
    // when the server announces its length.
    std::uint64_t maximumBodyBytes = 4 * 1024 * 1024;
    // Downloads only: told the bytes received so far and, when the server announced it, the
    // whole size; on the transfer's thread, a few times a second at most.
    std::function<void(std::uint64_t received, std::optional<std::uint64_t> expected)> progress;
};

struct HttpResponse {
    long statusCode = 0;  // 0: no HTTP response arrived
    std::string body;
    std::optional<std::string> error;  // transport failure, apart from the HTTP status
    bool bodyTruncated = false;        // the body reached the request's bound and was cut there
};

struct DownloadResult {
    long statusCode = 0;
    std::uint64_t bytes = 0;
    std::optional<std::string> error;
    // The downloaded body in a hidden file beside the destination (the same folder, so moving
    // it there is a rename), valid while the completion runs; removed afterwards if still
    // there. Empty on failure, when nothing of the download is left.
    std::string location;
};

// The system's own HTTPS requests. Certificates are always verified; SSL_CERT_FILE, when set,
// names the certificate authorities to trust. Cleartext http:// is refused, also when a
// redirect leads there. A transfer slower than a useful rate for the whole time-out fails.
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
    virtual void download(HttpRequest request, const std::string& destination,
                          std::function<void(const DownloadResult&)> completion) = 0;
    // Removes the files of downloads still under way; for the end of the process, which does
    // not wait for them.
    virtual void removeUnfinishedDownloads() = 0;
};

}  // namespace platform
