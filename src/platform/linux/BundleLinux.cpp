#include <filesystem>
#include <system_error>

#include "../Bundle.h"

namespace fs = std::filesystem;

namespace platform {

std::string Bundle::mainBundlePath() {
    std::error_code ec;
    fs::path executable = fs::read_symlink("/proc/self/exe", ec);
    if (ec) return fs::current_path(ec).string();
    fs::path macos = executable.parent_path();
    fs::path contents = macos.parent_path();
    fs::path bundle = contents.parent_path();
    if (macos.filename() == "MacOS" && contents.filename() == "Contents" &&
        bundle.extension() == ".app") {
        return bundle.string();
    }
    return macos.string();
}

}  // namespace platform
