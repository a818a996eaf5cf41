// The smallest WebKitGTK program that shows a page: the yardstick for the application's
// start-up time. Usage: minimal-webview URL
#include <webkit/webkit.h>

int main(int argc, char** argv) {
    if (argc < 2) return 2;
    static const char* url = argv[1];
    GtkApplication* application = gtk_application_new(nullptr, G_APPLICATION_NON_UNIQUE);
    g_signal_connect(
        application, "activate", G_CALLBACK(+[](GtkApplication* app, gpointer) {
            GtkWidget* window = gtk_application_window_new(app);
            WebKitNetworkSession* session = webkit_network_session_new_ephemeral();
            webkit_network_session_set_tls_errors_policy(session, WEBKIT_TLS_ERRORS_POLICY_IGNORE);
            GtkWidget* view =
                GTK_WIDGET(g_object_new(WEBKIT_TYPE_WEB_VIEW, "network-session", session, nullptr));
            gtk_window_set_child(GTK_WINDOW(window), view);
            webkit_web_view_load_uri(WEBKIT_WEB_VIEW(view), url);
            gtk_window_present(GTK_WINDOW(window));
        }),
        nullptr);
    char* programOnly[] = {argv[0], nullptr};
    int status = g_application_run(G_APPLICATION(application), 1, programOnly);
    g_object_unref(application);
    return status;
}
