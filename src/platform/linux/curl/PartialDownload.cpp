#include "PartialDownload.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <charconv>
#include <ctime>
#include <filesystem>
#include <fstream>

#include "../support/Owned.h"
#include "../support/WriteAll.h"

namespace platform::partial {

namespace {

std::string recordPathFor(const std::string& destination) {
    return pathFor(destination) + "-record";
}

// Three lines: address, validator, whole size. Values never hold a line break: a URL cannot,
// and a header value ends at one.
std::optional<Record> readRecord(const std::string& path) {
    std::ifstream in(path);
    Record record;
    std::string total;
    if (!std::getline(in, record.url) || !std::getline(in, record.validator) ||
        !std::getline(in, total)) {
        return std::nullopt;
    }
    const char* end = total.data() + total.size();
    auto [stop, failed] = std::from_chars(total.data(), end, record.total);
    if (failed != std::errc() || stop != end) return std::nullopt;
    return record;
}

void removeKept(const std::string& destination) {
    ::unlink(pathFor(destination).c_str());
    ::unlink(recordPathFor(destination).c_str());
}

}  // namespace

std::string pathFor(const std::string& destination) {
    std::filesystem::path target(destination);
    return (target.parent_path() / ("." + target.filename().string() + ".kelvane-partial"))
        .string();
}

std::optional<Continuation> claim(const std::string& destination, const std::string& url,
                                  const std::string& location) {
    std::string kept = pathFor(destination);
    struct stat about {};
    if (::lstat(kept.c_str(), &about) != 0) {
        ::unlink(recordPathFor(destination).c_str());
        return std::nullopt;
    }
    auto record = readRecord(recordPathFor(destination));
    auto bytes = static_cast<std::uint64_t>(about.st_size);
    bool usable = record && S_ISREG(about.st_mode) && record->url == url &&
                  !record->validator.empty() && bytes > 0 && bytes < record->total &&
                  std::time(nullptr) - about.st_mtime < kLongestKeptSeconds;
    if (!usable || ::rename(kept.c_str(), location.c_str()) != 0) {
        removeKept(destination);
        return std::nullopt;
    }
    ::unlink(recordPathFor(destination).c_str());
    return Continuation{*record, bytes};
}

bool keep(const std::string& location, const std::string& destination, const Record& record) {
    std::string recordPath = recordPathFor(destination);
    std::string writing = recordPath + ".writing";
    {
        support::FileDescriptor fd(
            ::open(writing.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
        if (!fd) return false;
        std::string text =
            record.url + "\n" + record.validator + "\n" + std::to_string(record.total) + "\n";
        bool written = writeAll(fd.get(), text.data(), text.size());
        if (fd.reset() != 0 || !written) {
            ::unlink(writing.c_str());
            return false;
        }
    }
    if (::rename(writing.c_str(), recordPath.c_str()) != 0 ||
        ::rename(location.c_str(), pathFor(destination).c_str()) != 0) {
        ::unlink(writing.c_str());
        ::unlink(recordPath.c_str());
        return false;
    }
    return true;
}

}  // namespace platform::partial
