#include "WindowGtk.h"

#ifdef GDK_WINDOWING_X11
#include <gdk/x11/gdkx.h>
#endif

#include <charconv>
#include <string>

#include "../../Localization.h"

namespace platform {

namespace {

// Pulses an indeterminate bar a few times a second, no more.
constexpr guint kPulseMilliseconds = 250;

// "0.085" in every locale: the published state is read by programs, not people.
std::string fixedPoint(double fraction) {
    char text[32];
    auto written = std::to_chars(text, text + sizeof text, fraction, std::chars_format::fixed, 3);
    return std::string(text, written.ptr);
}

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
    m_stripText = newStripLabel(GTK_ACCESSIBLE_ROLE_LABEL);
    // A failure is said in a label of its own whose role makes screen readers announce it
    // when it appears; a role is fixed when a widget is made.
    m_stripAlert = newStripLabel(GTK_ACCESSIBLE_ROLE_ALERT);
    m_stripBar = GTK_PROGRESS_BAR(gtk_progress_bar_new());
    gtk_widget_set_size_request(GTK_WIDGET(m_stripBar), 220, -1);
    gtk_widget_set_valign(GTK_WIDGET(m_stripBar), GTK_ALIGN_CENTER);
    // The label names the bar for assistive technology (its labelled-by relation), which GTK
    // sets in the form the running version expects.
    gtk_label_set_mnemonic_widget(m_stripText, GTK_WIDGET(m_stripBar));
    m_stripDismiss = gtk_button_new_from_icon_name("window-close-symbolic");
    gtk_widget_set_valign(m_stripDismiss, GTK_ALIGN_CENTER);
    gtk_widget_add_css_class(m_stripDismiss, "flat");
    std::string dismiss = localized("Dismiss");
    gtk_widget_set_tooltip_text(m_stripDismiss, dismiss.c_str());
    gtk_accessible_update_property(GTK_ACCESSIBLE(m_stripDismiss), GTK_ACCESSIBLE_PROPERTY_LABEL,
                                   dismiss.c_str(), -1);
    m_signals.push_back(glib::connectSignal(
        GTK_BUTTON(m_stripDismiss), "clicked",
        +[](GtkButton*, gpointer self) { static_cast<GtkWindowBackend*>(self)->dismissStrip(); },
        static_cast<gpointer>(this)));
    gtk_box_append(GTK_BOX(m_strip), GTK_WIDGET(m_stripText));
    gtk_box_append(GTK_BOX(m_strip), GTK_WIDGET(m_stripAlert));
    gtk_box_append(GTK_BOX(m_strip), GTK_WIDGET(m_stripBar));
    gtk_box_append(GTK_BOX(m_strip), m_stripDismiss);
    gtk_widget_set_visible(m_strip, FALSE);
    gtk_box_append(m_layout, m_strip);
    gtk_window_set_child(m_window.get(), GTK_WIDGET(m_layout));
}

// A strip text that wraps onto more lines rather than being cut: at large text sizes the
// advice at its end must still be read.
GtkLabel* GtkWindowBackend::newStripLabel(GtkAccessibleRole role) {
    GtkLabel* label =
        GTK_LABEL(g_object_new(GTK_TYPE_LABEL, "accessible-role", role, "xalign", 0.0F, nullptr));
    gtk_label_set_wrap(label, TRUE);
    gtk_label_set_wrap_mode(label, PANGO_WRAP_WORD_CHAR);
    gtk_widget_set_hexpand(GTK_WIDGET(label), TRUE);
    gtk_widget_set_visible(GTK_WIDGET(label), FALSE);
    return label;
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
        gtk_widget_set_visible(GTK_WIDGET(m_stripAlert), FALSE);
        publishStrip("");
        return;
    }
    bool failed = strip->failed;
    gtk_label_set_text(failed ? m_stripAlert : m_stripText, strip->text.c_str());
    gtk_widget_set_visible(GTK_WIDGET(m_stripText), !failed);
    gtk_widget_set_visible(GTK_WIDGET(m_stripBar), !failed);
    gtk_widget_set_visible(m_stripDismiss, failed);
    if (strip->fraction) gtk_progress_bar_set_fraction(m_stripBar, *strip->fraction);
    if (pulsing && !m_pulse) {
        // No figure is known: the value a reader announces is not the last download's.
        gtk_progress_bar_set_fraction(m_stripBar, 0);
        m_pulse = g_timeout_add(
            kPulseMilliseconds,
            +[](gpointer bar) -> gboolean {
                gtk_progress_bar_pulse(GTK_PROGRESS_BAR(bar));
                return G_SOURCE_CONTINUE;
            },
            m_stripBar);
    }
    gtk_widget_set_visible(m_strip, TRUE);
    // Hidden and shown again, so that a failure after a failure is announced too.
    if (failed) gtk_widget_set_visible(GTK_WIDGET(m_stripAlert), FALSE);
    gtk_widget_set_visible(GTK_WIDGET(m_stripAlert), failed);
    if (failed) {
        // Toolkits that do not announce an alert as it appears (GTK 4.8 does not) still have
        // screen readers read what has the focus, with its description: the join is over,
        // and the message is what the customer needs next.
        gtk_accessible_update_property(GTK_ACCESSIBLE(m_stripDismiss),
                                       GTK_ACCESSIBLE_PROPERTY_DESCRIPTION, strip->text.c_str(),
                                       -1);
        gtk_widget_grab_focus(m_stripDismiss);
    }
    publishStrip(std::string(failed            ? "failed"
                             : strip->fraction ? fixedPoint(*strip->fraction)
                                               : "pulsing") +
                 "|" + strip->text);
}

void GtkWindowBackend::setProgressStripDismissedImpl(std::function<void()> dismissed) {
    m_dismissed = std::move(dismissed);
}

void GtkWindowBackend::dismissStrip() {
    setProgressStripImpl(std::nullopt);
    if (m_dismissed) m_dismissed();
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
    m_signals.clear();
    gtk_window_close(m_window.get());
}

}  // namespace platform
