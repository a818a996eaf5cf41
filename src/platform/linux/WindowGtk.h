#pragma once

#include <gtk/gtk.h>

#include "../Window.h"
#include "GLibPtr.h"

namespace platform {

class GtkWindowBackend final : public Window {
  public:
    GtkWindowBackend(GtkApplication* application, const std::string& title, int width, int height);

    void setTitle(const std::string& title) override;
    std::string title() const override;
    void show() override;
    void close() override;

    GtkWindow* native() const { return m_window.get(); }

  private:
    glib::ObjectPtr<GtkWindow> m_window;
};

}  // namespace platform
