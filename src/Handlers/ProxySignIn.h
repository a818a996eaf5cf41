#pragma once

#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "../platform/Credentials.h"
#include "../platform/Http.h"
#include "../platform/Window.h"

// The user name and password the desktop's proxy asks for, for the web view's loads and our
// own requests alike: the join page's stored proxy details when they name that proxy, else
// what the customer typed into the window's prompt, kept in the desktop's keyring. One prompt
// at a time; a customer who cancelled is not asked again until they ask for it.
class ProxySignIn {
  public:
    using Answer = std::function<void(std::optional<platform::Credentials>)>;
    using Prompt = std::function<void(const platform::CredentialsQuestion&, Answer)>;

    static ProxySignIn& shared();

    // Main thread. How the window asks, and what it shows when the customer declined
    // (`declined`) or answered (`answered`: the page can be loaded again).
    void setWindow(Prompt prompt, std::function<void()> declined, std::function<void()> answered);
    // Makes every 407 of our own requests come here.
    static void install();

    // Any thread: the credentials known for the proxy at host:port, the join page's first;
    // the keyring is read once per proxy, not on the main thread.
    std::optional<platform::Credentials> credentialsFor(const std::string& host, int port);
    // The join page's stored proxy details, when they are for host:port and ask for a sign-in.
    static std::optional<platform::Credentials> joinPageCredentials(const std::string& host,
                                                                    int port);

    // Any thread: one of our own requests was answered 407 by `proxy`.
    void proxyAsked(const platform::HttpProxy& proxy);
    // Main thread: the web view's load was asked by the proxy at host:port.
    void answerWebView(const std::string& host, int port, bool refusedBefore, Answer answer);

    // Main thread: whether the customer cancelled the prompt and has not asked again since.
    bool declined() const { return m_declined; }
    // Main thread: the customer asked to enter them after all.
    void askAgain();

  private:
    using Key = std::pair<std::string, int>;

    void ask(const Key& proxy, bool refusedBefore, std::optional<Answer> answer);
    void answered(const Key& proxy, std::optional<platform::Credentials> credentials);
    // Drops what the proxy refused, from memory and the keyring.
    void forget(const Key& proxy, const platform::Credentials& refused);
    std::optional<platform::Credentials> known(const Key& proxy);

    std::mutex m_mutex;  // guards m_known and m_lookedUp
    std::map<Key, platform::Credentials> m_known;
    std::set<Key> m_lookedUp;

    // Main thread only.
    Prompt m_prompt;
    std::function<void()> m_onDeclined;
    std::function<void()> m_onAnswered;
    std::optional<Key> m_asking;
    std::vector<Answer> m_waiting;  // the web view's answers that wait for the prompt
    bool m_declined = false;
    Key m_lastProxy;
};
