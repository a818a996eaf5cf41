#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "DiskImage.h"
#include "FuzzTarget.h"

namespace fs = std::filesystem;

namespace {

struct Folders {
    std::string base;
    std::string root;
    std::string image;
    Folders() {
        // In memory where the system offers it: the target spends its time on the file system.
        fs::path temporary =
            fs::is_directory("/dev/shm") ? fs::path("/dev/shm") : fs::temp_directory_path();
        base = (temporary / ("kelvane-fuzz-volumes-" + std::to_string(::getpid()))).string();
        root = base + "/Volumes";
        image = base + "/image.dmg";
        fs::create_directories(root);
        ::setenv("KELVANE_VOLUMES_ROOT", root.c_str(), 1);
    }
    // A fuzzing run ends through exit(), which runs this; the folder would outlive it otherwise.
    ~Folders() {
        std::error_code ignored;
        fs::remove_all(base, ignored);
    }
};

}  // namespace

// An image from the network: whatever it holds, attaching it writes nothing outside the
// volumes root, and a detach leaves the root as it was.
KELVANE_FUZZ_TARGET(DiskImage) {
    static Folders folders;
    std::ofstream(folders.image, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    // Images that would expand beyond a few megabytes are refused by the same check as any
    // larger bound; writing gigabytes would only slow the search down.
    if (auto mountPoint = diskimage::attach(folders.image, 16 << 20)) {
        if (fs::path(*mountPoint).parent_path() != folders.root) __builtin_trap();
        if (!diskimage::detach(*mountPoint)) __builtin_trap();
    }
    for (const auto& entry : fs::directory_iterator(folders.root)) {
        if (entry.path().filename() != ".kelvane-attached")
            __builtin_trap();  // something was left behind
    }
    return 0;
}
