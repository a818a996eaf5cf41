#pragma once

#include <optional>
#include <string>

namespace platform::engine {

// Whether this process could give the engine's helper processes their sandbox: a child makes a
// user namespace with its own mounts, as the sandbox's launcher does. Absent when it can;
// else what refused it.
std::optional<std::string> sandboxRefusal();

// The renderer for the driver whose version file is `nvidiaDriverFile` (present only while
// NVIDIA's proprietary driver is loaded): its DMA-BUF renderer shows blank windows there, so
// it is switched off, unless the customer chose for themselves. Sets the engine's variable
// when it chooses; answers the choice in words.
std::string chooseRendering(const std::string& nvidiaDriverFile);

}  // namespace platform::engine
