#pragma once

#include <gtk/gtk.h>

#include <functional>
#include <memory>
#include <vector>

#include "../../Window.h"
#include "../support/GLibPtr.h"
#include "CredentialsPrompt.h"

namespace platform {

class GtkWindowBackend final : public Window {
  public:
    GtkWindowBackend(GtkApplication* application, const std::string& title, int width, int height);
    ~GtkWindowBackend() override;

    GtkWindow* native() const { return m_window.get(); }
    // Puts the widget above the progress strip, filling the window.
    void setContent(GtkWidget* content);

  private:
    void setTitleImpl(const std::string& title) override;
    std::string titleImpl() const override;
    void showImpl() override;
    void closeImpl() override;
    void setProgressStripImpl(const std::optional<ProgressStrip>& strip) override;
    void askForCredentialsImpl(const CredentialsQuestion& question,
                               std::function<void(std::optional<Credentials>)> answer) override;

    void setProgressStripDismissedImpl(std::function<void()> dismissed) override;

    static GtkLabel* newStripLabel(GtkAccessibleRole role);
    void dismissStrip();
    void publishStrip(const std::string& state);

    glib::ObjectPtr<GtkWindow> m_window;
    GtkBox* m_layout = nullptr;  // owned by the window
    GtkWidget* m_content = nullptr;
    GtkWidget* m_strip = nullptr;
    GtkLabel* m_stripText = nullptr;   // what is under way, naming the bar
    GtkLabel* m_stripAlert = nullptr;  // a failure, announced when it appears
    GtkProgressBar* m_stripBar = nullptr;
    GtkWidget* m_stripDismiss = nullptr;
    std::function<void()> m_dismissed;
    std::vector<glib::SignalConnection> m_signals;
    glib::SourceId m_pulse;
    std::unique_ptr<CredentialsPrompt> m_prompt;
};

}  // namespace platform
