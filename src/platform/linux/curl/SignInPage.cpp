#include "SignInPage.h"

#include <strings.h>

#include "../../Url.h"

namespace platform::curl {

bool isSignInPage(const HttpRequest& request, const ResponseHeaders& headers,
                  const std::string& answeredBy, const std::string& askedHost) {
    if (!request.htmlMeansSignInPage) return false;
    if (headers.status == 511) return true;
    if (strncasecmp(headers.contentType.c_str(), "text/html", 9) != 0) return false;
    auto answeringHost = Url::hostAndPort(answeredBy);
    bool elsewhere = answeringHost && *answeringHost != askedHost;
    return elsewhere || (headers.status >= 200 && headers.status < 300);
}

Failure signInPageFailure(const HttpRequest& request, const std::string& answeredBy) {
    return Failure(HttpFailure::signInPage,
                   "a network sign-in page answered instead of the server (" +
                       (answeredBy.empty() ? request.url : answeredBy) +
                       "): the network may ask to sign in through a web browser first");
}

}  // namespace platform::curl
