// The smallest WebKitGTK program that shows the join page as the application does: it
// registers the same page message names, accepts the server's certificate and loads one
// address in a window of the same size. The yardstick for the application's start-up time,
// idle cost and memory.
// Usage: minimal-webview URL
#include <webkit/webkit.h>

#include "ScriptMessageNames.h"

namespace {

const char* g_url = nullptr;

void activate(GtkApplication* app, gpointer) {
    GtkWidget* window = gtk_application_window_new(app);
    // The application's window size: rendering memory grows with the area shown.
    gtk_window_set_default_size(GTK_WINDOW(window), 1024, 768);
    WebKitNetworkSession* session = webkit_network_session_new_ephemeral();
    webkit_network_session_set_tls_errors_policy(session, WEBKIT_TLS_ERRORS_POLICY_IGNORE);
    WebKitUserContentManager* messages = webkit_user_content_manager_new();
    for (const char* name : kScriptMessageNames) {
        webkit_user_content_manager_register_script_message_handler(messages, name, nullptr);
    }
    GtkWidget* view = GTK_WIDGET(g_object_new(WEBKIT_TYPE_WEB_VIEW, "network-session", session,
                                              "user-content-manager", messages, nullptr));
    gtk_window_set_child(GTK_WINDOW(window), view);
    webkit_web_view_load_uri(WEBKIT_WEB_VIEW(view), g_url);
    gtk_window_present(GTK_WINDOW(window));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return 2;
    g_url = argv[1];
    GtkApplication* application = gtk_application_new(nullptr, G_APPLICATION_NON_UNIQUE);
    g_signal_connect(application, "activate", G_CALLBACK(activate), nullptr);
    char* programOnly[] = {argv[0], nullptr};
    int status = g_application_run(G_APPLICATION(application), 1, programOnly);
    g_object_unref(application);
    return status;
}
