#pragma once

#include <cstddef>
#include <optional>
#include <string>

namespace platform::curl {

// The kept answers of GETs asked with CachePolicy::returnCacheDataElseLoad: one file per address
// under the user's caches folder, holding the address (an address is never taken for another
// whose name hashes alike) and the 200 answer's body. Safe from any thread: a file is written
// beside and renamed into place.
class ResponseCache {
  public:
    // Bounds, so that years of support requests, each with its own address, stay small.
    static constexpr std::size_t kMaximumEntries = 32;
    static constexpr std::size_t kMaximumBodyBytes = 1024 * 1024;

    // The body kept for `url`, if any.
    static std::optional<std::string> keptBody(const std::string& url);
    // Keeps `body` as the answer for `url`, dropping the longest-kept answers beyond the bound;
    // a failure to write costs only the kept answer.
    static void keep(const std::string& url, const std::string& body);

  private:
    static std::string folder();
    static std::string pathFor(const std::string& url);
    static void dropOldestBeyondBound();
};

}  // namespace platform::curl
