#include <glib-unix.h>
#include <gtk/gtk.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <vector>

#include "../../Application.h"
#include "../../Preferences.h"
#include "../../ProductIdentity.h"
#include "../support/GLibPtr.h"
#include "WindowGtk.h"

namespace platform {

namespace {

constexpr int kTerminationSignals[] = {SIGTERM, SIGINT, SIGHUP};

class GtkApplicationBackend final : public Application {
  public:
    int run(int argc, char** argv, ApplicationDelegate& delegate) override {
        m_delegate = &delegate;
        // Assistive technology names the application by the program's name, and X11 window
        // managers take the window's class from it (the desktop entry's StartupWMClass); the
        // application id still names the window for Wayland and the session bus.
        g_set_prgname(productIdentity().displayName.c_str());
        g_set_application_name(productIdentity().displayName.c_str());
        m_application = glib::ObjectPtr<GtkApplication>::adopt(
            gtk_application_new(productIdentity().applicationId.c_str(), G_APPLICATION_NON_UNIQUE));

        m_signals.push_back(glib::connectSignal(
            m_application.get(), "activate",
            +[](GtkApplication*, gpointer self) {
                static_cast<GtkApplicationBackend*>(self)->launch();
            },
            this));
        m_signals.push_back(glib::connectSignal(
            m_application.get(), "window-removed",
            +[](GtkApplication* application, GtkWindow*, gpointer self) {
                if (!gtk_application_get_windows(application)) {
                    static_cast<GtkApplicationBackend*>(self)->lastWindowClosed();
                }
            },
            this));
        installQuitAction();
        // Start-up may wait on the network with the main loop blocked; until it is done a
        // termination request ends the process at once.
        for (int signal : kTerminationSignals) {
            struct sigaction action {};
            action.sa_handler = +[](int) { ::_exit(0); };
            sigemptyset(&action.sa_mask);
            ::sigaction(signal, &action, nullptr);
        }

        // Launch arguments belong to the preferences' argument domain, not to GTK's option
        // parser, which would reject them.
        char* programOnly[] = {argc > 0 ? argv[0] : nullptr, nullptr};
        return g_application_run(G_APPLICATION(m_application.get()), argc > 0 ? 1 : 0, programOnly);
    }

    bool presentMainWindow(const std::string& activationToken) override {
        if (m_ending || !m_application) return false;
        GList* windows = gtk_application_get_windows(m_application.get());
        if (!windows) return false;
        GtkWindow* window = GTK_WINDOW(windows->data);
        if (!activationToken.empty()) gtk_window_set_startup_id(window, activationToken.c_str());
        gtk_window_present(window);
        return true;
    }

    [[noreturn]] void terminate() override {
        m_ending = true;
        if (m_delegate) m_delegate->applicationWillTerminate();
        Preferences::standardUserDefaults().synchronize();
        std::fflush(nullptr);
        // Background work may still hold process-wide objects; ending here without running
        // static destructors keeps them valid until the very end.
        ::_exit(0);
    }

    std::unique_ptr<Window> createWindow(const std::string& title, int width, int height) override {
        return std::make_unique<GtkWindowBackend>(m_application.get(), title, width, height);
    }

  private:
    void launch() {
        if (m_launched) return;
        m_launched = true;
        // The delegate, not GTK, decides whether closing the last window ends the process.
        g_application_hold(G_APPLICATION(m_application.get()));
        m_delegate->awakeFromNib();
        m_delegate->applicationWillFinishLaunching();
        m_delegate->loadMainWindow();
        m_delegate->applicationDidFinishLaunching();
        // From here on the main loop turns: termination goes through the delegate.
        for (int signal : kTerminationSignals) {
            g_unix_signal_add(
                signal,
                +[](gpointer self) -> gboolean {
                    static_cast<GtkApplicationBackend*>(self)->terminate();
                },
                this);
        }
    }

    void lastWindowClosed() {
        m_ending = true;
        if (m_delegate->applicationShouldTerminateAfterLastWindowClosed()) terminate();
    }

    void installQuitAction() {
        // The action map keeps the action; our reference goes when this returns.
        auto quit = glib::ObjectPtr<GSimpleAction>::adopt(g_simple_action_new("quit", nullptr));
        m_signals.push_back(glib::connectSignal(
            quit.get(), "activate",
            +[](GSimpleAction*, GVariant*, gpointer self) {
                static_cast<GtkApplicationBackend*>(self)->terminate();
            },
            this));
        g_action_map_add_action(G_ACTION_MAP(m_application.get()), G_ACTION(quit.get()));
        const char* accels[] = {"<Control>q", nullptr};
        gtk_application_set_accels_for_action(m_application.get(), "app.quit", accels);
    }

    ApplicationDelegate* m_delegate = nullptr;
    glib::ObjectPtr<GtkApplication> m_application;
    std::vector<glib::SignalConnection> m_signals;
    bool m_launched = false;
    bool m_ending = false;  // the last window has closed: nothing is left to bring forward
};

}  // namespace

Application& Application::shared() {
    static GtkApplicationBackend application;
    return replacedOr(application);
}

}  // namespace platform
