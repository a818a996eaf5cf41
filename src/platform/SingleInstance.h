#pragma once

#include <functional>
#include <memory>
#include <string>

namespace platform {

// One running copy of the application per user and home, as on the desktop it was first made
// for. The first process to claim holds the claim until it ends; a later one asks it to bring
// its window forward, handing over the desktop's activation token it was started with, and is
// told to end.
class SingleInstance {
  public:
    virtual ~SingleInstance() = default;

    // Claims this user's and home's one copy; the claim is held until the returned object goes,
    // which is for the process's whole life. Null when another process of this user and home
    // brought its window forward instead: this one should end.
    // `present` runs on the main thread of the claiming process whenever a later start asks,
    // with the activation token that start handed over (empty when it had none); it answers
    // whether a window was brought forward. One that answers false (its window is
    // gone, the process is ending) makes the later start wait for the claim to come free.
    // Where no claim can be made at all, the process runs as if it had claimed.
    static std::unique_ptr<SingleInstance> claim(
        const std::string& home, const std::string& activationToken,
        std::function<bool(const std::string& activationToken)> present);
};

}  // namespace platform
