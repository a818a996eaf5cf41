#include "FileManagerLinux.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <signal.h>
#include <stdio.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include "../../TestPause.h"
#include "../../Volumes.h"
#include "../support/Owned.h"
#include "../support/WriteAll.h"

namespace fs = std::filesystem;

namespace platform {

namespace {

Status errnoFailure(const std::string& what, const std::string& path, int error) {
    return Status::failure(what + " \"" + path + "\": " + std::strerror(error));
}

Status fsFailure(const std::string& what, const std::string& path, const std::error_code& ec) {
    return Status::failure(what + " \"" + path + "\": " + ec.message());
}

bool writeAll(int fd, const std::string& bytes) {
    return platform::writeAll(fd, bytes.data(), bytes.size());
}

// The system's path APIs ignore a trailing slash, so "file/" names the file; the kernel
// would refuse it with ENOTDIR.
std::string withoutTrailingSlash(const std::string& path) {
    std::string trimmed = path;
    while (trimmed.size() > 1 && trimmed.back() == '/') trimmed.pop_back();
    return trimmed;
}

constexpr const char* kCopyingMark = ".kelvane-copying-";
constexpr const char* kRemovingMark = ".kelvane-removing-";
// An installed item moved aside by a replacement on a file system that cannot swap in one step.
constexpr const char* kSwappingMark = ".kelvane-swapping-";

// A hidden name beside `path` for work in progress on it: ".<name><mark><pid>-<random>". The
// pid tells a later process whether the work's owner is still alive.
std::string workingSibling(const std::string& path, const char* mark) {
    static thread_local std::mt19937_64 random{std::random_device{}()};
    fs::path target(path);
    char suffix[32];
    std::snprintf(suffix, sizeof suffix, "%d-%016llx", static_cast<int>(::getpid()),
                  static_cast<unsigned long long>(random()));
    return (target.parent_path() / ("." + target.filename().string() + mark + suffix)).string();
}

struct WorkingSibling {
    pid_t owner = 0;           // 0: the name is no working sibling
    std::string originalName;  // the name of the item the work was on
    const char* mark = nullptr;
};

WorkingSibling parseWorkingSibling(const std::string& name) {
    if (name.empty() || name[0] != '.') return {};
    for (const char* mark : {kCopyingMark, kRemovingMark, kSwappingMark}) {
        auto at = name.rfind(mark);
        if (at != std::string::npos && at > 1) {
            return {static_cast<pid_t>(std::atol(name.c_str() + at + std::strlen(mark))),
                    name.substr(1, at - 1), mark};
        }
    }
    return {};
}

bool hasEnded(pid_t owner) {
    return owner > 0 && owner != ::getpid() && ::kill(owner, 0) != 0 && errno == ESRCH;
}

// Renames without ever replacing what is at the destination.
int renameNoReplace(const std::string& from, const std::string& to) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
    if (errno != EINVAL && errno != ENOSYS) return -1;
    // File systems without the flag: the check and the rename are two steps there.
    struct stat st;
    if (::lstat(to.c_str(), &st) == 0) {
        errno = EEXIST;
        return -1;
    }
    return ::rename(from.c_str(), to.c_str());
}

// Gives this user's folders below `root` their write bit back, so that a tree whose modes
// made some folders read-only can still be removed by its owner.
void makeRemovable(const fs::path& root) {
    std::error_code ec;
    uid_t me = ::geteuid();
    auto allow = [&](const fs::path& folder) {
        struct stat st;
        if (::lstat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == me &&
            (st.st_mode & S_IRWXU) != S_IRWXU) {
            ::chmod(folder.c_str(), (st.st_mode & 07777) | S_IRWXU);
        }
    };
    allow(root);
    for (auto it = fs::recursive_directory_iterator(root, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        allow(it->path());
    }
}

Status removeTree(const std::string& path) {
    std::error_code ec;
    fs::remove_all(path, ec);
    if (ec && ec != std::errc::no_such_file_or_directory) {
        makeRemovable(path);
        ec.clear();
        fs::remove_all(path, ec);
    }
    if (ec) return fsFailure("Cannot remove", path, ec);
    return Status::ok();
}

// Where the modes of a copy come from: the source's own, or those its disk image records.
class ModeSource {
  public:
    explicit ModeSource(const std::string& source) {
        m_source = fs::absolute(source).lexically_normal();
        if (auto mountPoint = AttachedImages::shared().mountPointContaining(m_source.string())) {
            m_mountPoint = fs::path(*mountPoint);
            m_recorded = AttachedImages::shared().recordedModes(*mountPoint);
        }
    }
    mode_t modeFor(const fs::path& relativeToSource, const struct stat& st) const {
        if (!m_recorded.empty()) {
            fs::path full = relativeToSource.empty()
                                ? m_source
                                : (m_source / relativeToSource).lexically_normal();
            std::string inVolume = full.lexically_relative(m_mountPoint).string();
            if (auto it = m_recorded.find(inVolume); it != m_recorded.end())
                return it->second & 01777;
        }
        return st.st_mode & 01777;  // set-id bits are not copied
    }
    // Whether the source lies on a volume this user's disk-image tool attached: its files
    // are extracted copies of their own, which go when the volume is detached.
    bool fromAttachedImage() const { return !m_mountPoint.empty(); }

  private:
    fs::path m_source;
    fs::path m_mountPoint;
    RecordedModes m_recorded;
};

// Gives `to` the data of `from` without writing it again, where the file system allows: a
// clone of its own (copy-on-write) first, else a second name for the same file. False when
// neither can be made here (another file system, say), with nothing left at `to`.
bool shareData(const fs::path& from, const fs::path& to, mode_t mode) {
    support::FileDescriptor source(::open(from.c_str(), O_RDONLY | O_CLOEXEC));
    if (source) {
        support::FileDescriptor target(
            ::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
        bool cloned = target && ::ioctl(target.get(), FICLONE, source.get()) == 0 &&
                      ::fchmod(target.get(), mode) == 0;
        bool made = bool(target);
        (void)target.reset();
        if (cloned) return true;
        if (made) ::unlink(to.c_str());
    }
    // A second name shares the mode too, so the volume's entry takes the copy's; the volume
    // is this process's own extraction and is detached once the copies are made.
    if (::link(from.c_str(), to.c_str()) != 0) return false;
    if (::chmod(to.c_str(), mode) != 0) {
        ::unlink(to.c_str());
        return false;
    }
    return true;
}

// Copies one entry and everything below it. Folders are made private and writable while they
// fill, and take their final mode once their contents are in.
Status copyTree(const fs::path& from, const fs::path& to, const fs::path& relative,
                const ModeSource& modes) {
    struct stat st;
    if (::lstat(from.c_str(), &st) != 0) return errnoFailure("Cannot copy", from.string(), errno);
    std::error_code ec;
    if (S_ISLNK(st.st_mode)) {
        fs::path target = fs::read_symlink(from, ec);
        if (!ec) fs::create_symlink(target, to, ec);
        if (ec) return fsFailure("Cannot copy to", to.string(), ec);
        return Status::ok();
    }
    if (S_ISREG(st.st_mode)) {
        // A file of an attached image is not written a third time (download, extraction,
        // copy) when the destination can share its data.
        if (modes.fromAttachedImage() && shareData(from, to, modes.modeFor(relative, st))) {
            pauseForTestsAt("copy:file-copied");
            return Status::ok();
        }
        fs::copy_file(from, to, fs::copy_options::none, ec);
        if (ec) return fsFailure("Cannot copy to", to.string(), ec);
        pauseForTestsAt("copy:file-copied");
        if (::chmod(to.c_str(), modes.modeFor(relative, st)) != 0)
            return errnoFailure("Cannot copy to", to.string(), errno);
        return Status::ok();
    }
    if (!S_ISDIR(st.st_mode))
        return Status::failure("Cannot copy \"" + from.string() + "\": not a file, folder or link");
    if (::mkdir(to.c_str(), 0700) != 0) return errnoFailure("Cannot copy to", to.string(), errno);
    for (auto it = fs::directory_iterator(from, ec); !ec && it != fs::directory_iterator();
         it.increment(ec)) {
        fs::path name = it->path().filename();
        if (Status copied = copyTree(it->path(), to / name, relative / name, modes); !copied)
            return copied;
    }
    if (ec) return fsFailure("Cannot copy", from.string(), ec);
    if (::chmod(to.c_str(), modes.modeFor(relative, st)) != 0)
        return errnoFailure("Cannot copy to", to.string(), errno);
    return Status::ok();
}

}  // namespace

FileManager& FileManager::defaultManager() {
    static LinuxFileManager manager;
    return replacedOr(manager);
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
    if (!withIntermediates) {
        if (::mkdir(path.c_str(), 0700) != 0)
            return errnoFailure("Cannot create folder", path, errno);
        return Status::ok();
    }
    // Each missing folder on the way is made here, so that all of them are private.
    fs::path partial;
    for (const fs::path& component : fs::path(path)) {
        partial /= component;
        if (component.empty() || component == "/") continue;
        if (::mkdir(partial.c_str(), 0700) != 0 && errno != EEXIST)
            return errnoFailure("Cannot create folder", path, errno);
    }
    if (!directoryExistsAtPath(path)) return errnoFailure("Cannot create folder", path, ENOTDIR);
    return Status::ok();
}

Status LinuxFileManager::removeItem(const std::string& path) {
    std::string target = withoutTrailingSlash(path);
    struct stat st;
    if (::lstat(target.c_str(), &st) != 0) return errnoFailure("Cannot remove", path, errno);
    if (!S_ISDIR(st.st_mode)) {
        if (::unlink(target.c_str()) != 0) return errnoFailure("Cannot remove", path, errno);
        return Status::ok();
    }
    // Out of the way in one step; the tree goes afterwards.
    std::string leaving = workingSibling(target, kRemovingMark);
    if (renameNoReplace(target, leaving) != 0) return removeTree(target);
    pauseForTestsAt("remove:moved-aside");
    (void)removeTree(leaving);  // what stays is a leftover, removed at a later start
    return Status::ok();
}

Status LinuxFileManager::copyItem(const std::string& source, const std::string& destination) {
    std::string from = withoutTrailingSlash(source);
    std::string to = withoutTrailingSlash(destination);
    if (!fileExistsAtPath(from)) return errnoFailure("Cannot copy", source, ENOENT);
    if (fileExistsAtPath(to)) return errnoFailure("Cannot copy to", destination, EEXIST);
    std::string copying = workingSibling(to, kCopyingMark);
    Status copied = copyTree(from, copying, fs::path(), ModeSource(from));
    if (copied && renameNoReplace(copying, to) != 0)
        copied = errnoFailure("Cannot copy to", destination, errno);
    if (!copied) (void)removeTree(copying);
    return copied;
}

ReplaceResult LinuxFileManager::replaceItem(const std::string& source,
                                            const std::string& destination) {
    std::string from = withoutTrailingSlash(source);
    std::string to = withoutTrailingSlash(destination);
    if (!fileExistsAtPath(from)) return {errnoFailure("Cannot copy", source, ENOENT), false};
    std::string incoming = workingSibling(to, kCopyingMark);
    if (Status copied = copyTree(from, incoming, fs::path(), ModeSource(from)); !copied) {
        (void)removeTree(incoming);
        return {copied, false};
    }
    pauseForTestsAt("replace:copied");
    // After the exchange `incoming` holds the old item, still under its working name.
    if (::renameat2(AT_FDCWD, incoming.c_str(), AT_FDCWD, to.c_str(), RENAME_EXCHANGE) != 0) {
        int error = errno;
        if (error == ENOENT && !fileExistsAtPath(to)) {
            error = renameNoReplace(incoming, to) == 0 ? 0 : errno;
        } else if (error == EINVAL || error == ENOSYS) {
            // No exchange on this file system: the old item is moved aside under a name that a
            // later start puts back should this process die before the new one is in place.
            std::string aside = workingSibling(to, kSwappingMark);
            error = ::rename(to.c_str(), aside.c_str()) == 0 ? 0 : errno;
            if (error == 0 && ::rename(incoming.c_str(), to.c_str()) != 0) {
                error = errno;
                (void)::rename(aside.c_str(), to.c_str());
            }
            if (error == 0) incoming = aside;
        }
        if (error != 0) {
            (void)removeTree(incoming);
            return {errnoFailure("Cannot replace", destination, error), true};
        }
    }
    pauseForTestsAt("replace:swapped");
    if (fileExistsAtPath(incoming)) (void)removeItem(incoming);  // a leftover at worst
    return {Status::ok(), true};
}

std::vector<std::string> LinuxFileManager::removeLeftoversOfEndedProcesses(
    const std::string& folder) {
    std::vector<std::string> cleared;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(folder, ec)) {
        WorkingSibling sibling = parseWorkingSibling(entry.path().filename().string());
        if (!hasEnded(sibling.owner)) continue;
        std::string leftover = entry.path().string();
        if (sibling.mark == kSwappingMark && !sibling.originalName.empty()) {
            std::string original = (fs::path(folder) / sibling.originalName).string();
            if (renameNoReplace(leftover, original) == 0) {
                cleared.push_back(leftover);
                continue;
            }
        }
        if (removeTree(leftover)) cleared.push_back(leftover);
    }
    return cleared;
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

std::optional<unsigned> LinuxFileManager::permissionsOfItem(const std::string& path) const {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) return std::nullopt;
    return static_cast<unsigned>(st.st_mode & 07777);
}

Status LinuxFileManager::setPermissions(const std::string& path, unsigned permissions) {
    if (::chmod(path.c_str(), static_cast<mode_t>(permissions)) != 0)
        return errnoFailure("Cannot change the permissions of", path, errno);
    return Status::ok();
}

Status LinuxFileManager::truncateFile(const std::string& path) {
    if (::truncate(path.c_str(), 0) != 0) return errnoFailure("Cannot truncate", path, errno);
    return Status::ok();
}

Result<std::string> LinuxFileManager::contentsAtPath(const std::string& path) const {
    support::FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd) return errnoFailure("Cannot read", path, errno).failure();
    std::string contents;
    char buffer[64 * 1024];
    for (;;) {
        ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return errnoFailure("Cannot read", path, errno).failure();
        if (n == 0) break;
        contents.append(buffer, static_cast<std::size_t>(n));
    }
    return contents;
}

Status LinuxFileManager::writeContents(const std::string& path, const std::string& bytes) {
    support::FileDescriptor fd(
        ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
    if (!fd) return errnoFailure("Cannot write", path, errno);
    bool written = writeAll(fd.get(), bytes);
    int error = errno;
    if (fd.reset() != 0 && written) {
        written = false;
        error = errno;
    }
    if (!written) return errnoFailure("Cannot write", path, error);
    return Status::ok();
}

// Not g_file_set_contents_full: its temporary file is "<name>.XXXXXX", which the start-up
// sweep could not tell from a customer's own file after a kill, and its mode passes the umask.
Status LinuxFileManager::writeContentsAtomically(const std::string& path, const std::string& bytes,
                                                 bool durable) {
    std::string temporary = workingSibling(path, kCopyingMark);
    support::FileDescriptor fd(
        ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
    if (!fd) return errnoFailure("Cannot write", path, errno);
    (void)::fchmod(fd.get(), 0600);  // exactly, whatever the umask
    bool ok = writeAll(fd.get(), bytes) && (!durable || ::fsync(fd.get()) == 0);
    int error = errno;
    if (fd.reset() != 0 && ok) {
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
    support::FileDescriptor folderFd(
        ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folderFd) ::fsync(folderFd.get());
    return Status::ok();
}

}  // namespace platform
