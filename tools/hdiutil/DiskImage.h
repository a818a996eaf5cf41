#pragma once

#include <optional>
#include <string>

namespace diskimage {

// The volume name recorded in an ISO 9660 image's primary volume descriptor, made safe for
// use as a folder name; absent when the file is no ISO 9660 image.
std::optional<std::string> volumeName(const std::string& imagePath, std::string& error);

// Makes the image's files available read-only at <volumes root>/<volume name> (" 1", " 2", ...
// appended when taken). Returns the mount point, or absent with `error` set and nothing left
// behind.
std::optional<std::string> attach(const std::string& imagePath, std::string& error);

// Removes a volume that attach() made. False, with `error`, for anything else.
bool detach(const std::string& mountPoint, std::string& error);

}  // namespace diskimage
