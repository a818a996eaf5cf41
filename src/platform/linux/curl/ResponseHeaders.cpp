#include "ResponseHeaders.h"

#include <string.h>
#include <strings.h>

#include <cstdio>
#include <cstdlib>

namespace platform::curl {

namespace {

std::string trimmed(std::string text) {
    while (!text.empty() && (text.back() == '\r' || text.back() == '\n' || text.back() == ' '))
        text.pop_back();
    std::size_t start = text.find_first_not_of(' ');
    return start == std::string::npos ? std::string() : text.substr(start);
}

}  // namespace

void ResponseHeaders::read(const std::string& line) {
    if (line.rfind("HTTP/", 0) == 0) {
        *this = ResponseHeaders{};
        std::size_t blank = line.find(' ');
        if (blank != std::string::npos) status = std::atol(line.c_str() + blank);
        return;
    }
    std::size_t colon = line.find(':');
    if (colon == std::string::npos) return;
    std::string name = line.substr(0, colon);
    std::string value = trimmed(line.substr(colon + 1));
    if (strcasecmp(name.c_str(), "ETag") == 0) etag = value;
    if (strcasecmp(name.c_str(), "Last-Modified") == 0) lastModified = value;
    if (strcasecmp(name.c_str(), "Content-Type") == 0) contentType = value;
    if (strcasecmp(name.c_str(), "Content-Range") == 0) contentRange = value;
    if (strcasecmp(name.c_str(), "Cache-Control") == 0 && strcasestr(value.c_str(), "no-store"))
        noStore = true;
    if (strcasecmp(name.c_str(), "Content-Length") == 0) {
        char* end = nullptr;
        unsigned long long length = std::strtoull(value.c_str(), &end, 10);
        if (end && *end == '\0' && !value.empty()) contentLength = length;
    }
}

std::optional<ContentRange> ContentRange::parse(const std::string& text) {
    unsigned long long first = 0, last = 0, total = 0;
    if (std::sscanf(text.c_str(), "bytes %llu-%llu/%llu", &first, &last, &total) != 3 ||
        last < first || last >= total) {
        return std::nullopt;
    }
    return ContentRange{first, total};
}

}  // namespace platform::curl
