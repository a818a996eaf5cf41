#pragma once

#include <gtk/gtk.h>

#include "../../Window.h"
#include "../support/GLibPtr.h"

namespace platform {

class GtkWindowBackend final : public Window {
  public:
    GtkWindowBackend(GtkApplication* application, const std::string& title, int width, int height);

    GtkWindow* native() const { return m_window.get(); }
    // Puts the widget above the progress strip, filling the window.
    void setContent(GtkWidget* content);

  private:
    void setTitleImpl(const std::string& title) override;
    std::string titleImpl() const override;
    void showImpl() override;
    void closeImpl() override;
    void setProgressStripImpl(const std::optional<ProgressStrip>& strip) override;

    void publishStrip(const std::string& state);

    glib::ObjectPtr<GtkWindow> m_window;
    GtkBox* m_layout = nullptr;  // owned by the window
    GtkWidget* m_content = nullptr;
    GtkWidget* m_strip = nullptr;
    GtkLabel* m_stripText = nullptr;
    GtkProgressBar* m_stripBar = nullptr;
    glib::SourceId m_pulse;
};

}  // namespace platform
