#include "ApiHandler.h"

#include <array>
#include <utility>

#include "../Objects/SessionDetails.h"
#include "../platform/Http.h"
#include "../platform/Url.h"
#include "DeploymentHosts.h"
#include "JsonText.h"
#include "Logging.h"
#include "OrvoKelvaneUpdater.h"
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
        static constexpr std::array kSameAsStartUp = {"eu", "in", "au", "cn", "jp", "ca",
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

// An API answer is a small JSON document; anything larger is not one.
constexpr std::uint64_t kMaximumAnswerBytes = 1024 * 1024;

// The JSON value at `key` of an object, or nullptr.
const nlohmann::json* memberOf(const nlohmann::json* value, const char* key) {
    if (!value || !value->is_object()) return nullptr;
    auto it = value->find(key);
    return it == value->end() ? nullptr : &*it;
}

std::string describe(const nlohmann::json* value) {
    return value ? value->dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) : "(null)";
}

// Sends the request and handles the common failures; `handle` gets the 200 answer's body.
void sendApiRequest(const char* function, const std::string& url, ApiHandler::Completion completion,
                    std::function<void(const std::string& body)> handle) {
    platform::HttpRequest request;
    request.url = url;
    request.maximumBodyBytes = kMaximumAnswerBytes;
    const std::string block = std::string(function) + "_block_invoke";
    platform::HttpClient::shared().getAsync(
        std::move(request), [block, url, completion = std::move(completion), handle = std::move(handle)](
                                platform::HttpResponse response) {
            bool received = guarded(block.c_str(), [&] {
                if (response.error && response.statusCode == 0) {
                    logLine("%s : Check Update failed : %@", block, response.error);
                    return false;
                }
                if (response.statusCode != 200 || response.error) {
                    logLine("%s : NSURLConnection failed for this request : %@ and status code : %ld", block, url,
                            response.statusCode);
                    return false;
                }
                handle(response.body);
                return true;
            }, false);
            completion(received);
        });
}

}  // namespace

void ApiHandler::checkOrvoTendraUpdateWithCompletion(Completion completion) {
    static constexpr const char* kFunction = "-[ApiHandler checkOrvoTendraUpdateWithCompletion:]";
    bool started = guarded(kFunction, [&] {
        SessionDetails& session = SessionDetails::getInstance();
        std::string url = platform::Url::encodeForQuery(
            platform::format("https://%@/api/v2/agent/check_update?agent_version=%@&agent=mac %@",
                             session.webServerName(), session.localOrvoAppVersion(), "64"));
        if (!platform::Url::isValid(url)) {
            logLine("%s : Agent update check address is not a valid URL : %@", kFunction, url);
            return false;
        }
        std::string block = std::string(kFunction) + "_block_invoke";
        sendApiRequest(kFunction, url, completion, [block](const std::string& body) {
            auto json = parseUntrustedJson(body);
            const nlohmann::json* representation = memberOf(json ? &*json : nullptr, "representation");
            logLine("%s : Response : %@", block, describe(representation));
            const nlohmann::json* agent = memberOf(representation, "AGENT");
            if (!agent || !agent->is_object()) return;
            SessionDetails& state = SessionDetails::getInstance();
            for (const auto& [key, value] : agent->items()) {
                if (key == "update_needed") {
                    if (auto flag = truthValue(value)) state.setIsUpdateNeeded(*flag);
                } else if (key == "download_url") {
                    if (value.is_string() && !value.get_ref<const std::string&>().empty()) {
                        state.setCdnUrl(value.get<std::string>());
                        state.setIsCdnAvailable(true);
                    }
                } else if (key == "fallback_url") {
                    if (value.is_string() && !value.get_ref<const std::string&>().empty()) {
                        state.setFallbackUrl(value.get<std::string>());
                    }
                }
            }
        });
        return true;
    }, false);
    if (!started) completion(false);
}

void ApiHandler::checkKelvaneUpdateWithCompletion(Completion completion) {
    static constexpr const char* kFunction = "-[ApiHandler checkKelvaneUpdateWithCompletion:]";
    bool started = guarded(kFunction, [&] {
        SessionDetails& session = SessionDetails::getInstance();
        if (!session.webServerName()) session.setWebServerName(Utils::findWebserverNameWithDCName("com"));
        std::string url =
            platform::format("https://%@/api/v1/customer_plugin/check_update?os=mac&format=dmg&source=kelvane&version=%@",
                             session.webServerName(), session.localOrvoKelvaneAppVersion());
        if (auto token = session.kelvaneToken()) url += "&kelvane_token=" + *token;
        // Nothing is encoded here: an address that does not parse as it stands is not sent.
        if (!platform::Url::isValid(url) || url.find_first_of(" \"<>\\^`{|}") != std::string::npos) {
            logLine("%s : Self-update check address is not a valid URL : %@", kFunction, url);
            return false;
        }
        std::string block = std::string(kFunction) + "_block_invoke";
        sendApiRequest(kFunction, url, completion, [block](const std::string& body) {
            auto json = parseUntrustedJson(body);
            logLine("%s response :  %@", block, json ? describe(&*json) : std::string("(null)"));
            const nlohmann::json* representation = memberOf(json ? &*json : nullptr, "representation");
            SessionDetails& state = SessionDetails::getInstance();
            if (representation && representation->is_object()) {
                for (const auto& [key, value] : representation->items()) {
                    if (key == "download_url" && value.is_string()) {
                        std::string address = value.get<std::string>();
                        for (auto at = address.find(".dmg.dmg"); at != std::string::npos; at = address.find(".dmg.dmg", at)) {
                            address.replace(at, 8, ".dmg");
                        }
                        state.setKelvaneDownloadUrl(address);
                    } else if (key == "update") {
                        if (auto flag = truthValue(value)) state.setKelvaneUpdateNeeded(*flag);
                    }
                }
            }
            if (state.kelvaneUpdateNeeded()) {
                logLine("%s Orvo Kelvane Updated Version Available ....", block);
                OrvoKelvaneUpdater::getInstance()->checkOrvoKelvaneUpdate();
            }
        });
        return true;
    }, false);
    if (!started) completion(false);
}
