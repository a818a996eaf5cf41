#pragma once

#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>

// A fresh home folder for one test; HOME points at it until the test ends.
class TempHome {
  public:
    TempHome() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "kelvane-home-XXXXXX").string();
        m_path = ::mkdtemp(pattern.data());
        if (const char* old = std::getenv("HOME")) m_previous = old;
        ::setenv("HOME", m_path.c_str(), 1);
        // A session runtime folder of its own, so that disk images attach under the default
        // volumes root (<runtime>/Volumes) without meeting another test's.
        std::string runtime = m_path + "/run";
        ::mkdir(runtime.c_str(), 0700);
        if (const char* old = std::getenv("XDG_RUNTIME_DIR")) m_previousRuntime = old;
        ::setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
    }
    ~TempHome() {
        if (m_previous) ::setenv("HOME", m_previous->c_str(), 1);
        if (m_previousRuntime) {
            ::setenv("XDG_RUNTIME_DIR", m_previousRuntime->c_str(), 1);
        } else {
            ::unsetenv("XDG_RUNTIME_DIR");
        }
        std::error_code ec;
        std::filesystem::permissions(m_path, std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, ec);
        std::filesystem::remove_all(m_path, ec);
    }
    TempHome(const TempHome&) = delete;
    TempHome& operator=(const TempHome&) = delete;

    const std::string& path() const { return m_path; }
    std::string operator/(const std::string& relative) const { return m_path + "/" + relative; }
    // Where disk images attach by default in this home.
    std::string volumes() const { return m_path + "/run/Volumes"; }

  private:
    std::string m_path;
    std::optional<std::string> m_previous;
    std::optional<std::string> m_previousRuntime;
};

// Sanitizer builds run many times slower and keep shadow memory of their own: loads shrink
// there and memory figures say nothing.
#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitizedBuild = true;
#else
constexpr bool kSanitizedBuild = false;
#endif
// Under ThreadSanitizer the web engine's collector can stop the main thread only while the
// sanitizer lets its signal through; with the engine's calls left uninstrumented (as they must
// be, for speed) a long run of garbage collections can hang the process, so heavy page loads
// shrink further there.
#if defined(__SANITIZE_THREAD__)
constexpr bool kThreadSanitizedBuild = true;
#else
constexpr bool kThreadSanitizedBuild = false;
#endif

inline std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

inline void writeFile(const std::string& path, const std::string& contents) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << contents;
}

inline std::size_t countOccurrences(const std::string& text, const std::string& needle) {
    std::size_t count = 0;
    for (auto pos = text.find(needle); pos != std::string::npos; pos = text.find(needle, pos + 1)) {
        ++count;
    }
    return count;
}
