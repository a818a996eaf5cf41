#include "ViewController.h"

#include "platform/Application.h"

void ViewController::viewDidLoad() {
    m_window = platform::Application::shared().createWindow(kDefaultTitle, 1024, 768);
    m_window->show();
}
