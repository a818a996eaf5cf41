#pragma once

#include <chrono>
#include <optional>
#include <string>

class LogHandler;

// The longest the disk-image tool may run: mounting even a large image takes seconds, and a
// run that has not ended after this never will. Provisioning and staging runs take turns, so
// a stuck tool would otherwise hold up every later join.
inline constexpr std::chrono::seconds kDiskToolTimeLimit{60};

// Start-up and exit steps that work on files and the session state. All class operations,
// called on the main thread.
class Utils {
  public:
    static std::string orvoKelvaneNativeFolderPath();  // trailing slash included
    static std::string conveloNativeFolderPath();      // trailing slash included

    static void createKelvaneDirectoriesWithLogHandler(LogHandler& logHandler);
    static void createConveloNativeFolder();
    static void createOrvoKelvaneNativeFolder();
    static void findCurrentAppPath();
    static void getOrvoKelvaneAppVersion();

    // Path of the info plist that the volume's configuration file becomes.
    static std::string infoPlistPath();
    // Path of a preferences plist that, when present, takes the info plist's place.
    static std::string preferencesPlistPath();

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
