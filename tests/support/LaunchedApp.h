#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

// The real application executable started in a child process with its own HOME.
class LaunchedApp {
  public:
    LaunchedApp(const std::string& executable, const std::vector<std::string>& arguments,
                const std::string& home, const std::string& outputPath) {
        m_pid = ::fork();
        if (m_pid == 0) {
            ::setenv("HOME", home.c_str(), 1);
            // No accessibility bus to start or wait for, unless the test reads the window
            // through it.
            ::setenv("GTK_A11Y", "none", 0);
            int output = ::open(outputPath.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
            ::dup2(output, STDOUT_FILENO);
            ::dup2(output, STDERR_FILENO);
            std::vector<char*> argv{const_cast<char*>(executable.c_str())};
            for (const auto& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
            argv.push_back(nullptr);
            ::execv(executable.c_str(), argv.data());
            ::_exit(127);
        }
    }
    ~LaunchedApp() {
        if (!m_status) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
        }
    }
    LaunchedApp(const LaunchedApp&) = delete;
    LaunchedApp& operator=(const LaunchedApp&) = delete;

    pid_t pid() const { return m_pid; }

    // The raw wait status once the process has ended within the time, else absent.
    std::optional<int> waitForExit(double seconds) {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
        while (!m_status && std::chrono::steady_clock::now() < deadline) {
            int status = 0;
            if (::waitpid(m_pid, &status, WNOHANG) == m_pid)
                m_status = status;
            else
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return m_status;
    }

  private:
    pid_t m_pid = -1;
    std::optional<int> m_status;
};

inline bool waitUntil(const std::function<bool()>& condition, double seconds) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (std::chrono::steady_clock::now() < deadline) {
        if (condition()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return condition();
}
