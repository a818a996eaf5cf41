// The project's disk-image tool: attaches ISO 9660 images (Rock Ridge) as read-only folders
// under the volumes root and detaches them again.
//
//   kelvane-hdiutil mount IMAGE       prints the attached volume; the last line ends in a tab
//                                     and the mount point
//   kelvane-hdiutil detach MOUNTPOINT

#include <cstdio>
#include <string>

#include "DiskImage.h"

int main(int argc, char** argv) {
    std::string command = argc > 1 ? argv[1] : "";
    if (argc != 3 || (command != "mount" && command != "attach" && command != "detach")) {
        std::fprintf(stderr, "usage: %s mount IMAGE | detach MOUNTPOINT\n", argv[0]);
        return 2;
    }
    if (command == "detach") {
        if (auto detached = diskimage::detach(argv[2]); !detached) {
            std::fprintf(stderr, "hdiutil: %s\n", detached.errorDescription().c_str());
            return 1;
        }
        std::printf("\"%s\" ejected.\n", argv[2]);
        return 0;
    }
    auto mountPoint = diskimage::attach(argv[2]);
    if (!mountPoint) {
        std::fprintf(stderr, "hdiutil: attach failed - %s\n", mountPoint.error().c_str());
        return 1;
    }
    std::printf("%s\tISO9660_partition_scheme\t\n", argv[2]);
    std::printf("%s\tISO9660\t%s\n", argv[2], mountPoint->c_str());
    return 0;
}
