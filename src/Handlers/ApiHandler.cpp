#include "ApiHandler.h"

#include <array>
#include <utility>

#include "../Objects/SessionDetails.h"
#include "../platform/Http.h"
#include "../platform/Url.h"
#include "DeploymentHosts.h"
#include "Logging.h"
#include "OrvoKelvaneUpdater.h"
#include "ProvisioningProgress.h"
#include "ServerAnswers.h"
#include "TextLength.h"
#include "Utils.h"

ApiHandler& ApiHandler::getInstance() {
    static ApiHandler* instance = [] {
        auto* handler = new ApiHandler();  // lives until the process ends
        logLine("%s : Update Info Object Allocated", "+[ApiHandler getInstance]");
        return handler;
    }();
    return *instance;
}

void ApiHandler::findServerNameUsingDC(const std::optional<std::string>& dcName) {
    guarded("-[ApiHandler findServerNameUsingDC:]", [&] {
        SessionDetails& session = SessionDetails::getInstance();
        DeploymentHosts& hosts = DeploymentHosts::shared();
        auto assign = [&](const std::string& dc, const std::optional<std::string>& host) {
            session.setDcName(dc);
            session.setWebServerName(host ? *host : hosts.developerHost(dc));
        };
        // Codes whose server is the same as in the start-up table.
        static constexpr std::array kSameAsStartUp = {"eu", "in", "au", "cn",   "jp", "ca",
                                                      "uk", "sa", "ae", "inec", "sg"};
        const std::string code = dcName.value_or("");
        if (dcName) {
            if (code == "com") return assign("com", hosts.host("com"));
            if (code == "pre") return assign("lab", hosts.host("pre"));
            if (code == "stage") return assign("stage", hosts.host("stage"));
            if (code == "lab") return assign("lab", hosts.host("labAlternate"));
            for (const char* known : kSameAsStartUp) {
                if (code == known) return assign(code, Utils::findWebserverNameWithDCName(code));
            }
            if (characterCount(code) >= 6) {
                session.setDcName(code);
                session.setWebServerName(hosts.developerHost(code));
                return;
            }
        }
        assign("com", hosts.host("com"));
    });
}

void ApiHandler::findDcNameUsingKey(const std::string& key) {
    guarded("-[ApiHandler findDcNameUsingKey:]", [&] {
        SessionDetails& session = SessionDetails::getInstance();
        std::size_t length = characterCount(key);
        if (length == 9) {
            session.setDcName(session.plistDcName());
            session.setWebServerName(session.plistWebServerName());
            return;
        }
        if (length != 10) return;
        // The fourth character of a ten-digit key names the data centre.
        static constexpr std::array<const char*, 9> kByDigit = {"eu", "in", "au", "cn", "jp",
                                                                "ca", "uk", "sa", "ae"};
        char digit = characterAt(key, 3);
        if (digit < '1' || digit > '9') return;
        std::string dc = kByDigit[static_cast<std::size_t>(digit - '1')];
        session.setDcName(dc);
        session.setWebServerName(Utils::findWebserverNameWithDCName(dc));
    });
}

namespace {

// An API answer is a small JSON document; a larger body is cut there, which leaves it no JSON
// document, and is handled as such an answer.
constexpr std::uint64_t kMaximumAnswerBytes = 1024 * 1024;

// Sends the request and handles the common failures; `handle` gets the 200 answer's body.
// `failed` hears why a request failed.
void sendApiRequest(const char* function, const std::string& url, ApiHandler::Completion completion,
                    std::function<void(const std::string& body)> handle,
                    std::function<void(const platform::Failure&)> failed = {}) {
    platform::HttpRequest request;
    request.url = url;
    request.maximumBodyBytes = kMaximumAnswerBytes;
    request.totalSeconds = request.timeoutSeconds;  // an answer is a small document
    // An answer is a JSON object, whatever its label says; a page in its place is a network's.
    request.expectedBody = platform::ExpectedBody::jsonObject;
    const std::string block = std::string(function) + "_block_invoke";
    platform::HttpClient::shared().getAsync(std::move(request), [block, url,
                                                                 completion = std::move(completion),
                                                                 handle = std::move(handle),
                                                                 failed = std::move(failed)](
                                                                    platform::HttpResponse
                                                                        response) {
        bool received = guarded(
            block.c_str(),
            [&] {
                // A transfer that broke is a failed request, whatever status arrived first.
                if (response.failure) {
                    logLine("%s : Check Update failed : %@", block, response.failure->description);
                    return false;
                }
                if (response.statusCode != 200) {
                    logLine(
                        "%s : NSURLConnection failed for this request : %@ and status code : %ld",
                        block, url, response.statusCode);
                    return false;
                }
                handle(response.body);
                return true;
            },
            false);
        if (!received && failed) failed(response.failure.value_or(platform::Failure()));
        completion(received);
    });
}

}  // namespace

void ApiHandler::checkOrvoTendraUpdateWithCompletion(Completion completion) {
    static constexpr const char* kFunction = "-[ApiHandler checkOrvoTendraUpdateWithCompletion:]";
    bool started = guarded(
        kFunction,
        [&] {
            SessionDetails& session = SessionDetails::getInstance();
            std::string url = platform::Url::encodeForQuery(platform::format(
                "https://%@/api/v2/agent/check_update?agent_version=%@&agent=mac %@",
                session.webServerName(), session.localOrvoAppVersion(), "64"));
            if (!platform::Url::isValid(url)) {
                logLine("%s : Agent update check address is not a valid URL : %@", kFunction, url);
                return false;
            }
            std::string block = std::string(kFunction) + "_block_invoke";
            sendApiRequest(
                kFunction, url, completion,
                [block](const std::string& body) {
                    AgentCheckAnswer answer = AgentCheckAnswer::parse(body);
                    logLine("%s : Response : %@", block, answer.representationText);
                    // Fields are only ever set by an answer, never cleared.
                    SessionDetails& state = SessionDetails::getInstance();
                    if (answer.updateNeeded) state.setIsUpdateNeeded(*answer.updateNeeded);
                    if (answer.downloadUrl) {
                        state.setCdnUrl(answer.downloadUrl);
                        state.setIsCdnAvailable(true);
                    }
                    if (answer.fallbackUrl) state.setFallbackUrl(answer.fallbackUrl);
                },
                // The customer pressed "Join": a check that fails says so in the window.
                [](const platform::Failure& failure) {
                    ProvisioningProgress::shared().failed(failure);
                });
            return true;
        },
        false);
    if (!started) completion(false);
}

void ApiHandler::checkKelvaneUpdateWithCompletion(Completion completion) {
    static constexpr const char* kFunction = "-[ApiHandler checkKelvaneUpdateWithCompletion:]";
    bool started = guarded(
        kFunction,
        [&] {
            SessionDetails& session = SessionDetails::getInstance();
            if (!session.webServerName())
                session.setWebServerName(Utils::findWebserverNameWithDCName("com"));
            std::string url = platform::format(
                "https://%@/api/v1/customer_plugin/"
                "check_update?os=mac&format=dmg&source=kelvane&version=%@",
                session.webServerName(), session.localOrvoKelvaneAppVersion());
            if (auto token = session.kelvaneToken()) url += "&kelvane_token=" + *token;
            // Nothing is encoded here: an address that does not parse as it stands is not sent.
            if (!platform::Url::isValid(url) ||
                url.find_first_of(" \"<>\\^`{|}") != std::string::npos) {
                logLine("%s : Self-update check address is not a valid URL : %@", kFunction, url);
                return false;
            }
            std::string block = std::string(kFunction) + "_block_invoke";
            sendApiRequest(kFunction, url, completion, [block](const std::string& body) {
                KelvaneCheckAnswer answer = KelvaneCheckAnswer::parse(body);
                logLine("%s response :  %@", block, answer.wholeText);
                SessionDetails& state = SessionDetails::getInstance();
                if (answer.downloadUrl) state.setKelvaneDownloadUrl(answer.downloadUrl);
                if (answer.update) state.setKelvaneUpdateNeeded(*answer.update);
                // The session, not this answer, decides: an earlier "update" still counts.
                if (state.kelvaneUpdateNeeded()) {
                    logLine("%s Orvo Kelvane Updated Version Available ....", block);
                    OrvoKelvaneUpdater::getInstance()->checkOrvoKelvaneUpdate();
                }
            });
            return true;
        },
        false);
    if (!started) completion(false);
}
