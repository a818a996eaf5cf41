#pragma once

#include <string>

namespace platform {

// Standard per-user and machine-wide folders. Per-user folders derive from $HOME so that a
// test can run in a temporary home.
namespace SearchPaths {

std::string homeDirectory();
// <home>/Library
std::string userLibraryDirectory();
// <home>/Applications
std::string userApplicationsDirectory();
// The machine-wide applications folder.
std::string localApplicationsDirectory();

}  // namespace SearchPaths

}  // namespace platform
