#include "ApiHandler.h"

#include <array>
#include <utility>

#include "../Objects/SessionDetails.h"
#include "DeploymentHosts.h"
#include "Logging.h"
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
