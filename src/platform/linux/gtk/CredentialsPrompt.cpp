#include "CredentialsPrompt.h"

#include <string>
#include <utility>

#include "../../Format.h"
#include "../../Localization.h"

namespace platform {

CredentialsPrompt::CredentialsPrompt(GtkWindow* parent, const CredentialsQuestion& question,
                                     Answer answer)
    : m_answer(std::move(answer)) {
    GtkWidget* window = gtk_window_new();
    m_window = glib::ObjectPtr<GtkWindow>::adopt(GTK_WINDOW(g_object_ref(window)));
    gtk_window_set_title(m_window.get(), localized("Proxy sign-in").c_str());
    gtk_window_set_transient_for(m_window.get(), parent);
    gtk_window_set_modal(m_window.get(), TRUE);
    gtk_window_set_resizable(m_window.get(), FALSE);
    gtk_window_set_destroy_with_parent(m_window.get(), TRUE);

    GtkWidget* box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 12);
    gtk_widget_set_margin_start(box, 18);
    gtk_widget_set_margin_end(box, 18);
    gtk_widget_set_margin_top(box, 18);
    gtk_widget_set_margin_bottom(box, 18);
    // TRANSLATORS: the proxy's host and port.
    std::string text = format(localized("The network's proxy %s asks for a user name and "
                                        "password before the support service can be reached."),
                              question.proxy);
    if (question.refusedBefore) {
        text += "\n\n" + localized(
                             "The proxy did not accept the last ones. Please check them "
                             "and try again.");
    }
    GtkWidget* label = gtk_label_new(text.c_str());
    gtk_label_set_wrap(GTK_LABEL(label), TRUE);
    gtk_label_set_max_width_chars(GTK_LABEL(label), 48);
    gtk_label_set_xalign(GTK_LABEL(label), 0);
    gtk_box_append(GTK_BOX(box), label);

    GtkWidget* grid = gtk_grid_new();
    gtk_grid_set_row_spacing(GTK_GRID(grid), 6);
    gtk_grid_set_column_spacing(GTK_GRID(grid), 12);
    GtkWidget* userLabel = gtk_label_new_with_mnemonic(localized("_User name").c_str());
    GtkWidget* user = gtk_entry_new();
    // The mnemonic widget is also what the label names for assistive technology: GTK sets the
    // labelled-by relation in the form its running version takes, which changed after 4.8.
    gtk_label_set_mnemonic_widget(GTK_LABEL(userLabel), user);
    GtkWidget* passwordLabel = gtk_label_new_with_mnemonic(localized("_Password").c_str());
    GtkWidget* password = gtk_password_entry_new();
    gtk_password_entry_set_show_peek_icon(GTK_PASSWORD_ENTRY(password), TRUE);
    gtk_label_set_mnemonic_widget(GTK_LABEL(passwordLabel), password);
    gtk_label_set_xalign(GTK_LABEL(userLabel), 1);
    gtk_label_set_xalign(GTK_LABEL(passwordLabel), 1);
    gtk_widget_set_hexpand(user, TRUE);
    gtk_grid_attach(GTK_GRID(grid), userLabel, 0, 0, 1, 1);
    gtk_grid_attach(GTK_GRID(grid), user, 1, 0, 1, 1);
    gtk_grid_attach(GTK_GRID(grid), passwordLabel, 0, 1, 1, 1);
    gtk_grid_attach(GTK_GRID(grid), password, 1, 1, 1, 1);
    gtk_box_append(GTK_BOX(box), grid);
    m_user = GTK_EDITABLE(user);
    m_password = GTK_EDITABLE(password);

    GtkWidget* buttons = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 6);
    gtk_widget_set_halign(buttons, GTK_ALIGN_END);
    GtkWidget* cancel = gtk_button_new_with_mnemonic(localized("_Cancel").c_str());
    GtkWidget* signIn = gtk_button_new_with_mnemonic(localized("_Sign In").c_str());
    gtk_widget_add_css_class(signIn, "suggested-action");
    gtk_box_append(GTK_BOX(buttons), cancel);
    gtk_box_append(GTK_BOX(buttons), signIn);
    gtk_box_append(GTK_BOX(box), buttons);
    gtk_window_set_child(m_window.get(), box);
    gtk_window_set_default_widget(m_window.get(), signIn);

    m_connections.push_back(
        glib::connectSignal(GTK_BUTTON(cancel), "clicked", &onCancel, static_cast<gpointer>(this)));
    m_connections.push_back(
        glib::connectSignal(GTK_BUTTON(signIn), "clicked", &onSignIn, static_cast<gpointer>(this)));
    // Return in either field signs in; Escape cancels.
    m_connections.push_back(glib::connectSignal(GTK_ENTRY(user), "activate", &onUserActivated,
                                                static_cast<gpointer>(this)));
    m_connections.push_back(glib::connectSignal(GTK_PASSWORD_ENTRY(password), "activate",
                                                &onPasswordActivated, static_cast<gpointer>(this)));
    GtkEventController* keys = gtk_shortcut_controller_new();
    gtk_shortcut_controller_add_shortcut(
        GTK_SHORTCUT_CONTROLLER(keys),
        gtk_shortcut_new(gtk_keyval_trigger_new(GDK_KEY_Escape, GdkModifierType(0)),
                         gtk_named_action_new("window.close")));
    gtk_widget_add_controller(window, keys);
    m_connections.push_back(glib::connectSignal(m_window.get(), "close-request", &onCloseRequest,
                                                static_cast<gpointer>(this)));
    gtk_window_present(m_window.get());
}

CredentialsPrompt::~CredentialsPrompt() {
    finish(std::nullopt);
}

void CredentialsPrompt::signIn() {
    finish(Credentials{gtk_editable_get_text(m_user), gtk_editable_get_text(m_password)});
}

void CredentialsPrompt::onSignIn(GtkButton*, gpointer self) {
    static_cast<CredentialsPrompt*>(self)->signIn();
}

void CredentialsPrompt::onUserActivated(GtkEntry*, gpointer self) {
    static_cast<CredentialsPrompt*>(self)->signIn();
}

void CredentialsPrompt::onPasswordActivated(GtkPasswordEntry*, gpointer self) {
    static_cast<CredentialsPrompt*>(self)->signIn();
}

void CredentialsPrompt::onCancel(GtkButton*, gpointer self) {
    static_cast<CredentialsPrompt*>(self)->finish(std::nullopt);
}

gboolean CredentialsPrompt::onCloseRequest(GtkWindow*, gpointer self) {
    static_cast<CredentialsPrompt*>(self)->finish(std::nullopt);
    return TRUE;  // finish() has destroyed it
}

void CredentialsPrompt::finish(std::optional<Credentials> credentials) {
    if (!m_answer) return;
    Answer answer = std::exchange(m_answer, nullptr);
    m_connections.clear();
    gtk_window_destroy(m_window.get());
    // Last: the answer may replace this prompt, which deletes it.
    answer(std::move(credentials));
}

}  // namespace platform
