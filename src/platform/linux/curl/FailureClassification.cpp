#include "FailureClassification.h"

#include "../../Url.h"
#include "CurlOwned.h"

namespace platform::curl {

Failure classify(CURL* handle, CURLcode result, const char* errorBuffer, const HttpRequest& request,
                 const std::optional<HttpProxy>& proxy) {
    long connectCode = 0;
    curl_easy_getinfo(handle, CURLINFO_HTTP_CONNECTCODE, &connectCode);
    std::string detail = *errorBuffer ? errorBuffer : curl_easy_strerror(result);
    std::string proxyName = proxy ? proxy->address() : "";
    std::string server = Url::hostAndPort(request.url).value_or(request.url);
    if (proxy && connectCode == 407) {
        return Failure(HttpFailure::proxyAuthenticationRequired,
                       proxy->userName ? "the proxy " + proxyName +
                                             " did not accept the user name and password stored "
                                             "for it (407 Proxy Authentication Required)"
                                       : "the proxy " + proxyName +
                                             " asks for a user name and password (407 Proxy "
                                             "Authentication Required)");
    }
    if (proxy && connectCode >= 300) {
        return Failure(HttpFailure::proxyRefused,
                       "the proxy " + proxyName + " refused to connect to " + server + " (status " +
                           std::to_string(connectCode) + ")");
    }
    if (proxy && result == CURLE_COULDNT_RESOLVE_PROXY)
        return Failure(HttpFailure::proxyRefused, "the proxy " + proxyName + " cannot be found");
    if (proxy && (result == CURLE_COULDNT_CONNECT || result == CURLE_PROXY)) {
        return Failure(HttpFailure::proxyRefused,
                       "the proxy " + proxyName + " cannot be reached: " + detail);
    }
    if (result == CURLE_PEER_FAILED_VERIFICATION) {
        return Failure(HttpFailure::untrustedCertificate,
                       "the certificate of " + server + " is not trusted by this system (" +
                           detail + "); a network that inspects connections may present its own");
    }
    if (result == CURLE_UNSUPPORTED_PROTOCOL) {
        std::string address = effectiveUrl(handle);
        return Failure(HttpFailure::cleartextRefused,
                       "cleartext HTTP is refused: " + (address.empty() ? request.url : address));
    }
    if (result == CURLE_OPERATION_TIMEDOUT) return Failure(HttpFailure::stalled, detail);
    return Failure(HttpFailure::transport, detail);
}

}  // namespace platform::curl
