#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "Replaceable.h"

namespace platform {

struct TaskResult {
    bool launched = false;       // false: the program could not be started (see error)
    int terminationStatus = -1;  // exit status, or 128 + signal
    std::string standardOutput;  // when captured
    std::string error;
};

// Other programs, run to their end.
class Task : public Replaceable<Task> {
  public:
    virtual ~Task() = default;
    static Task& shared();

    // Runs a program to its end and waits for it. The disk-image tool the product identity names
    // is, on this system, the one it names in the bundle, or $KELVANE_HDIUTIL when set. A program
    // still running after `timeLimit` (when not zero) is killed; the result then says so in
    // `error`. `standardInput`, when given, is what the program reads; otherwise it shares ours.
    virtual TaskResult run(const std::string& launchPath, const std::vector<std::string>& arguments,
                           bool captureStandardOutput,
                           std::chrono::milliseconds timeLimit = std::chrono::milliseconds::zero(),
                           const std::optional<std::string>& standardInput = std::nullopt) = 0;

    // The program that actually runs for a launch path.
    virtual std::string resolvedLaunchPath(const std::string& launchPath) const = 0;
};

}  // namespace platform
