#pragma once

#include <optional>
#include <string>

namespace platform {

// How the web engine runs on this system, chosen in one place before it starts: whether its
// processes get their sandbox, which renderer suits the graphics driver, and which display the
// window uses. The engine reads these choices from the environment when it starts its
// processes, so they are made before any thread or web view exists.
class WebEngineEnvironment {
  public:
    struct Choices {
        // Why the engine runs without its sandbox; absent: the sandbox is on.
        std::optional<std::string> unsandboxedBecause;
        // How the engine renders, in words for the log.
        std::string rendering;
    };

    // Makes the choices once and sets the engine's environment for them; later calls answer
    // the first's. Call before any thread starts.
    static const Choices& choose();

    // The display the windows use, in words for the log; once the application runs.
    static std::string displayDescription();
};

}  // namespace platform
