#include <curl/curl.h>

#include "../../Url.h"
#include "CurlOwned.h"

namespace platform::Url {

bool isValid(const std::string& text) {
    return hostAndPort(text).has_value();
}

std::optional<std::string> hostAndPort(const std::string& text) {
    curl::Address url(curl_url());
    if (!url || curl_url_set(url.get(), CURLUPART_URL, text.c_str(), 0) != CURLUE_OK)
        return std::nullopt;
    curl::String host, port;
    char* part = nullptr;
    if (curl_url_get(url.get(), CURLUPART_HOST, &part, 0) == CURLUE_OK) host.replace(part);
    if (!host || !*host.get()) return std::nullopt;
    std::string result = host.get();
    part = nullptr;
    if (curl_url_get(url.get(), CURLUPART_PORT, &part, 0) == CURLUE_OK) port.replace(part);
    if (port) result += std::string(":") + port.get();
    return result;
}

}  // namespace platform::Url
