#include <fstream>

#include "../SystemVersion.h"

namespace platform {

namespace {

std::string unquoted(std::string value) {
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front()) {
        value = value.substr(1, value.size() - 2);
    }
    return value;
}

}  // namespace

SystemVersion SystemVersion::current() {
    // os-release is this system's version file: NAME and VERSION_ID play the parts of the
    // product name and version.
    SystemVersion version;
    for (const char* path : {"/etc/os-release", "/usr/lib/os-release"}) {
        std::ifstream file(path);
        if (!file) continue;
        std::string line;
        while (std::getline(file, line)) {
            auto equals = line.find('=');
            if (equals == std::string::npos) continue;
            std::string key = line.substr(0, equals);
            if (key == "NAME") version.productName = unquoted(line.substr(equals + 1));
            if (key == "VERSION_ID") version.productVersion = unquoted(line.substr(equals + 1));
        }
        break;
    }
    return version;
}

}  // namespace platform
