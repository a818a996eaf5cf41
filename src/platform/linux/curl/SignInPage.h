#pragma once

#include <string>

#include "../../Http.h"
#include "ResponseHeaders.h"

namespace platform::curl {

// A network that wants its customers to sign in first answers in place of the server: with
// 511, or with an HTML page where the request never expects one. `answeredBy` is the address
// the answer came from after redirects (empty when unknown), `askedHost` the host:port asked.
bool isSignInPage(const HttpRequest& request, const ResponseHeaders& headers,
                  const std::string& answeredBy, const std::string& askedHost);

Failure signInPageFailure(const HttpRequest& request, const std::string& answeredBy);

}  // namespace platform::curl
