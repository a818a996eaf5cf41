#pragma once

#include <curl/curl.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "../../Http.h"
#include "PartialDownload.h"
#include "ResponseHeaders.h"

namespace platform::curl {

// One transfer's state, shared with curl's callbacks.
struct Transfer {
    CURL* handle = nullptr;
    const HttpRequest* request = nullptr;
    std::string host;  // host:port of the address asked for
    ResponseHeaders headers;
    bool decided = false;  // the answer's headers have been looked at: where its body goes
    // The body is known to be no sign-in page (or the request expects anything).
    bool judged = false;
    // Set by a callback that stopped the transfer: why.
    std::optional<Failure> abort;

    // An answer held in memory.
    std::string* body = nullptr;
    bool overflowed = false;

    // A download into files (the caller owns the descriptors). `fd` takes a whole answer from
    // its first byte. `keptFd` holds `offset` bytes of an earlier try, which `kept` describes;
    // only a 206 that continues them is written there, so no other answer can spoil them.
    int fd = -1;
    int keptFd = -1;
    std::optional<partial::Record> kept;
    std::uint64_t offset = 0;
    std::uint64_t written = 0;   // bytes of this answer
    bool continuing = false;     // the server sent the rest of the kept bytes
    bool startOverOnce = false;  // it sent another part: one more try for the whole
    // What the file being written can be continued as.
    std::optional<partial::Record> resumable;
    // Hears every change of `resumable`, "nothing" included, for the end of the process.
    std::function<void(const std::optional<partial::Record>&)> onResumable;

    std::chrono::steady_clock::time_point started = std::chrono::steady_clock::now();
    std::chrono::steady_clock::time_point lastReport{};

    // The file this answer's body goes to, and the bytes of the whole already in it.
    int output() const { return continuing ? keptFd : fd; }
    std::uint64_t before() const { return continuing ? offset : 0; }

    // For a callback: stops the transfer, saying why.
    bool stop(HttpFailure kind, std::string text) {
        abort = Failure(kind, std::move(text));
        return false;
    }
};

struct Outcome {
    long statusCode = 0;
    std::optional<Failure> failure;  // kind: HttpFailure
};

// Runs one transfer through `proxy` (none: straight to the server). `transfer` holds where
// the body goes.
Outcome perform(const HttpRequest& request, Transfer& transfer,
                const std::optional<HttpProxy>& proxy);

}  // namespace platform::curl
