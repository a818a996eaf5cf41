#pragma once

#include <sys/stat.h>

#include <filesystem>
#include <string>
#include <vector>

#include "Files.h"
#include "TempHome.h"

// Stands in for the desktop's handler of some URL schemes in a test's home: every URL the
// desktop is asked to open with one of them is appended, one per line, to opened().
class FakeUrlHandler {
  public:
    FakeUrlHandler(const TempHome& home, const std::vector<std::string>& schemes) : m_home(home) {
        std::string script = home / "fake-url-handler.sh";
        writeFile(script, "#!/bin/sh\nprintf '%s\\n' \"$1\" >> '" + opened() + "'\n");
        ::chmod(script.c_str(), 0755);
        std::string types, defaults = "[Default Applications]\n";
        for (const auto& scheme : schemes) {
            types += "x-scheme-handler/" + scheme + ";";
            defaults += "x-scheme-handler/" + scheme + "=fake-url-handler.desktop\n";
        }
        writeFile(home / ".local/share/applications/fake-url-handler.desktop",
                  "[Desktop Entry]\nType=Application\nName=Fake URL handler\nExec='" + script +
                      "' %u\nMimeType=" + types + "\nNoDisplay=true\n");
        writeFile(home / ".config/mimeapps.list", defaults);
    }

    std::string opened() const { return m_home / "opened-urls.txt"; }
    std::string openedText() const { return readFile(opened()); }

  private:
    const TempHome& m_home;
};
