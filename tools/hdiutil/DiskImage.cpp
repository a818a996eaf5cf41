#include "DiskImage.h"

#include <archive.h>
#include <archive_entry.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>

#include "platform/BodyKind.h"
#include "platform/FileManager.h"
#include "platform/Volumes.h"

namespace fs = std::filesystem;

namespace diskimage {

namespace {

constexpr std::size_t kSectorSize = 2048;
constexpr std::size_t kPrimaryDescriptorOffset = platform::BodyKind::kVolumeDescriptorOffset;
// Far more files and folders than an agent or application image holds.
constexpr std::uint64_t kMaximumEntries = 50000;

struct ReadArchive {
    archive* handle = archive_read_new();
    ~ReadArchive() { archive_read_free(handle); }
};
struct DiskWriter {
    archive* handle = archive_write_disk_new();
    ~DiskWriter() { archive_write_free(handle); }
};

// True when `relative` (already normalised) stays inside the mount point.
bool staysInside(const fs::path& relative) {
    if (relative.empty() || relative.is_absolute()) return false;
    for (const auto& part : relative) {
        if (part == "..") return false;
    }
    return true;
}

// Checks one entry's own path and, for links, where it points. Empty when acceptable.
std::string refusal(archive_entry* entry) {
    const char* rawPath = archive_entry_pathname(entry);
    if (!rawPath || !*rawPath) return "an entry without a name";
    fs::path path = fs::path(rawPath).lexically_normal();
    if (path.is_absolute() || !staysInside(path))
        return std::string("entry outside the volume: ") + rawPath;

    if (const char* target = archive_entry_hardlink(entry)) {
        fs::path linked = fs::path(target).lexically_normal();
        if (linked.is_absolute() || !staysInside(linked)) {
            return std::string("hard link pointing outside the volume: ") + rawPath + " -> " +
                   target;
        }
    }
    switch (archive_entry_filetype(entry)) {
        case AE_IFREG:
        case AE_IFDIR:
            return {};
        case AE_IFLNK: {
            const char* target = archive_entry_symlink(entry);
            if (!target || !*target) return std::string("symbolic link without target: ") + rawPath;
            fs::path linkTarget(target);
            fs::path resolved = (path.parent_path() / linkTarget).lexically_normal();
            if (linkTarget.is_absolute() || !staysInside(resolved)) {
                return std::string("symbolic link pointing outside the volume: ") + rawPath +
                       " -> " + target;
            }
            return {};
        }
        default:
            return std::string("unsupported entry type: ") + rawPath;
    }
}

// Copies one entry's data, block by block, so memory does not grow with the file.
Status copyData(archive* reader, archive* writer) {
    const void* block = nullptr;
    size_t size = 0;
    la_int64_t offset = 0;
    for (;;) {
        int status = archive_read_data_block(reader, &block, &size, &offset);
        if (status == ARCHIVE_EOF) return Status::ok();
        if (status < ARCHIVE_WARN)
            return Status::failure(std::string("damaged image: ") + archive_error_string(reader));
        if (archive_write_data_block(writer, block, size, offset) < ARCHIVE_WARN)
            return Status::failure(std::string("cannot write: ") + archive_error_string(writer));
    }
}

// What extracting the image would write: the sum of its files' sizes and the largest one.
// The directory records say so before any data is read; compressed (zisofs) files count at
// their full size, which is what reaches the disk.
struct ContentSize {
    std::uint64_t total = 0;
    std::uint64_t largest = 0;
};

Result<ContentSize> contentSize(const std::string& imagePath) {
    ReadArchive reader;
    archive_read_support_format_iso9660(reader.handle);
    if (archive_read_open_filename(reader.handle, imagePath.c_str(), 64 * 1024) != ARCHIVE_OK)
        return unexpected(std::string("cannot read image: ") + archive_error_string(reader.handle));
    ContentSize size;
    archive_entry* entry = nullptr;
    for (std::uint64_t entries = 0;; ++entries) {
        // Directory records can be made to repeat without end; the reader keeps every one.
        if (entries > kMaximumEntries)
            return unexpected("refusing image: more than " + std::to_string(kMaximumEntries) +
                              " entries");
        int status = archive_read_next_header(reader.handle, &entry);
        if (status == ARCHIVE_EOF) return size;
        if (status < ARCHIVE_WARN)
            return unexpected(std::string("damaged image: ") + archive_error_string(reader.handle));
        if (archive_entry_filetype(entry) == AE_IFREG && !archive_entry_hardlink(entry) &&
            archive_entry_size_is_set(entry) && archive_entry_size(entry) > 0) {
            auto bytes = static_cast<std::uint64_t>(archive_entry_size(entry));
            size.total += bytes;
            size.largest = std::max(size.largest, bytes);
        }
    }
}

// Refuses, before anything is written, an image that cannot fit: more than the bound, more than
// the free space of the volumes root, or a file above this process's file-size limit.
Status fitsIn(const std::string& root, const ContentSize& size, std::uint64_t maximumBytes) {
    if (size.total > maximumBytes) {
        return Status::failure("the image holds " + std::to_string(size.total) +
                               " bytes, more than the " + std::to_string(maximumBytes) +
                               " an image may hold");
    }
    struct statvfs disk;
    if (::statvfs(root.c_str(), &disk) == 0) {
        // Each file takes at least part of a block more than its bytes.
        std::uint64_t available = std::uint64_t(disk.f_bavail) * disk.f_frsize;
        if (size.total > available) {
            return Status::failure("not enough space in " + root + ": the image holds " +
                                   std::to_string(size.total) + " bytes, " +
                                   std::to_string(available) + " are free");
        }
    }
    struct rlimit limit;
    if (::getrlimit(RLIMIT_FSIZE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY &&
        size.largest > limit.rlim_cur) {
        return Status::failure("a file of " + std::to_string(size.largest) +
                               " bytes is above this process's file-size limit of " +
                               std::to_string(limit.rlim_cur) + " bytes");
    }
    return Status::ok();
}

Status extract(const std::string& imagePath, const std::string& into) {
    ReadArchive reader;
    archive_read_support_format_iso9660(reader.handle);
    if (archive_read_open_filename(reader.handle, imagePath.c_str(), 64 * 1024) != ARCHIVE_OK) {
        return Status::failure(std::string("cannot read image: ") +
                               archive_error_string(reader.handle));
    }
    DiskWriter writer;
    archive_write_disk_set_options(writer.handle, ARCHIVE_EXTRACT_PERM | ARCHIVE_EXTRACT_TIME |
                                                      ARCHIVE_EXTRACT_SECURE_SYMLINKS |
                                                      ARCHIVE_EXTRACT_SECURE_NODOTDOT |
                                                      ARCHIVE_EXTRACT_NO_OVERWRITE);
    archive_entry* entry = nullptr;
    for (;;) {
        int status = archive_read_next_header(reader.handle, &entry);
        if (status == ARCHIVE_EOF) return Status::ok();
        if (status < ARCHIVE_WARN) {
            return Status::failure(std::string("damaged image: ") +
                                   archive_error_string(reader.handle));
        }
        if (std::string why = refusal(entry); !why.empty())
            return Status::failure("refusing image: " + why);
        // Every written path is anchored in the staging folder.
        std::string path =
            into + "/" + fs::path(archive_entry_pathname(entry)).lexically_normal().string();
        archive_entry_set_pathname(entry, path.c_str());
        if (const char* target = archive_entry_hardlink(entry)) {
            std::string anchored = into + "/" + fs::path(target).lexically_normal().string();
            archive_entry_set_hardlink(entry, anchored.c_str());
        }
        archive_entry_set_mode(entry, archive_entry_mode(entry) & ~mode_t(S_ISUID | S_ISGID));
        if (archive_write_header(writer.handle, entry) < ARCHIVE_WARN) {
            return Status::failure(std::string("cannot write: ") +
                                   archive_error_string(writer.handle));
        }
        if (archive_entry_size(entry) > 0) {
            if (Status copied = copyData(reader.handle, writer.handle); !copied) return copied;
        }
        if (archive_write_finish_entry(writer.handle) < ARCHIVE_WARN) {
            return Status::failure(std::string("cannot write: ") +
                                   archive_error_string(writer.handle));
        }
    }
}

// The modes the image gave each entry, before the volume is made read-only.
platform::RecordedModes recordModes(const fs::path& root) {
    platform::RecordedModes modes;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(root, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        struct stat st;
        if (::lstat(it->path().c_str(), &st) == 0 && !S_ISLNK(st.st_mode)) {
            modes[it->path().lexically_relative(root).string()] = st.st_mode & 07777;
        }
    }
    return modes;
}

// Removes write permission everywhere below, as a read-only volume has none.
void makeReadOnly(const fs::path& root) {
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(root, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        if (!it->is_symlink()) {
            fs::permissions(
                it->path(),
                fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                fs::perm_options::remove, ec);
        }
    }
    fs::permissions(root, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    fs::perm_options::remove, ec);
}

// Removal, and the naming of work in progress, are the file manager's: a folder leaves its
// name in one step, read-only folders of our own are opened for it, and what a killed tool
// left behind is recognised by the pid in its name and removed by the next run.
void removeTree(const std::string& path) {
    (void)platform::FileManager::defaultManager().removeItem(path);
}

// The staging folder's name follows the file manager's pattern for a copy in progress.
std::string stagingFolderPattern(const std::string& root, const std::string& volume) {
    return root + "/." + volume + ".kelvane-copying-" + std::to_string(::getpid()) + "-XXXXXX";
}

std::string cleanName(std::string name) {
    for (char& c : name) {
        if (c == '/' || static_cast<unsigned char>(c) < 0x20) c = '_';
    }
    while (!name.empty() && name.back() == ' ') name.pop_back();
    if (name.empty() || name == "." || name == ".." || name[0] == '.') name = "Untitled" + name;
    return name;
}

}  // namespace

Result<std::string> volumeName(const std::string& imagePath) {
    std::ifstream image(imagePath, std::ios::binary);
    if (!image) return unexpected("cannot open " + imagePath + ": " + std::strerror(errno));
    char descriptor[kSectorSize];
    image.seekg(static_cast<std::streamoff>(kPrimaryDescriptorOffset));
    if (!image.read(descriptor, sizeof descriptor) ||
        !platform::BodyKind::isPrimaryVolumeDescriptor({descriptor, sizeof descriptor})) {
        return unexpected(imagePath + " is not an ISO 9660 disk image");
    }
    // The descriptor records the volume's size; a shorter file was cut off, for example by
    // an interrupted download, even when what remains happens to read well.
    auto little32 = [&](int at) {
        return std::uint32_t(std::uint8_t(descriptor[at])) |
               std::uint32_t(std::uint8_t(descriptor[at + 1])) << 8 |
               std::uint32_t(std::uint8_t(descriptor[at + 2])) << 16 |
               std::uint32_t(std::uint8_t(descriptor[at + 3])) << 24;
    };
    std::uint64_t blockSize =
        std::uint16_t(std::uint8_t(descriptor[128]) | std::uint8_t(descriptor[129]) << 8);
    std::uint64_t expected = std::uint64_t(little32(80)) * blockSize;
    std::error_code ec;
    std::uint64_t actual = fs::file_size(imagePath, ec);
    if (ec || actual < expected) {
        return unexpected(imagePath + " is truncated: " + std::to_string(actual) + " of " +
                          std::to_string(expected) + " bytes");
    }
    return cleanName(std::string(descriptor + 40, 32));
}

Result<std::string> attach(const std::string& imagePath, std::uint64_t maximumBytes) {
    auto name = volumeName(imagePath);
    if (!name) return name;
    std::string root = platform::Volumes::shared().volumesRoot();
    std::error_code ec;
    if (!fs::exists(root, ec)) {
        fs::create_directories(root, ec);
        // A volumes root of our own making is this user's alone.
        fs::permissions(root, fs::perms::owner_all, ec);
    }
    (void)platform::FileManager::defaultManager().removeLeftoversOfEndedProcesses(root);
    auto size = contentSize(imagePath);
    if (!size) return unexpected(size.error());
    if (Status fits = fitsIn(root, *size, maximumBytes); !fits)
        return unexpected(fits.errorDescription());

    std::string staging = stagingFolderPattern(root, *name);
    if (!::mkdtemp(staging.data()))
        return unexpected("cannot create a folder in " + root + ": " + std::strerror(errno));
    if (Status extracted = extract(imagePath, staging); !extracted) {
        removeTree(staging);
        return unexpected(extracted.errorDescription());
    }
    // mkdtemp made the folder private; the volume's root is readable by all, like the rest.
    fs::permissions(staging,
                    fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                        fs::perms::others_read | fs::perms::others_exec,
                    ec);
    auto modes = recordModes(staging);
    makeReadOnly(staging);

    // The rename is atomic and never replaces, so tools running at once never share a name.
    std::string error;
    for (int suffix = 0; suffix < 1000; ++suffix) {
        std::string mountPoint = root + "/" + *name + (suffix ? " " + std::to_string(suffix) : "");
        if (::renameat2(AT_FDCWD, staging.c_str(), AT_FDCWD, mountPoint.c_str(),
                        RENAME_NOREPLACE) == 0) {
            if (!platform::AttachedImages::shared().record(
                    mountPoint, fs::absolute(imagePath).string(), modes)) {
                removeTree(mountPoint);
                return unexpected("cannot record the attached volume " + mountPoint);
            }
            return mountPoint;
        }
        if (errno != EEXIST && errno != ENOTEMPTY) {
            error = "cannot attach at " + mountPoint + ": " + std::strerror(errno);
            break;
        }
    }
    if (error.empty()) error = "no free name for " + *name + " in " + root;
    removeTree(staging);
    return unexpected(error);
}

Status detach(const std::string& mountPoint) {
    // What a mount killed half-way left beside the volumes goes too.
    (void)platform::FileManager::defaultManager().removeLeftoversOfEndedProcesses(
        fs::path(mountPoint).parent_path().string());
    if (!platform::AttachedImages::shared().isAttached(mountPoint))
        return Status::failure("detach failed - No such volume attached: " + mountPoint);
    // The volume leaves its name in one step, so it vanishes at once while its files go.
    if (platform::Status removed = platform::FileManager::defaultManager().removeItem(mountPoint);
        !removed) {
        return Status::failure("detach failed - " + removed.errorDescription());
    }
    platform::AttachedImages::shared().forget(mountPoint);
    return Status::ok();
}

}  // namespace diskimage
