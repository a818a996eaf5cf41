#pragma once

#include <memory>
#include <string>
#include <vector>

#include "Handlers/LogHandler.h"
#include "ViewController.h"
#include "platform/Application.h"

// Drives launch and exit: logging and folders first, then the session parameters, the
// application's own path and version, the window, and the background checks; closing the
// window runs the exit sequence once.
class AppDelegate final : public platform::ApplicationDelegate {
public:
    static constexpr const char* kTerminateNotification = "OrvoKelvaneTerminate";

    AppDelegate();
    ~AppDelegate() override;

    LogHandler& logHandler() { return *m_logHandler; }
    void setLogHandler(std::unique_ptr<LogHandler> handler) { m_logHandler = std::move(handler); }

    void awakeFromNib() override;
    void applicationWillFinishLaunching() override;
    void loadMainWindow() override;
    void applicationDidFinishLaunching() override;
    bool applicationShouldTerminateAfterLastWindowClosed() override;
    void applicationWillTerminate() override;

    void addObserver();
    void removeObservers();
    void initializeKelvane();
    void terminateApp();

    // The Kelvane volume's [configuration file, application bundle], or empty.
    std::vector<std::string> getKelvaneVolumePath();
    void copyKelvaneConfiguration(const std::string& orvoKelvaneConfFilePath,
                                  const std::string& orvoKelvaneAppPathURL);

    ViewController* viewController() const { return m_viewController.get(); }

private:
    std::unique_ptr<LogHandler> m_logHandler;
    std::unique_ptr<ViewController> m_viewController;
};
