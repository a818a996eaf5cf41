#pragma once

#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

#include "ScopedEnvironment.h"

// A fresh home folder for one test; HOME points at it until the test ends.
class TempHome {
  public:
    TempHome() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "kelvane-home-XXXXXX").string();
        m_path = ::mkdtemp(pattern.data());
        m_environment.set("HOME", m_path);
        // A session runtime folder of its own, so that disk images attach under the default
        // volumes root (<runtime>/Volumes) without meeting another test's.
        std::string runtime = m_path + "/run";
        ::mkdir(runtime.c_str(), 0700);
        m_environment.set("XDG_RUNTIME_DIR", runtime);
    }
    ~TempHome() {
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
    ScopedEnvironment m_environment;
};
