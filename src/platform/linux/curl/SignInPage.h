#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "../../Http.h"
#include "ResponseHeaders.h"

namespace platform::curl {

// A network that wants its customers to sign in first answers in place of the server: with
// 511, or with a page where the request expects something else (HttpRequest::expectedBody).

// What the status and the answering host say before the body is looked at.
enum class SignInVerdict {
    serverAnswer,  // the server's own answer, whatever its body
    signInPage,    // 511
    byTheBody,     // a success, or an answer from another host: the body decides
};

// `answeredBy` is the address the answer came from after redirects (empty when unknown),
// `askedHost` the host:port asked.
SignInVerdict judgeStatus(const HttpRequest& request, const ResponseHeaders& headers,
                          const std::string& answeredBy, const std::string& askedHost);

// How much of the body's start isSignInPage needs to see; all of a shorter body.
std::size_t bytesToJudge(ExpectedBody expected);

// For an answer judgeStatus left to its body: `head` is the body's first bytesToJudge bytes
// (a continued download's: the whole file's), or all of it when it is shorter.
bool isSignInPage(const HttpRequest& request, const ResponseHeaders& headers,
                  std::string_view head);

Failure signInPageFailure(const HttpRequest& request, const std::string& answeredBy);

}  // namespace platform::curl
