#include "NativeMessageHandler.h"

#include <nlohmann/json.hpp>

#include "../Objects/SessionDetails.h"
#include "../platform/Log.h"
#include "../platform/MainLoop.h"
#include "../platform/Preferences.h"
#include "../platform/Url.h"
#include "../platform/Workspace.h"
#include "ApiHandler.h"
#include "BridgeRecords.h"
#include "NetworkMonitor.h"
#include "OrvoAppUpgrader.h"
#include "TextLength.h"

namespace {

constexpr const char* kOperation = "handleMessageFromWebView(message:)";
constexpr std::size_t kMaximumBodyBytes = 64 * 1024;

void log(const std::string& text) {
    platform::print(std::string(kOperation) + text);
}

platform::Preferences& defaults() {
    return platform::Preferences::standardUserDefaults();
}

// A stored value as JSON, as the system's JSON writer turns property-list values into JSON.
// Values JSON cannot hold (data, dates) make the conversion fail.
nlohmann::json toJson(const platform::PlistValue& value) {
    struct Visitor {
        nlohmann::json operator()(const std::string& v) const { return v; }
        nlohmann::json operator()(std::int64_t v) const { return v; }
        nlohmann::json operator()(bool v) const { return v; }
        nlohmann::json operator()(double v) const { return v; }
        nlohmann::json operator()(const platform::PlistData&) const {
            throw std::invalid_argument("data cannot be written as JSON");
        }
        nlohmann::json operator()(const platform::PlistDate&) const {
            throw std::invalid_argument("a date cannot be written as JSON");
        }
        nlohmann::json operator()(const platform::PlistArray& v) const {
            nlohmann::json array = nlohmann::json::array();
            for (const auto& item : v) array.push_back(toJson(item));
            return array;
        }
        nlohmann::json operator()(const platform::PlistDictionary& v) const {
            nlohmann::json object = nlohmann::json::object();
            for (const auto& [key, item] : v) object[key] = toJson(item);
            return object;
        }
    };
    return std::visit(Visitor{}, value.value);
}

// The values of several keys at once; a missing key is JSON null.
nlohmann::json valuesForKeys(std::initializer_list<const char*> keys) {
    nlohmann::json values = nlohmann::json::object();
    for (const char* key : keys) {
        auto value = defaults().objectForKey(key);
        values[key] = value ? toJson(*value) : nlohmann::json(nullptr);
    }
    return values;
}

// Compact JSON text; throws when the text would not be valid UTF-8.
std::string compactJson(const nlohmann::json& value) {
    return value.dump(-1, ' ', false, nlohmann::json::error_handler_t::strict);
}

}  // namespace

NativeMessageHandler& NativeMessageHandler::shared() {
    static NativeMessageHandler* handler =
        new NativeMessageHandler(nullptr);  // lives until the end
    return *handler;
}

void NativeMessageHandler::reply(const std::string& script) {
    if (m_nativeMessageHandlerDelegate) m_nativeMessageHandlerDelegate->executeJavaScript(script);
}

void NativeMessageHandler::handleMessageFromWebView(const platform::ScriptMessage& message) {
    platform::assertMainThread("NativeMessageHandler::handleMessageFromWebView");
    try {
        const std::string& name = message.name;
        const platform::ScriptValue& body = message.body;
        // Every message the page sends is a few lines of text at most; a larger body is
        // nothing the page meant, and storing it would make every later write of the
        // preferences carry it.
        if (body.text.size() > kMaximumBodyBytes) {
            log(" : The body of " + name + " (" + std::to_string(body.text.size()) +
                " bytes) is above the bound of " + std::to_string(kMaximumBodyBytes) +
                " bytes; the message is ignored");
            return;
        }
        // Messages that need a text body ignore any other kind without a word.
        auto withText = [&](auto&& handler) {
            if (body.isString()) handler(body.text);
        };
        if (name == "getRRSessionDigest") return getRRSessionDigest();
        if (name == "getCustomerDetails") return getCustomerDetails();
        if (name == "sendRRSessionDigestToNative") {
            return withText([](const std::string& digest) {
                defaults().setString("RRSessionDigest", digest);
                defaults().synchronizeInBackground();
            });
        }
        if (name == "sendCustomerDetailsToNative") {
            return withText([this](const std::string& text) { sendCustomerDetailsToNative(text); });
        }
        if (name == "sendRRSessionKeyToNative") {
            return withText([this](const std::string& text) { sendRRSessionKeyToNative(text); });
        }
        if (name == "sendJoinDetailsToNative") {
            return withText([this](const std::string& text) { sendJoinDetailsToNative(text); });
        }
        if (name == "sendJoinReportAbuseLinkToNative") {
            return withText(
                [this](const std::string& text) { sendJoinReportAbuseLinkToNative(text); });
        }
        if (name == "kelvaneLoaded") return kelvaneLoaded();
        if (name == "clearRRSessionDigest") {
            defaults().setString("RRSessionDigest", "");
            defaults().synchronizeInBackground();
            return;
        }
        if (name == "sendKelvaneTitleToNative") return sendKelvaneTitleToNative(body);
        if (name == "clearKelvaneDigest") {
            defaults().setString("KelvaneToken", "");
            defaults().synchronizeInBackground();
            return;
        }
        if (name == "getProxyDetails") return getProxyDetails();
        if (name == "sendProxyDetailsToNative") {
            return withText([this](const std::string& text) { sendProxyDetailsToNative(text); });
        }
        if (name == "getActiveSessionKey") return getActiveSessionKey();
        if (name == "clearActiveSessionKey") {
            defaults().setString("activeSessionKey", "");
            defaults().synchronizeInBackground();
            return;
        }
        if (name == "openProxy") return openProxy();
        if (name == "getSystemOs") return reply("window.receiveSystemOs(\"mac\");");
        if (name == "consoleHandler") {
            return withText(
                [](const std::string& text) { log(" : Console Message from WebView: " + text); });
        }
    } catch (const std::exception& exception) {
        // A page must never be able to bring the application down.
        log(std::string(" : Message ") + message.name +
            " could not be handled: " + exception.what());
    }
}

void NativeMessageHandler::getRRSessionDigest() {
    SessionDetails& session = SessionDetails::getInstance();
    session.setSessionDigest(defaults().stringForKey("RRSessionDigest").value_or(""));
    reply("window.receiveRRSessionDigest(\"" + session.sessionDigest().value_or("") + "\");");
}

void NativeMessageHandler::getCustomerDetails() {
    std::string text;
    try {
        nlohmann::json details = valuesForKeys({"name", "company", "email", "language"});
        nlohmann::json& language = details["language"];
        if (language.is_null() ||
            (language.is_string() && language.get_ref<const std::string&>().empty())) {
            language = "en";
        }
        text = compactJson(details);
    } catch (const std::exception&) {
        text.clear();  // the page is called without an argument
    }
    reply("window.receiveCustomerDetails(" + text + ");");
}

void NativeMessageHandler::sendCustomerDetailsToNative(const std::string& body) {
    auto details = customerDetails::decode(body);
    if (!details) {
        log(" : Customer Details Not Initialized.");
        return;
    }
    defaults().setString("name", details->name);
    defaults().setString("email", details->email);
    defaults().setString("company", details->company);
    defaults().setString("language", details->language);
    defaults().synchronizeInBackground();
}

void NativeMessageHandler::sendJoinReportAbuseLinkToNative(const std::string& body) {
    if (!platform::Url::isURLReference(body)) return;
    if (platform::Status opened = platform::Workspace::openURL(body); !opened) {
        log(" The Report Abuse Page could not be opened in the Default browser: " +
            opened.errorDescription());
        return;
    }
    log(" Opened Report Abuse Page in the Default browser");
}

void NativeMessageHandler::kelvaneLoaded() {
    NetworkMonitor& monitor = NetworkMonitor::shared();
    monitor.stopNetworkMonitoring();
    monitor.stopWebsiteReachabilityChecks();
}

void NativeMessageHandler::sendKelvaneTitleToNative(const platform::ScriptValue& body) {
    if (body.isString()) {
        defaults().setString("WindowTitle", body.text);
        defaults().synchronizeInBackground();
        if (m_nativeMessageHandlerDelegate)
            m_nativeMessageHandlerDelegate->updateWindowTitle(body.text);
        return;
    }
    auto stored = defaults().objectForKey("WindowTitle");
    const std::string* title = stored ? stored->string() : nullptr;
    if (m_nativeMessageHandlerDelegate) {
        m_nativeMessageHandlerDelegate->updateWindowTitle(title ? *title : kDefaultWindowTitle);
    }
}

void NativeMessageHandler::getProxyDetails() {
    std::string text;
    try {
        text = compactJson(valuesForKeys({"host", "port", "authRequired", "userName", "password"}));
    } catch (const std::exception& exception) {
        log(std::string(" : Unable to convert dictionary to JSON: ") + exception.what());
        text.clear();
    }
    reply("window.receiveProxyDetails(" + text + ");");
}

void NativeMessageHandler::sendProxyDetailsToNative(const std::string& body) {
    auto details = proxyDetails::decode(body);
    if (!details) {
        log(" : Proxy Details could not be decoded; nothing stored.");
        return;
    }
    defaults().setString("host", details->host);
    defaults().setInteger("port", details->port);
    defaults().setBool("authRequired", details->authRequired);
    defaults().setString("userName", details->userName);
    defaults().setString("password", details->password);
    defaults().synchronizeInBackground();
}

void NativeMessageHandler::getActiveSessionKey() {
    auto key = defaults().stringForKey("activeSessionKey");
    if (!key) {
        log(" : No Session id is active.");
        return;
    }
    reply("window.receiveActiveSessionKey(\"" + *key + "\");");
}

void NativeMessageHandler::openProxy() {
    if (platform::Status opened = platform::Workspace::openProxySettings(); !opened)
        log(" The proxy settings could not be shown: " + opened.errorDescription());
}

void NativeMessageHandler::sendJoinDetailsToNative(const std::string& body) {
    auto join = joinSessionMessage::decode(body);
    if (!join) {
        log(" : handleMessageFromWebView(message:) : Error Unable to decode the join details");
        return;
    }
    defaults().setInteger("activeSessionKey", join->sessionKey);
    defaults().synchronizeInBackground();
    std::string key = std::to_string(join->sessionKey);
    log(" : Details Shared for Joining a session - email: " + join->email + ", sessionid: " + key);
    if (std::size_t length = characterCount(key); length != 9 && length != 10) {
        log(" : Invalid Session Key from Join Page");
        return;
    }
    setupProxyDetails();
    SessionDetails& session = SessionDetails::getInstance();
    session.setSessionKey(key);
    session.setName(join->email);
    if (join->dc) {
        ApiHandler::getInstance().findServerNameUsingDC(join->dc);
    } else {
        session.setDcName(session.plistDcName());
        session.setWebServerName(session.plistWebServerName());
    }
    ApiHandler::getInstance().checkOrvoTendraUpdateWithCompletion([](bool received) {
        if (received) {
            OrvoAppUpgrader::getInstance().orvoAppUpdater();
        } else {
            log(" : Unable to update Orvo Tendra Agent");
        }
    });
}

void NativeMessageHandler::sendRRSessionKeyToNative(const std::string& body) {
    if (std::size_t length = characterCount(body); length != 9 && length != 10) {
        log(" : Invalid Session Key from Raise a Request Page");
        return;
    }
    setupProxyDetails();
    SessionDetails& session = SessionDetails::getInstance();
    session.setSessionKey(body);
    if (auto name = defaults().stringForKey("name")) session.setName(*name);
    ApiHandler::getInstance().checkOrvoTendraUpdateWithCompletion([](bool received) {
        if (received) OrvoAppUpgrader::getInstance().orvoAppUpdater();
    });
}
