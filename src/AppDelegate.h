#pragma once

#include <map>
#include <memory>
#include <optional>
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

    using Parameters = std::map<std::string, std::string>;

    // The Kelvane volume's configuration made the info plist, and its bundle installed, when
    // the volume search finds one.
    void takeVolumeConfiguration();

    // The Kelvane volume's [configuration file, application bundle], or empty.
    std::vector<std::string> getKelvaneVolumePath();
    // The configuration file's key=value pairs; absent when it cannot be read.
    std::optional<Parameters> parseKelvaneConfiguration(const std::string& filePath);
    void saveParametersToPlist(const Parameters& parameters, const std::string& plistPath);
    static std::optional<std::string> getAppVersion(const std::string& atPath);
    // Turns the configuration into the info plist and installs the volume's bundle into the
    // user's Applications folder when the installed version differs.
    void copyKelvaneConfiguration(const std::string& orvoKelvaneConfFilePath,
                                  const std::string& orvoKelvaneAppPathURL);

    ViewController* viewController() const { return m_viewController.get(); }

  private:
    static void logWebEngineEnvironment();

    std::unique_ptr<LogHandler> m_logHandler;
    std::unique_ptr<ViewController> m_viewController;
};
