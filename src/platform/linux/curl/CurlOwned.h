#pragma once

#include <curl/curl.h>

#include <string>

#include "../support/Owned.h"

namespace platform::curl {

using Easy = support::Owned<CURL*, curl_easy_cleanup>;
using HeaderList = support::Owned<curl_slist*, curl_slist_free_all>;
using Address = support::Owned<CURLU*, curl_url_cleanup>;
// Text curl allocated for us.
using String = support::Owned<char*, curl_free>;

// The address the transfer ended at, after redirects; empty when curl cannot say.
inline std::string effectiveUrl(CURL* handle) {
    char* address = nullptr;
    curl_easy_getinfo(handle, CURLINFO_EFFECTIVE_URL, &address);
    return address ? address : "";
}

}  // namespace platform::curl
