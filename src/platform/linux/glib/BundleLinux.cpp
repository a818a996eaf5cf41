#include <string.h>
#include <unistd.h>

#include <filesystem>
#include <system_error>

#include "../../Bundle.h"

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

std::optional<std::string> Bundle::executablePath() const {
    const PlistValue* name = objectForInfoDictionaryKey("CFBundleExecutable");
    if (!name || !name->string() || name->string()->empty()) return std::nullopt;
    std::string executable = m_path + "/Contents/MacOS/" + *name->string();
    if (::access(executable.c_str(), X_OK) != 0) return std::nullopt;
    return executable;
}

int Bundle::compareVersions(const std::string& a, const std::string& b) {
    return strverscmp(a.c_str(), b.c_str());
}

}  // namespace platform
