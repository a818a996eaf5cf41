#pragma once

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>

// Runs `body` in a forked child and returns its exit status (or 128 + signal). Used where
// the code under test takes over the process's standard streams, which must not happen to
// the test runner itself. `body` returns the child's exit status.
inline int runInChild(const std::function<int()>& body) {
    std::fflush(nullptr);
    pid_t pid = ::fork();
    if (pid == 0) {
        int status = 1;
        try {
            status = body();
        } catch (...) {
            status = 99;
        }
        std::fflush(nullptr);
        ::_exit(status);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    return 128 + WTERMSIG(status);
}

// Runs `body` in a child with standard output and error sent to one file; returns that text.
// `status`, when given, receives the child's exit status.
inline std::string outputOfChild(const std::function<void()>& body, int* status = nullptr) {
    std::string path = std::filesystem::temp_directory_path() /
                       ("kelvane-output-" + std::to_string(::getpid()) + ".txt");
    std::filesystem::remove(path);
    int result = runInChild([&] {
        (void)std::freopen(path.c_str(), "a", stdout);
        (void)std::freopen(path.c_str(), "a", stderr);
        body();
        return 0;
    });
    if (status) *status = result;
    std::ifstream in(path, std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::filesystem::remove(path);
    return text;
}

// Runs `body` in a child and returns the text it produced, followed by "\n--- output ---\n"
// and everything the child printed. Lets a test check values computed in the child.
inline std::pair<std::string, std::string> resultOfChild(const std::function<std::string()>& body) {
    std::string resultPath = std::filesystem::temp_directory_path() /
                             ("kelvane-result-" + std::to_string(::getpid()) + ".txt");
    std::filesystem::remove(resultPath);
    std::string output = outputOfChild([&] {
        std::string result = body();
        std::ofstream(resultPath, std::ios::binary) << result;
    });
    std::ifstream in(resultPath, std::ios::binary);
    std::string result((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::filesystem::remove(resultPath);
    return {result, output};
}
