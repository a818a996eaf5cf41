#pragma once

#include <string>

class LogHandler;

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

    // Reads the session parameters into the session state at start-up.
    static void parseCommandLineArgs();
    // Puts a staged newer build in place of the installed one; runs once at exit.
    static void updateKelvaneIfNeeded();

    Utils() = delete;
};
