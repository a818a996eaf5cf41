#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace platform {

// What a later start hands to the copy that runs: the desktop's activation token it was
// started with (empty: none; a compositor raises a window only for a fresh token) and the
// request it brings, as items the logic defines (empty: none).
struct LaterStart {
    std::string activationToken;
    std::vector<std::string> request;
};

// One running copy of the application per user and home, as on the desktop it was first made
// for. The first process to claim holds the claim until it ends; a later one hands it what it
// brings (LaterStart) and is told to end.
class SingleInstance {
  public:
    virtual ~SingleInstance() = default;

    // Claims this user's and home's one copy; the claim is held until the returned object goes,
    // which is for the process's whole life. Null when another process of this user and home
    // took `thisStart` over instead: this one should end.
    // `takeOver` runs on the main thread of the claiming process whenever a later start
    // hands something over; it answers whether the process took it (brought its window
    // forward). One that answers false (its window is gone, the process is ending) makes the
    // later start wait for the claim to come free.
    // Where no claim can be made at all, the process runs as if it had claimed.
    static std::unique_ptr<SingleInstance> claim(
        const std::string& home, const LaterStart& thisStart,
        std::function<bool(const LaterStart& later)> takeOver);
};

}  // namespace platform
