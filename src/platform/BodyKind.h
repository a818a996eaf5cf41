#pragma once

#include <cstddef>
#include <string_view>

namespace platform::BodyKind {

// Where an ISO 9660 image keeps its primary volume descriptor: the sector after the 32 KiB
// system area. The disk-image tool reads it there, and mounts nothing without one.
inline constexpr std::size_t kVolumeDescriptorOffset = 16 * 2048;
// The bytes of a file's start that tell whether it is a disk image.
inline constexpr std::size_t kDiskImageSignatureBytes = kVolumeDescriptorOffset + 6;

// A primary volume descriptor begins with its type, 1, and "CD001".
bool isPrimaryVolumeDescriptor(std::string_view sector);

// The first kDiskImageSignatureBytes (or more) of a disk image the tool would read.
bool startsAsDiskImage(std::string_view head);

// The whole text is one JSON object (a UTF-8 byte order mark and white space around it allowed).
bool isJsonObject(std::string_view text);

// The text begins, after a byte order mark and white space, with markup: a web page's "<".
bool looksLikeMarkup(std::string_view head);

}  // namespace platform::BodyKind
