#pragma once

#include <gtk/gtk.h>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "../../Window.h"
#include "../support/GLibPtr.h"

namespace platform {

// A small modal window over the main one that asks for a proxy's user name and password. It
// answers once: with what was typed, or with nothing when cancelled or closed.
class CredentialsPrompt {
  public:
    using Answer = std::function<void(std::optional<Credentials>)>;

    CredentialsPrompt(GtkWindow* parent, const CredentialsQuestion& question, Answer answer);
    // A prompt still shown goes, answered with nothing.
    ~CredentialsPrompt();
    // For the window's end: the prompt goes without an answer.
    void abandon() { m_answer = nullptr; }
    CredentialsPrompt(const CredentialsPrompt&) = delete;
    CredentialsPrompt& operator=(const CredentialsPrompt&) = delete;

  private:
    static void onSignIn(GtkButton*, gpointer self);
    static void onUserActivated(GtkEntry*, gpointer self);
    static void onPasswordActivated(GtkPasswordEntry*, gpointer self);
    static void onCancel(GtkButton*, gpointer self);
    static gboolean onCloseRequest(GtkWindow*, gpointer self);
    void signIn();
    void finish(std::optional<Credentials> credentials);

    glib::ObjectPtr<GtkWindow> m_window;
    GtkEditable* m_user = nullptr;      // owned by the window
    GtkEditable* m_password = nullptr;  // owned by the window
    Answer m_answer;
    std::vector<glib::SignalConnection> m_connections;
};

}  // namespace platform
