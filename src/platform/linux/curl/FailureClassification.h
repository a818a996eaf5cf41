#pragma once

#include <curl/curl.h>

#include <optional>

#include "../../Http.h"

namespace platform::curl {

// Why a transfer that curl ended with `result` failed, in words a customer can act on.
// `errorBuffer` is curl's own detail, empty when it gave none.
Failure classify(CURL* handle, CURLcode result, const char* errorBuffer, const HttpRequest& request,
                 const std::optional<HttpProxy>& proxy);

}  // namespace platform::curl
