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
    bool decided = false;  // the answer's body has been looked at
    // Set by a callback that stopped the transfer: why.
    std::optional<Failure> abort;

    // An answer held in memory.
    std::string* body = nullptr;
    bool overflowed = false;

    // A download into a file (the caller owns the descriptor). `offset` bytes of an earlier
    // try are on disk when it continues.
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
