#pragma once

#include <optional>
#include <string>

// A start from the Kelvane volume itself (its launcher, its autorun file, or the bundle opened
// there) runs as the first platform runs an application opened from a disk image: from a
// private copy elsewhere. The volume search of that copy then finds the volume it came from,
// takes its request over and installs the application, as a start from anywhere else does,
// and the customer can eject the volume while the session runs.
class VolumeStart {
  public:
    // The executable of a fresh private copy to run instead, when `bundlePath` stands at the
    // root of a Kelvane volume beside its configuration file, as the volume search would find
    // it; absent otherwise, or when no copy can be made (the start then goes on from the
    // volume).
    // The copy is told the volume it left (StartRequest::kFromVolumeVariable).
    static std::optional<std::string> executableInstead(const std::string& bundlePath);

    // The Kelvane volume whose root `bundlePath` stands at, beside its configuration file.
    static std::optional<std::string> kelvaneVolumeOf(const std::string& bundlePath);

    // A start that handed its request to the copy that runs needs its private copy no more.
    static void removeCopyOfThisProcess(const std::string& bundlePath);
};
