#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <stdexcept>
#include <string>
#include <thread>

#include "ScopedEnvironment.h"

// A session bus of the test's own with the desktop's keyring on it, unlocked, as a session
// has it after the customer logged in. Programs started meanwhile use this bus.
class PrivateKeyring {
  public:
    explicit PrivateKeyring(const std::string& home) {
        int address[2];
        if (::pipe2(address, O_CLOEXEC) != 0) throw std::runtime_error("no pipe");
        m_bus = ::fork();
        if (m_bus == 0) {
            ::dup2(address[1], STDOUT_FILENO);
            ::execlp("dbus-daemon", "dbus-daemon", "--session", "--nofork", "--print-address=1",
                     nullptr);
            ::_exit(127);
        }
        ::close(address[1]);
        std::string text;
        char c;
        while (::read(address[0], &c, 1) == 1 && c != '\n') text += c;
        ::close(address[0]);
        if (text.empty()) throw std::runtime_error("the test's session bus did not start");
        m_environment.set("DBUS_SESSION_BUS_ADDRESS", text);

        int password[2];
        if (::pipe2(password, O_CLOEXEC) != 0) throw std::runtime_error("no pipe");
        m_keyring = ::fork();
        if (m_keyring == 0) {
            ::dup2(password[0], STDIN_FILENO);
            ::setenv("HOME", home.c_str(), 1);
            std::freopen("/dev/null", "w", stdout);
            ::execlp("gnome-keyring-daemon", "gnome-keyring-daemon", "--unlock",
                     "--components=secrets", "--foreground", nullptr);
            ::_exit(127);
        }
        ::close(password[0]);
        (void)::write(password[1], "login", 5);
        ::close(password[1]);
        // Ready once the keyring answers on the bus.
        for (int i = 0; i < 100 && !answers(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ~PrivateKeyring() {
        for (pid_t pid : {m_keyring, m_bus}) {
            ::kill(pid, SIGTERM);
            ::waitpid(pid, nullptr, 0);
        }
    }
    PrivateKeyring(const PrivateKeyring&) = delete;
    PrivateKeyring& operator=(const PrivateKeyring&) = delete;

    // What `secret-tool lookup` finds for the attributes ("name value ..."); empty: nothing.
    static std::string lookup(const std::string& attributes) {
        std::string text;
        if (FILE* pipe =
                ::popen(("secret-tool lookup " + attributes + " 2>/dev/null").c_str(), "r")) {
            char buffer[256];
            while (std::size_t n = std::fread(buffer, 1, sizeof buffer, pipe))
                text.append(buffer, n);
            ::pclose(pipe);
        }
        return text;
    }

  private:
    // Asked of the bus, so that asking starts no other keyring.
    static bool answers() {
        return std::system(
                   "dbus-send --session --print-reply --dest=org.freedesktop.DBus "
                   "/org/freedesktop/DBus org.freedesktop.DBus.NameHasOwner "
                   "string:org.freedesktop.secrets 2>/dev/null | "
                   "grep -q 'boolean true'") == 0;
    }

    pid_t m_bus = -1;
    pid_t m_keyring = -1;
    ScopedEnvironment m_environment;
};
