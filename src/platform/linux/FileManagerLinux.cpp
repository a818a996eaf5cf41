#include "FileManagerLinux.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;

namespace platform {

namespace {

Status errnoFailure(const std::string& what, const std::string& path, int error) {
    return Status::failure(what + " \"" + path + "\": " + std::strerror(error));
}

Status fsFailure(const std::string& what, const std::string& path, const std::error_code& ec) {
    return Status::failure(what + " \"" + path + "\": " + ec.message());
}

// Writes the whole buffer, retrying short writes and interrupted calls.
bool writeAll(int fd, const std::string& bytes) {
    const char* data = bytes.data();
    std::size_t left = bytes.size();
    while (left > 0) {
        ssize_t n = ::write(fd, data, left);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data += n;
        left -= static_cast<std::size_t>(n);
    }
    return true;
}

// The system's path APIs ignore a trailing slash, so "file/" names the file; the kernel
// would refuse it with ENOTDIR.
std::string withoutTrailingSlash(const std::string& path) {
    std::string trimmed = path;
    while (trimmed.size() > 1 && trimmed.back() == '/') trimmed.pop_back();
    return trimmed;
}

}  // namespace

FileManager& FileManager::defaultManager() {
    static LinuxFileManager manager;
    return manager;
}

bool LinuxFileManager::fileExistsAtPath(const std::string& path) const {
    struct stat st;
    return ::lstat(withoutTrailingSlash(path).c_str(), &st) == 0;
}

bool LinuxFileManager::directoryExistsAtPath(const std::string& path) const {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

Status LinuxFileManager::createDirectory(const std::string& path, bool withIntermediates) {
    std::error_code ec;
    if (withIntermediates) {
        fs::create_directories(path, ec);
        if (ec) return fsFailure("Cannot create folder", path, ec);
        if (!directoryExistsAtPath(path)) return errnoFailure("Cannot create folder", path, EEXIST);
        return Status::ok();
    }
    if (::mkdir(path.c_str(), 0777) != 0) return errnoFailure("Cannot create folder", path, errno);
    return Status::ok();
}

Status LinuxFileManager::removeItem(const std::string& path) {
    if (!fileExistsAtPath(path)) return errnoFailure("Cannot remove", path, ENOENT);
    std::error_code ec;
    fs::remove_all(withoutTrailingSlash(path), ec);
    if (ec) return fsFailure("Cannot remove", path, ec);
    return Status::ok();
}

Status LinuxFileManager::copyItem(const std::string& source, const std::string& destination) {
    if (!fileExistsAtPath(source)) return errnoFailure("Cannot copy", source, ENOENT);
    if (fileExistsAtPath(destination)) return errnoFailure("Cannot copy to", destination, EEXIST);
    std::error_code ec;
    fs::copy(source, destination, fs::copy_options::recursive | fs::copy_options::copy_symlinks,
             ec);
    if (ec) return fsFailure("Cannot copy to", destination, ec);
    return Status::ok();
}

Status LinuxFileManager::moveItem(const std::string& source, const std::string& destination) {
    if (fileExistsAtPath(destination)) return errnoFailure("Cannot move to", destination, EEXIST);
    if (::rename(source.c_str(), destination.c_str()) != 0) {
        return errnoFailure("Cannot move to", destination, errno);
    }
    return Status::ok();
}

std::optional<std::uint64_t> LinuxFileManager::fileSize(const std::string& path) const {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) return std::nullopt;
    return static_cast<std::uint64_t>(st.st_size);
}

Status LinuxFileManager::truncateFile(const std::string& path) {
    if (::truncate(path.c_str(), 0) != 0) return errnoFailure("Cannot truncate", path, errno);
    return Status::ok();
}

std::optional<std::string> LinuxFileManager::contentsAtPath(const std::string& path,
                                                            std::string* error) const {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (error) *error = errnoFailure("Cannot read", path, errno).errorDescription();
        return std::nullopt;
    }
    std::string contents;
    char buffer[64 * 1024];
    for (;;) {
        ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            if (error) *error = errnoFailure("Cannot read", path, errno).errorDescription();
            ::close(fd);
            return std::nullopt;
        }
        if (n == 0) break;
        contents.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fd);
    return contents;
}

Status LinuxFileManager::writeContents(const std::string& path, const std::string& bytes) {
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) return errnoFailure("Cannot write", path, errno);
    bool written = writeAll(fd, bytes);
    int error = errno;
    if (::close(fd) != 0 && written) {
        written = false;
        error = errno;
    }
    if (!written) return errnoFailure("Cannot write", path, error);
    return Status::ok();
}

Status LinuxFileManager::writeContentsAtomically(const std::string& path, const std::string& bytes,
                                                 bool durable) {
    std::string temporary = path + ".XXXXXX";
    int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0) return errnoFailure("Cannot write", path, errno);
    // mkostemp makes the file private; give it the mode a plain create would.
    mode_t mask = ::umask(0);
    ::umask(mask);
    ::fchmod(fd, 0666 & ~mask);
    bool ok = writeAll(fd, bytes) && (!durable || ::fsync(fd) == 0);
    int error = errno;
    if (::close(fd) != 0 && ok) {
        ok = false;
        error = errno;
    }
    if (ok && ::rename(temporary.c_str(), path.c_str()) != 0) {
        ok = false;
        error = errno;
    }
    if (!ok) {
        ::unlink(temporary.c_str());
        return errnoFailure("Cannot write", path, error);
    }
    if (!durable) return Status::ok();
    // Make the rename itself durable.
    std::string folder = fs::path(path).parent_path().string();
    int dirFd = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        ::fsync(dirFd);
        ::close(dirFd);
    }
    return Status::ok();
}

}  // namespace platform
