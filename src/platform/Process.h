#pragma once

#include <optional>
#include <string>

#include "Status.h"

namespace platform {

// This process itself: the environment it was started with, and handing it over to another
// program.
class Process {
  public:
    // The value of `name` in this process's environment, when it is set.
    static std::optional<std::string> environmentVariable(const std::string& name);

    // Takes `name` out of the environment this process and its children see; its value, when
    // it was set.
    static std::optional<std::string> takeEnvironmentVariable(const std::string& name);

    // Sets `name` for this process and the programs it starts or hands over to.
    static void setEnvironmentVariable(const std::string& name, const std::string& value);

    // This process's id, and whether the process with `id` still runs.
    static int id();
    static bool isAlive(int id);

    // Replaces this process's program with `executable`, with the same arguments after the
    // first (`argv`, ending in a null pointer; its first becomes `executable`). Returns only
    // when it cannot, saying why, with `argv` as it was.
    static Status replaceWith(const std::string& executable, char** argv);
};

}  // namespace platform
