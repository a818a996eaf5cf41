#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/Status.h"

namespace diskimage {

using platform::Result;
using platform::Status;
using platform::unexpected;

// The volume name recorded in an ISO 9660 image's primary volume descriptor, made safe for
// use as a folder name; absent when the file is no ISO 9660 image.
Result<std::string> volumeName(const std::string& imagePath);

// Far above any agent or application image; an image that expands beyond it is refused.
constexpr std::uint64_t kMaximumContentBytes = std::uint64_t(4) << 30;

// Makes the image's files available read-only at <volumes root>/<volume name> (" 1", " 2", ...
// appended when taken). Returns the mount point, or the reason with nothing left behind. An image
// whose files add up to more than `maximumBytes`, or more than the free space of the volumes root,
// is refused before anything is written.
Result<std::string> attach(const std::string& imagePath,
                           std::uint64_t maximumBytes = kMaximumContentBytes);

// Removes a volume that attach() made; fails, saying why, for anything else.
Status detach(const std::string& mountPoint);

}  // namespace diskimage
