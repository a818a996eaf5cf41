#include "ResponseCache.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <vector>

#include "../../FileManager.h"
#include "../../Log.h"
#include "../../ProductIdentity.h"
#include "../../SearchPaths.h"

namespace platform::curl {

namespace fs = std::filesystem;

std::string ResponseCache::folder() {
    return SearchPaths::shared().userLibraryDirectory() + "/Caches/" +
           productIdentity().applicationId + "/HTTP";
}

std::string ResponseCache::pathFor(const std::string& url) {
    // FNV-1a: a stable name for the address; the file says which address it holds.
    std::uint64_t hash = 14695981039346656037ULL;
    for (unsigned char c : url) {
        hash ^= c;
        hash *= 1099511628211ULL;
    }
    char name[32];
    std::snprintf(name, sizeof name, "%016llx", static_cast<unsigned long long>(hash));
    return folder() + "/" + name;
}

std::optional<std::string> ResponseCache::keptBody(const std::string& url) {
    auto contents = FileManager::defaultManager().contentsAtPath(pathFor(url));
    if (!contents) return std::nullopt;
    const std::string& text = *contents;
    std::size_t end = text.find('\n');
    if (end == std::string::npos || text.compare(0, end, url) != 0) return std::nullopt;
    return text.substr(end + 1);
}

void ResponseCache::keep(const std::string& url, const std::string& body) {
    if (url.find('\n') != std::string::npos || body.size() > kMaximumBodyBytes) return;
    FileManager& files = FileManager::defaultManager();
    Status written = files.createDirectory(folder(), true);
    // Not durable: a kept answer lost with the power is fetched again.
    if (written) written = files.writeContentsAtomically(pathFor(url), url + "\n" + body, false);
    if (!written) {
        NSLog("HTTP cache: the answer of " + url + " is not kept: " + written.errorDescription());
        return;
    }
    dropOldestBeyondBound();
}

void ResponseCache::dropOldestBeyondBound() {
    FileManager& files = FileManager::defaultManager();
    (void)files.removeLeftoversOfEndedProcesses(folder());
    std::vector<std::pair<fs::file_time_type, fs::path>> entries;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(folder(), error)) {
        std::error_code timeError;
        auto written = entry.last_write_time(timeError);
        // A name starting with a dot is a write still under way, another thread's or process's.
        if (!timeError && entry.path().filename().string().front() != '.')
            entries.emplace_back(written, entry.path());
    }
    if (entries.size() <= kMaximumEntries) return;
    std::sort(entries.begin(), entries.end());
    for (std::size_t i = 0; i + kMaximumEntries < entries.size(); ++i)
        (void)files.removeItem(entries[i].second.string());
}

}  // namespace platform::curl
