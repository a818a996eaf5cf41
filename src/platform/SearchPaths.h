#pragma once

#include <string>

#include "Replaceable.h"

namespace platform {

// Standard per-user and machine-wide folders. Per-user folders derive from $HOME so that a
// test can run in a temporary home.
class SearchPaths : public Replaceable<SearchPaths> {
  public:
    virtual ~SearchPaths() = default;
    static SearchPaths& shared();

    virtual std::string homeDirectory() const = 0;
    // <home>/Library
    virtual std::string userLibraryDirectory() const = 0;
    // <home>/Applications
    virtual std::string userApplicationsDirectory() const = 0;
    // Where the user's downloads go: the desktop's download folder, else <home>/Downloads.
    virtual std::string userDownloadsDirectory() const = 0;
    // The machine-wide applications folder.
    virtual std::string localApplicationsDirectory() const = 0;
};

}  // namespace platform
