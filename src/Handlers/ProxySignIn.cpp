#include "ProxySignIn.h"

#include <strings.h>

#include <algorithm>
#include <cctype>

#include "../platform/DispatchQueue.h"
#include "../platform/Keyring.h"
#include "../platform/MainLoop.h"
#include "../platform/Preferences.h"
#include "Logging.h"

namespace {

constexpr const char* kFunction = "-[ProxySignIn proxyAsked:]";

std::string lowered(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

std::string named(const std::pair<std::string, int>& proxy) {
    return proxy.first + ":" + std::to_string(proxy.second);
}

// The keyring's writes one at a time, each checking first that it is still wanted.
std::mutex& keyringWrites() {
    static std::mutex mutex;
    return mutex;
}

}  // namespace

ProxySignIn& ProxySignIn::shared() {
    static ProxySignIn* signIn = new ProxySignIn();  // lives until exit: transfers may still ask
    return *signIn;
}

void ProxySignIn::install() {
    platform::HttpClient::shared().setProxyAuthenticationObserver(
        [](const platform::HttpProxy& proxy) { ProxySignIn::shared().proxyAsked(proxy); });
}

void ProxySignIn::setWindow(Prompt prompt, std::function<void()> declined,
                            std::function<void()> answered) {
    platform::assertMainThread("ProxySignIn::setWindow");
    m_prompt = std::move(prompt);
    m_onDeclined = std::move(declined);
    m_onAnswered = std::move(answered);
}

std::optional<platform::Credentials> ProxySignIn::joinPageCredentials(const std::string& host,
                                                                      int port) {
    platform::Preferences& defaults = platform::Preferences::standardUserDefaults();
    auto stored = defaults.stringForKey("host");
    if (!stored || strcasecmp(stored->c_str(), host.c_str()) != 0 ||
        defaults.integerForKey("port") != port || !defaults.boolForKey("authRequired")) {
        return std::nullopt;
    }
    auto userName = defaults.stringForKey("userName");
    if (!userName || userName->empty()) return std::nullopt;
    return platform::Credentials{*userName, defaults.stringForKey("password").value_or("")};
}

std::optional<platform::Credentials> ProxySignIn::known(const Key& proxy) {
    std::lock_guard lock(m_mutex);
    auto found = m_known.find(proxy);
    if (found == m_known.end()) return std::nullopt;
    return found->second;
}

std::optional<platform::Credentials> ProxySignIn::credentialsFor(const std::string& host,
                                                                 int port) {
    Key proxy{lowered(host), port};
    bool lookUp = false;
    {
        std::lock_guard lock(m_mutex);
        lookUp = m_lookedUp.insert(proxy).second;
    }
    if (lookUp) {
        auto kept = platform::Keyring::shared().proxyCredentials(host, port);
        if (!kept) {
            logLine(
                "%s : The desktop's keyring cannot be read (%@); a user name and password "
                "given now last until the application ends",
                kFunction, kept.error());
        } else if (*kept) {
            logLine(
                "%s : The user name and password for the proxy %@ come from the desktop's "
                "keyring",
                kFunction, named(proxy));
            std::lock_guard lock(m_mutex);
            m_known.try_emplace(proxy, **kept);
        }
    }
    // What the customer gave the window wins over the join page's, which it may have replaced.
    if (auto given = known(proxy)) return given;
    return joinPageCredentials(host, port);
}

void ProxySignIn::proxyAsked(const platform::HttpProxy& proxy) {
    Key key{lowered(proxy.host), proxy.port};
    bool refused = proxy.userName.has_value();
    if (refused) forget(key, {*proxy.userName, proxy.password.value_or("")});
    platform::MainLoop::main().post([this, key, refused] { ask(key, refused, std::nullopt); });
}

void ProxySignIn::answerWebView(const std::string& host, int port, bool refusedBefore,
                                Answer answer) {
    platform::assertMainThread("ProxySignIn::answerWebView");
    Key key{lowered(host), port};
    if (refusedBefore) {
        if (auto offered = known(key)) forget(key, *offered);
    } else if (auto given = known(key)) {
        answer(given);
        return;
    } else {
        bool lookedUp;
        {
            std::lock_guard lock(m_mutex);
            lookedUp = m_lookedUp.count(key) > 0;
        }
        if (!lookedUp) {
            // The keyring may wait for the customer to unlock it: never on the main thread.
            platform::dispatchBackground([this, host, port, answer = std::move(answer)] {
                (void)credentialsFor(host, port);
                platform::MainLoop::main().post(
                    [this, host, port, answer] { answerWebView(host, port, false, answer); });
            });
            return;
        }
        if (auto page = joinPageCredentials(host, port)) {
            answer(page);
            return;
        }
    }
    ask(key, refusedBefore, std::move(answer));
}

void ProxySignIn::askAgain() {
    platform::assertMainThread("ProxySignIn::askAgain");
    m_declined = false;
    ask(m_lastProxy, false, std::nullopt);
}

void ProxySignIn::ask(const Key& proxy, bool refusedBefore, std::optional<Answer> answer) {
    if (answer) m_waiting.push_back(std::move(*answer));
    if (m_asking) return;  // the prompt shown answers every question
    if (m_declined || !m_prompt || proxy.first.empty()) {
        for (Answer& waiting : std::exchange(m_waiting, {})) waiting(std::nullopt);
        return;
    }
    m_asking = proxy;
    m_lastProxy = proxy;
    logLine("%s : The proxy %@ asks for a user name and password%@; the window asks for them",
            kFunction, named(proxy), refusedBefore ? " again: it refused the last ones" : "");
    m_prompt(platform::CredentialsQuestion{named(proxy), refusedBefore},
             [this, proxy](std::optional<platform::Credentials> credentials) {
                 answered(proxy, std::move(credentials));
             });
}

void ProxySignIn::answered(const Key& proxy, std::optional<platform::Credentials> credentials) {
    m_asking.reset();
    std::vector<Answer> waiting = std::exchange(m_waiting, {});
    if (!credentials) {
        m_declined = true;
        logLine(
            "%s : The customer cancelled the proxy's sign-in; the window says the proxy "
            "needs a user name and password",
            kFunction);
        for (Answer& each : waiting) each(std::nullopt);
        if (m_onDeclined) m_onDeclined();
        return;
    }
    {
        std::lock_guard lock(m_mutex);
        m_known.insert_or_assign(proxy, *credentials);
        m_lookedUp.insert(proxy);
    }
    logLine("%s : The customer gave a user name and password for the proxy %@", kFunction,
            named(proxy));
    platform::dispatchBackground([this, proxy, credentials = *credentials] {
        std::lock_guard writing(keyringWrites());
        if (known(proxy) != credentials) return;  // newer ones came, or these were refused
        platform::Status kept = platform::Keyring::shared().keepProxyCredentials(
            proxy.first, proxy.second, credentials);
        if (!kept) {
            logLine(
                "%s : The desktop's keyring cannot keep them (%@); they last until the "
                "application ends",
                kFunction, kept.errorDescription());
        }
    });
    for (Answer& each : waiting) each(credentials);
    // A load that was waiting goes on with them; otherwise the page is loaded again.
    if (waiting.empty() && m_onAnswered) m_onAnswered();
}

void ProxySignIn::forget(const Key& proxy, const platform::Credentials& refused) {
    bool dropped = false;
    {
        std::lock_guard lock(m_mutex);
        auto found = m_known.find(proxy);
        if (found != m_known.end() && found->second == refused) {
            m_known.erase(found);
            dropped = true;
        }
    }
    if (!dropped) return;
    platform::dispatchBackground([this, proxy] {
        std::lock_guard writing(keyringWrites());
        if (known(proxy)) return;  // the customer gave new ones meanwhile
        (void)platform::Keyring::shared().forgetProxyCredentials(proxy.first, proxy.second);
    });
}
