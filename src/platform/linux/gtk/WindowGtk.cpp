#include "WindowGtk.h"

#ifdef GDK_WINDOWING_X11
#include <gdk/x11/gdkx.h>
#endif

#include <cstdio>

namespace platform {

namespace {

// Pulses an indeterminate bar a few times a second, no more.
constexpr guint kPulseMilliseconds = 250;

}  // namespace

GtkWindowBackend::GtkWindowBackend(GtkApplication* application, const std::string& title, int width,
                                   int height) {
    GtkWidget* window = gtk_application_window_new(application);
    // GTK owns top-level windows; our reference keeps the object valid after it closes.
    m_window = glib::ObjectPtr<GtkWindow>::adopt(GTK_WINDOW(g_object_ref(window)));
    gtk_window_set_title(m_window.get(), title.c_str());
    gtk_window_set_default_size(m_window.get(), width, height);

    m_layout = GTK_BOX(gtk_box_new(GTK_ORIENTATION_VERTICAL, 0));
    m_strip = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 12);
    gtk_widget_set_margin_start(m_strip, 12);
    gtk_widget_set_margin_end(m_strip, 12);
    gtk_widget_set_margin_top(m_strip, 6);
    gtk_widget_set_margin_bottom(m_strip, 6);
    m_stripText = GTK_LABEL(gtk_label_new(""));
    gtk_label_set_xalign(m_stripText, 0);
    gtk_label_set_ellipsize(m_stripText, PANGO_ELLIPSIZE_END);
    gtk_widget_set_hexpand(GTK_WIDGET(m_stripText), TRUE);
    m_stripBar = GTK_PROGRESS_BAR(gtk_progress_bar_new());
    gtk_widget_set_size_request(GTK_WIDGET(m_stripBar), 220, -1);
    gtk_widget_set_valign(GTK_WIDGET(m_stripBar), GTK_ALIGN_CENTER);
    gtk_box_append(GTK_BOX(m_strip), GTK_WIDGET(m_stripText));
    gtk_box_append(GTK_BOX(m_strip), GTK_WIDGET(m_stripBar));
    gtk_widget_set_visible(m_strip, FALSE);
    gtk_box_append(m_layout, m_strip);
    gtk_window_set_child(m_window.get(), GTK_WIDGET(m_layout));
}

GtkWindowBackend::~GtkWindowBackend() {
    // Nothing is answered while the window itself goes.
    if (m_prompt) m_prompt->abandon();
    m_prompt.reset();
}

void GtkWindowBackend::setContent(GtkWidget* content) {
    if (m_content) gtk_box_remove(m_layout, m_content);
    m_content = content;
    gtk_widget_set_vexpand(content, TRUE);
    gtk_box_prepend(m_layout, content);
}

void GtkWindowBackend::setProgressStripImpl(const std::optional<ProgressStrip>& strip) {
    bool pulsing = strip && !strip->failed && !strip->fraction;
    if (!pulsing) m_pulse.remove();
    if (!strip) {
        gtk_widget_set_visible(m_strip, FALSE);
        publishStrip("");
        return;
    }
    gtk_label_set_text(m_stripText, strip->text.c_str());
    gtk_widget_set_visible(GTK_WIDGET(m_stripBar), !strip->failed);
    if (strip->fraction) gtk_progress_bar_set_fraction(m_stripBar, *strip->fraction);
    if (pulsing && !m_pulse) {
        m_pulse = g_timeout_add(
            kPulseMilliseconds,
            +[](gpointer bar) -> gboolean {
                gtk_progress_bar_pulse(GTK_PROGRESS_BAR(bar));
                return G_SOURCE_CONTINUE;
            },
            m_stripBar);
    }
    gtk_widget_set_visible(m_strip, TRUE);
    char fraction[32] = "";
    if (strip->fraction) std::snprintf(fraction, sizeof fraction, "%.3f", *strip->fraction);
    publishStrip(std::string(strip->failed ? "failed"
                             : fraction[0] ? fraction
                                           : "pulsing") +
                 "|" + strip->text);
}

// The strip's state as a property of the X window, "<fraction|pulsing|failed>|<text>" or empty,
// so that tests and tools can follow it without looking at pixels.
void GtkWindowBackend::publishStrip(const std::string& state) {
#ifdef GDK_WINDOWING_X11
    GdkSurface* surface = gtk_native_get_surface(GTK_NATIVE(m_window.get()));
    if (!surface || !GDK_IS_X11_SURFACE(surface)) return;
    GdkDisplay* display = gdk_surface_get_display(surface);
    Display* xdisplay = gdk_x11_display_get_xdisplay(display);
    Atom property = gdk_x11_get_xatom_by_name_for_display(display, "_KELVANE_PROGRESS_STRIP");
    Atom utf8 = gdk_x11_get_xatom_by_name_for_display(display, "UTF8_STRING");
    XChangeProperty(xdisplay, gdk_x11_surface_get_xid(surface), property, utf8, 8, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(state.data()),
                    static_cast<int>(state.size()));
    XFlush(xdisplay);
#else
    (void)state;
#endif
}

void GtkWindowBackend::setTitleImpl(const std::string& title) {
    gtk_window_set_title(m_window.get(), title.c_str());
}

std::string GtkWindowBackend::titleImpl() const {
    const char* title = gtk_window_get_title(m_window.get());
    return title ? title : "";
}

void GtkWindowBackend::showImpl() {
    gtk_window_present(m_window.get());
}

void GtkWindowBackend::askForCredentialsImpl(
    const CredentialsQuestion& question, std::function<void(std::optional<Credentials>)> answer) {
    // The prompt before goes first (answered with nothing), then this one takes its place.
    m_prompt.reset();
    m_prompt = std::make_unique<CredentialsPrompt>(
        m_window.get(), question,
        [this, answer = std::move(answer)](std::optional<Credentials> credentials) {
            // Answered: the prompt is done; it is let go once this call has returned.
            MainLoop::main().post([prompt = std::shared_ptr<CredentialsPrompt>(
                                       m_prompt.release())] { (void)prompt; });
            answer(std::move(credentials));
        });
}

void GtkWindowBackend::closeImpl() {
    m_prompt.reset();
    m_pulse.remove();
    gtk_window_close(m_window.get());
}

}  // namespace platform
