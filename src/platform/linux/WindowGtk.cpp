#include "WindowGtk.h"

#include "../MainLoop.h"

namespace platform {

GtkWindowBackend::GtkWindowBackend(GtkApplication* application, const std::string& title, int width,
                                   int height) {
    GtkWidget* window = gtk_application_window_new(application);
    // GTK owns top-level windows; our reference keeps the object valid after it closes.
    m_window = glib::ObjectPtr<GtkWindow>::adopt(GTK_WINDOW(g_object_ref(window)));
    gtk_window_set_title(m_window.get(), title.c_str());
    gtk_window_set_default_size(m_window.get(), width, height);
}

void GtkWindowBackend::setTitle(const std::string& title) {
    assertMainThread("Window::setTitle");
    gtk_window_set_title(m_window.get(), title.c_str());
}

std::string GtkWindowBackend::title() const {
    const char* title = gtk_window_get_title(m_window.get());
    return title ? title : "";
}

void GtkWindowBackend::show() {
    assertMainThread("Window::show");
    gtk_window_present(m_window.get());
}

void GtkWindowBackend::close() {
    assertMainThread("Window::close");
    gtk_window_close(m_window.get());
}

}  // namespace platform
