#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "platform/linux/glib/MountTable.h"

using platform::mounts::MountRow;
using ::testing::ElementsAre;

// A disk image the customer opens from the file manager is mounted by the desktop as a loop
// device under /media/<user>/ or /run/media/<user>/, which GLib counts as system-internal. The
// volume search must still see it, as an ejectable volume, or the first install never happens;
// another account's mounts there are that account's, never this customer's.
TEST(MountTable, DesktopMountedImagesAreVolumesThatCanBeEjected) {
    const std::vector<MountRow> rows = {
        {"/", "/dev/vda", "ext4", true, false, false},
        {"/proc", "proc", "proc", true, false, false},
        {"/run/user/1000", "tmpfs", "tmpfs", true, false, false},
        {"/media/ann/Kelvane Plugin", "/dev/loop3", "iso9660", true, true, true},
        {"/run/media/ann/Kelvane Plugin 1", "/dev/loop4", "iso9660", true, true, true},
        {"/media/bob/Kelvane Plugin", "/dev/loop5", "iso9660", true, true, true},
        {"/run/media/bob/Stick", "/dev/sdb1", "vfat", false, false, true},
        {"/snap/core/1", "/dev/loop0", "squashfs", true, true, false},
        {"/mnt/data", "/dev/vdb", "ext4", false, false, false},
    };
    EXPECT_THAT(
        platform::mounts::visiblePaths(rows, "ann"),
        ElementsAre("/media/ann/Kelvane Plugin", "/run/media/ann/Kelvane Plugin 1", "/mnt/data"));
    EXPECT_THAT(platform::mounts::visiblePaths(rows, "bob"),
                ElementsAre("/media/bob/Kelvane Plugin", "/run/media/bob/Stick", "/mnt/data"));
    for (const char* path : {"/media/bob/Kelvane Plugin", "/run/media/bob/Stick"}) {
        EXPECT_FALSE(platform::mounts::infoFor(rows, path, "ann").has_value())
            << "another account's mount is not ann's volume: " << path;
    }

    for (const char* path : {"/media/ann/Kelvane Plugin", "/run/media/ann/Kelvane Plugin 1"}) {
        auto info = platform::mounts::infoFor(rows, path, "ann");
        ASSERT_TRUE(info.has_value()) << path;
        EXPECT_TRUE(info->removable && info->unmountable) << path;
        EXPECT_FALSE(info->writable) << path;
        EXPECT_EQ(info->type, "iso9660");
    }
    auto fixed = platform::mounts::infoFor(rows, "/mnt/data", "ann");
    ASSERT_TRUE(fixed.has_value());
    EXPECT_FALSE(fixed->removable) << "a fixed disk is not where the application comes from";
    EXPECT_FALSE(platform::mounts::infoFor(rows, "/media/ann", "ann").has_value());

    EXPECT_FALSE(platform::mounts::isDesktopUserMount("/media/ann", "ann"));
    EXPECT_FALSE(platform::mounts::isDesktopUserMount("/media//x", ""));
    EXPECT_FALSE(platform::mounts::isDesktopUserMount("/run/user/1000/media/ann/x", "ann"));
}
