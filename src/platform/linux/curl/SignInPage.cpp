#include "SignInPage.h"

#include <strings.h>

#include <limits>

#include "../../BodyKind.h"
#include "../../Url.h"

namespace platform::curl {

SignInVerdict judgeStatus(const HttpRequest& request, const ResponseHeaders& headers,
                          const std::string& answeredBy, const std::string& askedHost) {
    if (request.expectedBody == ExpectedBody::anything) return SignInVerdict::serverAnswer;
    if (headers.status == 511) return SignInVerdict::signInPage;
    auto answeringHost = Url::hostAndPort(answeredBy);
    bool elsewhere = answeringHost && *answeringHost != askedHost;
    // The server's own error pages are its answer.
    if (!elsewhere && (headers.status < 200 || headers.status >= 300))
        return SignInVerdict::serverAnswer;
    return SignInVerdict::byTheBody;
}

std::size_t bytesToJudge(ExpectedBody expected) {
    switch (expected) {
        case ExpectedBody::diskImage:
            return BodyKind::kDiskImageSignatureBytes;
        case ExpectedBody::jsonObject:
            return std::numeric_limits<std::size_t>::max();
        case ExpectedBody::anything:
            break;
    }
    return 0;
}

bool isSignInPage(const HttpRequest& request, const ResponseHeaders& headers,
                  std::string_view head) {
    bool expected =
        request.expectedBody == ExpectedBody::anything ||
        (request.expectedBody == ExpectedBody::jsonObject && BodyKind::isJsonObject(head)) ||
        (request.expectedBody == ExpectedBody::diskImage && BodyKind::startsAsDiskImage(head));
    if (expected) return false;
    // What arrived instead is a page when it says so or reads as one.
    bool labelledPage = strncasecmp(headers.contentType.c_str(), "text/html", 9) == 0;
    return labelledPage || BodyKind::looksLikeMarkup(head);
}

Failure signInPageFailure(const HttpRequest& request, const std::string& answeredBy) {
    return Failure(HttpFailure::signInPage,
                   "a network sign-in page answered instead of the server (" +
                       (answeredBy.empty() ? request.url : answeredBy) +
                       "): the network may ask to sign in through a web browser first");
}

}  // namespace platform::curl
