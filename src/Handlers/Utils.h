#pragma once

#include <optional>
#include <string>

class LogHandler;

// Start-up and exit steps that work on files and the session state. All class operations,
// called on the main thread.
class Utils {
  public:
    static void createKelvaneDirectoriesWithLogHandler(LogHandler& logHandler);
    static void createConveloNativeFolder();
    static void createOrvoKelvaneNativeFolder();
    static void findCurrentAppPath();
    static void getOrvoKelvaneAppVersion();

    // Path of the info plist that the volume's configuration file becomes.
    static std::string infoPlistPath();

    // Reads the session parameters into the session state at start-up.
    static void parseCommandLineArgs();
    static void readInfoFileArgs(const std::string& path);
    // Host of the web server for a data-centre code; absent for an absent code.
    static std::optional<std::string> findWebserverNameWithDCName(
        const std::optional<std::string>& dcName);
    // Asks the server whether the session moved to a custom domain (blocking).
    static void getCustomDomain();
    // Puts a staged newer build in place of the installed one; runs once at exit.
    static void updateKelvaneIfNeeded();

    Utils() = delete;

  private:
    static void replaceInstalledApplication(const char* function);
    // Narrows to their owner the folders and files that hold the customer's details, where an
    // earlier run or another program left them readable by others.
    static void keepCustomerDetailsPrivate(const char* function);
};
