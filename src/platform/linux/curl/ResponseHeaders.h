#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace platform::curl {

// What the headers of the answer being received said. A new status line (the next answer
// after a redirect) starts afresh.
struct ResponseHeaders {
    long status = 0;
    std::string etag, lastModified, contentType, contentRange;
    std::optional<std::uint64_t> contentLength;
    bool noStore = false;  // Cache-Control: no-store

    // Takes one header line as curl hands it over, line break included.
    void read(const std::string& line);

    // What a later request can name in If-Range: a strong ETag, else the modification date.
    std::string validator() const {
        if (!etag.empty() && etag.rfind("W/", 0) != 0) return etag;
        return lastModified;
    }
};

// "bytes FIRST-LAST/TOTAL"
struct ContentRange {
    std::uint64_t first = 0, total = 0;

    static std::optional<ContentRange> parse(const std::string& text);
};

}  // namespace platform::curl
