#include "NativeMessageHandler.h"

#include <nlohmann/json.hpp>

#include "../Objects/SessionDetails.h"
#include "../platform/MainLoop.h"
#include "../platform/Preferences.h"
#include "../platform/Text.h"
#include "../platform/Url.h"
#include "../platform/Workspace.h"
#include "ApiHandler.h"
#include "BridgeRecords.h"
#include "Logging.h"
#include "NetworkMonitor.h"
#include "OrvoAppUpgrader.h"
#include "ProvisioningProgress.h"
#include "TextLength.h"

namespace {

constexpr const char* kOperation = "handleMessageFromWebView(message:)";
constexpr std::size_t kMaximumBodyBytes = 64 * 1024;

// The bridge's lines all name the operation that received the message.
void log(const std::string& text) {
    printLine(kOperation + text);
}

platform::Preferences& defaults() {
    return platform::Preferences::standardUserDefaults();
}

// The page's own records: written without making the page wait for the disk.
void storeInBackground(const char* key, const std::string& value) {
    defaults().setString(key, value);
    defaults().synchronizeInBackground();
}

// A stored value as JSON, as macOS's JSON writer turns property-list values into JSON.
// Values JSON cannot hold (data, dates) make the conversion fail.
platform::Result<nlohmann::json> toJson(const platform::PlistValue& value) {
    using Converted = platform::Result<nlohmann::json>;
    struct Visitor {
        Converted operator()(const std::string& v) const { return v; }
        Converted operator()(std::int64_t v) const { return v; }
        Converted operator()(bool v) const { return v; }
        Converted operator()(double v) const { return v; }
        Converted operator()(const platform::PlistData&) const {
            return platform::unexpected("data cannot be written as JSON");
        }
        Converted operator()(const platform::PlistDate&) const {
            return platform::unexpected("a date cannot be written as JSON");
        }
        Converted operator()(const platform::PlistArray& v) const {
            nlohmann::json array = nlohmann::json::array();
            for (const auto& item : v) {
                auto converted = toJson(item);
                if (!converted) return converted;
                array.push_back(std::move(*converted));
            }
            return array;
        }
        Converted operator()(const platform::PlistDictionary& v) const {
            nlohmann::json object = nlohmann::json::object();
            for (const auto& [key, item] : v) {
                auto converted = toJson(item);
                if (!converted) return converted;
                object[key] = std::move(*converted);
            }
            return object;
        }
    };
    return std::visit(Visitor{}, value.value);
}

// The values of several keys at once; a missing key is JSON null.
platform::Result<nlohmann::json> valuesForKeys(std::initializer_list<const char*> keys) {
    nlohmann::json values = nlohmann::json::object();
    for (const char* key : keys) {
        auto value = defaults().objectForKey(key);
        if (!value) {
            values[key] = nullptr;
            continue;
        }
        auto converted = toJson(*value);
        if (!converted) return converted;
        values[key] = std::move(*converted);
    }
    return values;
}

// True when every text of the value, keys included, is UTF-8, which JSON text must be.
bool holdsOnlyUtf8(const nlohmann::json& value) {
    if (value.is_string()) return platform::Text::isValidUtf8(value.get_ref<const std::string&>());
    if (value.is_object()) {
        for (const auto& [key, item] : value.items()) {
            if (!platform::Text::isValidUtf8(key) || !holdsOnlyUtf8(item)) return false;
        }
    } else if (value.is_array()) {
        for (const auto& item : value) {
            if (!holdsOnlyUtf8(item)) return false;
        }
    }
    return true;
}

// Compact JSON text; fails when a text is no UTF-8.
platform::Result<std::string> compactJson(const nlohmann::json& value) {
    if (!holdsOnlyUtf8(value)) return platform::unexpected("a text is not UTF-8");
    return value.dump();
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
    // A page must never be able to bring the application down.
    auto couldNotBeHandled = [&message](const char*, const char* description) {
        log(" : Message " + message.name + " could not be handled: " + description);
    };
    guarded(
        kOperation, [&] { route(message); }, couldNotBeHandled);
}

void NativeMessageHandler::route(const platform::ScriptMessage& message) {
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
        return withText(
            [](const std::string& digest) { storeInBackground("RRSessionDigest", digest); });
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
        return withText([this](const std::string& text) { sendJoinReportAbuseLinkToNative(text); });
    }
    if (name == "kelvaneLoaded") return kelvaneLoaded();
    if (name == "clearRRSessionDigest") {
        return storeInBackground("RRSessionDigest", "");
    }
    if (name == "sendKelvaneTitleToNative") return sendKelvaneTitleToNative(body);
    if (name == "clearKelvaneDigest") {
        return storeInBackground("KelvaneToken", "");
    }
    if (name == "getProxyDetails") return getProxyDetails();
    if (name == "sendProxyDetailsToNative") {
        return withText([this](const std::string& text) { sendProxyDetailsToNative(text); });
    }
    if (name == "getActiveSessionKey") return getActiveSessionKey();
    if (name == "clearActiveSessionKey") {
        return storeInBackground("activeSessionKey", "");
    }
    if (name == "openProxy") return openProxy();
    if (name == "getSystemOs") return reply("window.receiveSystemOs(\"mac\");");
    if (name == "consoleHandler") {
        return withText(
            [](const std::string& text) { log(" : Console Message from WebView: " + text); });
    }
}

void NativeMessageHandler::getRRSessionDigest() {
    SessionDetails& session = SessionDetails::getInstance();
    session.setSessionDigest(defaults().stringForKey("RRSessionDigest").value_or(""));
    reply("window.receiveRRSessionDigest(\"" + session.sessionDigest().value_or("") + "\");");
}

void NativeMessageHandler::getCustomerDetails() {
    auto details = valuesForKeys({"name", "company", "email", "language"});
    if (details) {
        nlohmann::json& language = (*details)["language"];
        if (language.is_null() ||
            (language.is_string() && language.get_ref<const std::string&>().empty())) {
            language = "en";
        }
    }
    // Details that cannot be written as JSON call the page without an argument.
    std::string text = details ? compactJson(*details).value_or("") : "";
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
    if (platform::Status opened = platform::Workspace::shared().openURL(body); !opened) {
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
        storeInBackground("WindowTitle", body.text);
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
    auto values = valuesForKeys({"host", "port", "authRequired", "userName", "password"});
    auto text = values ? compactJson(*values) : platform::unexpected(values.error());
    if (!text) log(" : Unable to convert dictionary to JSON: " + text.error());
    reply("window.receiveProxyDetails(" + text.value_or("") + ");");
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
    // Written through at once: a crash must not lose what the customer typed for the proxy.
    if (!defaults().synchronize()) log(" : Proxy Details could not be saved.");
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
    if (platform::Status opened = platform::Workspace::shared().openProxySettings(); !opened)
        log(" The proxy settings could not be shown: " + opened.errorDescription());
}

void NativeMessageHandler::sendJoinDetailsToNative(const std::string& body) {
    auto join = joinSessionMessage::decode(body);
    if (!join) {
        log(" : handleMessageFromWebView(message:) : Error Unable to decode the join details");
        return;
    }
    ProvisioningProgress::shared().joinStarted();
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
